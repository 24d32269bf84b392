#pragma once
// Exit codes of the velmora tool. Scripts may rely on them; keep them stable.
#include <stdexcept>
#include <string>

namespace velmora_cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitInput = 3,
    kExitNoFace = 4,
    kExitModel = 5,
    kExitGallery = 6,
    kExitNotEnrolled = 7,
};

// The one statement of what each code means: --help prints it, and a test holds
// the README's table of exit codes to it.
struct ExitCodeMeaning {
    ExitCode code;
    const char* meaning;
};
inline constexpr ExitCodeMeaning kExitCodeMeanings[] = {
    {kExitOk, "done (compare: whatever the decision)"},
    {kExitFailure, "a library operation failed"},
    {kExitUsage, "bad command line"},
    {kExitInput, "an input or output file is missing, unreadable or unwritable"},
    {kExitNoFace, "no face found (detect, enroll, identify: in at least one photo; the rest was done)"},
    {kExitModel, "the model is missing or cannot be loaded"},
    {kExitGallery, "the gallery is damaged, not a gallery, busy, or was built with another model"},
    {kExitNotEnrolled, "gallery remove: the person is not in the gallery (nothing is removed)"},
};

// "Exit codes:" and a line per code, for the foot of every --help.
inline std::string ExitCodeHelp()
{
    std::string help = "Exit codes:\n";
    for (const ExitCodeMeaning& row : kExitCodeMeanings)
        help += "  " + std::to_string(row.code) + "  " + row.meaning + "\n";
    return help;
}

// Carries a plain-words message and the exit code to the top of the tool.
class CliError : public std::runtime_error {
public:
    CliError(ExitCode code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    ExitCode code() const { return m_code; }

private:
    ExitCode m_code;
};

} // namespace velmora_cli
