#include <sstream>

#include <CLI/CLI.hpp>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "OrderedPipeline.h"

namespace velmora_cli {

const std::string& ExitCodeFooter()
{
    static const std::string help = ExitCodeHelp();
    return help;
}

CLI::App* AddCommand(CLI::App& app, const char* name, const char* description, CommandContext& context)
{
    CLI::App* command = app.add_subcommand(name, description);
    command->add_flag("--json", context.json, "Print the result as one JSON document on stdout");
    command->footer(ExitCodeFooter());
    return command;
}

void AddSingleVectorOption(CLI::App* command, CommandContext& context)
{
    command->add_flag("--single-vector{false}", context.manyViews,
                      "Templates of one vector per photo (its face alone) instead of six (its face and its mirror "
                      "image's, each also cut with the eyes a pixel further apart and a pixel closer)");
}

void AddJobsOption(CLI::App* command, CommandContext& context)
{
    context.jobs = DefaultJobs();
    command
        ->add_option("--jobs", context.jobs,
                     "Photos read and searched for faces at once, each by a thread of its own (default: all " +
                         std::to_string(DefaultJobs()) + " cores; 1: one after another). Outputs do not depend on it")
        ->check(CLI::Range(1, kMaxJobs));
}

void AddModelOption(CLI::App* command, std::string& model)
{
    command->add_option("-m,--model", model,
                        "Model file (default: $VELMORA_MODEL, else the installed velmora.model)");
}

void AddEyesOption(CLI::App* command, std::string& eyes)
{
    command->add_option("--eyes", eyes, "Eye centres LX,LY,RX,RY in pixels (default: the first face found)");
}

void AddDatasetOptions(CLI::App* command, DatasetOptions& options, std::string& eyes)
{
    command->add_option("INPUT", options.dataset,
                        "Folder holding one folder of photos per person, or a face file ('velmora samples' "
                        "writes SAMPLES.faces)")
        ->required();
    command->add_option("--exclude", options.excludeList,
                        "File of person (folder) names to leave out, one per line (a face file S.faces names its "
                        "people in S.names)");
    command->add_option("--min-images", options.minImages, "Leave out people with fewer usable faces than this")
        ->check(CLI::Range(1, 1000000));
    command->add_option("--max-per-person", options.maxPerPerson, "Use at most this many faces per person (0: all)")
        ->check(CLI::Range(0, 1000000));
    command->add_option("--eyes", eyes, "Eye centres LX,LY,RX,RY used for every photo of a pre-aligned set");
}

CompareMode ParseCompareMode(const std::string& name)
{
    if (name == "mean")
        return CompareMode::Mean;
    if (name == "line")
        return CompareMode::Line;
    return CompareMode::Max;
}

std::optional<EyePair> OptionalEyes(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    return ParseEyes(text);
}

EyePair ParseEyes(const std::string& text)
{
    EyePair eyes;
    char comma1 = 0, comma2 = 0, comma3 = 0;
    std::istringstream in(text);
    in >> eyes.leftX >> comma1 >> eyes.leftY >> comma2 >> eyes.rightX >> comma3 >> eyes.rightY;
    if (!in || comma1 != ',' || comma2 != ',' || comma3 != ',' || (in >> std::ws, !in.eof()))
        throw CliError(kExitUsage, "--eyes wants four whole numbers LX,LY,RX,RY, not '" + text + "'");
    return eyes;
}

namespace {

// A parent of subcommands, which does nothing itself.
CLI::App* AddGroup(CLI::App& app, const char* name, const char* description)
{
    CLI::App* group = app.add_subcommand(name, description);
    group->require_subcommand(1);
    group->footer(ExitCodeFooter());
    return group;
}

using AddFunction = RegisteredCommand (*)(CLI::App&, CommandContext&);

} // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress)
{
    CommandContext context{out, err};
    context.progress = progress;

    CLI::App app{"velmora: find faces, cut them, make and compare face templates, train models.\n"
                 "Images may be JPEG, PNG, BMP or PGM; colour is converted to grey."};
    app.name("velmora");
    app.footer(ExitCodeFooter());
    app.require_subcommand(1);
    app.set_version_flag("--version", "velmora " VELMORA_VERSION);

    // The order of the help texts.
    std::vector<RegisteredCommand> commands;
    for (AddFunction add : {AddDetect, AddCut, AddTemplate, AddCompare, AddSamples, AddTrain, AddStats, AddIncrease,
                            AddEnrol, AddIdentify})
        commands.push_back(add(app, context));
    CLI::App* gallery = AddGroup(app, "gallery", "List the people of a gallery, or remove some");
    for (AddFunction add : {AddGalleryList, AddGalleryRemove})
        commands.push_back(add(*gallery, context));
    CLI::App* evaluate =
        AddGroup(app, "evaluate", "Measure accuracy on a face data set: ORL identification, LFW verification");
    for (AddFunction add : {AddEvaluateOrl, AddEvaluateLfw})
        commands.push_back(add(*evaluate, context));

    if (argc <= 1) {
        out << app.help();
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }

    try {
        for (const RegisteredCommand& command : commands)
            if (command.command->parsed())
                return command.run();
    } catch (const CliError& e) {
        err << "velmora: " << e.what() << '\n';
        return e.code();
    } catch (const std::bad_alloc&) {
        err << "velmora: out of memory\n";
        return kExitFailure;
    }
    return kExitUsage;
}

} // namespace velmora_cli
