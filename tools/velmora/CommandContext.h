#pragma once
// What every command gets: where to write, and the options common to all of them.
#include <ostream>

namespace velmora_cli {

struct CommandContext {
    std::ostream& out;      // results (text or JSON)
    std::ostream& err;      // errors, warnings, progress
    bool json = false;      // results as one JSON document on out
    bool progress = false;  // draw progress bars on err
    bool mirrorTemplates = true; // templates hold each photo's face and its mirror image's
    int jobs = 1;           // threads that read photos and find their faces (the photo commands' --jobs)
};

} // namespace velmora_cli
