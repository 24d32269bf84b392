#pragma once
// The velmora subcommands. Each Run function writes its result through the
// context and returns an exit code; errors are thrown as CliError.
#include <optional>
#include <string>
#include <vector>

#include "CommandContext.h"
#include "GreyImage.h"

namespace velmora_cli {

// Runs the tool on a command line (argv[0] is the program name) and returns its exit code.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress);

enum class CompareMode { Max = 1, Mean = 2, Line = 3 };
const char* CompareModeName(CompareMode mode);

struct CompareOptions {
    std::string a;
    std::string b;
    std::string model;            // explicit --model, or empty for the default
    CompareMode mode = CompareMode::Max;
    std::optional<double> threshold;
};
int RunCompare(const CompareOptions& options, const CommandContext& context);

// Parses "LX,LY,RX,RY"; throws CliError (kExitUsage) on anything else.
EyePair ParseEyes(const std::string& text);

} // namespace velmora_cli
