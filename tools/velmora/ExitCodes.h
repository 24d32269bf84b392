#pragma once
// Exit codes of the velmora tool. Scripts may rely on them; keep them stable.
#include <stdexcept>
#include <string>

namespace velmora_cli {

enum ExitCode : int {
    kExitOk = 0,          // done; for compare, also when the faces are judged different
    kExitFailure = 1,     // a library operation failed (training, template creation, ...)
    kExitUsage = 2,       // bad command line: unknown option, missing or malformed argument
    kExitInput = 3,       // an input or output file is missing, unreadable or unwritable
    kExitNoFace = 4,      // no face was found in an image that needs one
    kExitModel = 5,       // the model file is missing or cannot be loaded
    kExitGallery = 6,     // the gallery is damaged, not a gallery, busy, or was built with another model
    kExitNotEnrolled = 7, // gallery remove: a named person is not in the gallery
};

// Carries a plain-words message and the exit code to the top of the tool.
class CliError : public std::runtime_error {
public:
    CliError(ExitCode code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    ExitCode code() const { return m_code; }

private:
    ExitCode m_code;
};

} // namespace velmora_cli
