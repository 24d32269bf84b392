#pragma once
// Command-line pieces the subcommands share when they register themselves.
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "Commands.h"

namespace velmora_cli {

// The list of exit codes every help text ends with.
const std::string& ExitCodeFooter();

// A subcommand with --json and the exit-code footer.
CLI::App* AddCommand(CLI::App& app, const char* name, const char* description, CommandContext& context);

// For the commands that make templates of photos.
void AddSingleVectorOption(CLI::App* command, CommandContext& context);

// --jobs, for the commands that read many photos.
void AddJobsOption(CLI::App* command, CommandContext& context);

void AddModelOption(CLI::App* command, std::string& model);
void AddEyesOption(CLI::App* command, std::string& eyes);

// Options that choose people and faces from a folder of person folders (or a face file).
void AddDatasetOptions(CLI::App* command, DatasetOptions& options, std::string& eyes);

// Names already checked by the option's validator; anything else is max.
CompareMode ParseCompareMode(const std::string& name);

// Nothing for an empty text.
std::optional<EyePair> OptionalEyes(const std::string& text);

} // namespace velmora_cli
