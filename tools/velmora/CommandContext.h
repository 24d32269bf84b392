#pragma once
// What every command gets: where to write, and the options common to all of them.
#include <ostream>

namespace velmora_cli {

struct CommandContext {
    std::ostream& out;      // results (text or JSON)
    std::ostream& err;      // errors, warnings, progress
    bool json = false;      // results as one JSON document on out
    bool progress = false;  // draw progress bars on err
    bool manyViews = true;  // templates hold six views of each photo's face (Recognizer::MakeTemplate)
    int jobs = 1;           // threads that read photos and find their faces (the photo commands' --jobs)
};

} // namespace velmora_cli
