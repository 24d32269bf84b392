#include <map>
#include <sstream>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "ExitCodes.h"

namespace velmora_cli {

namespace {

constexpr const char* kExitCodeHelp =
    "Exit codes:\n"
    "  0  done (compare: whatever the decision)\n"
    "  1  a library operation failed\n"
    "  2  bad command line\n"
    "  3  an input or output file is missing, unreadable or unwritable\n"
    "  4  no face found\n"
    "  5  the model is missing or cannot be loaded\n";

void AddJsonFlag(CLI::App* command, CommandContext& context)
{
    command->add_flag("--json", context.json, "Print the result as one JSON document");
}

void AddModelOption(CLI::App* command, std::string& model)
{
    command->add_option("-m,--model", model,
                        "Model file (default: $VELMORA_MODEL, else the installed velmora.model)");
}

CompareMode ParseCompareMode(const std::string& name)
{
    if (name == "mean")
        return CompareMode::Mean;
    if (name == "line")
        return CompareMode::Line;
    return CompareMode::Max;
}

} // namespace

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

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress)
{
    CommandContext context{out, err};
    context.progress = progress;

    CLI::App app{"velmora: find faces, cut them, make and compare face templates, train models."};
    app.name("velmora");
    app.footer(kExitCodeHelp);
    app.require_subcommand(1);
    app.set_version_flag("--version", "velmora 2.3.0");

    // compare
    CompareOptions compare;
    CLI::App* compareCommand = app.add_subcommand(
        "compare", "Score how alike two faces are (0..1) and, with a calibrated model, say same or different");
    compareCommand->add_option("A", compare.a, "First template file")->required();
    compareCommand->add_option("B", compare.b, "Second template file")->required();
    std::string compareMode = "max";
    compareCommand
        ->add_option("--mode", compareMode,
                     "How templates of several vectors are matched: max (best pair, the default), mean "
                     "(against the mean vector) or line (nearest feature line)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    compareCommand->add_option("--threshold", compare.threshold,
                               "Decide same/different at this score instead of the model's calibrated one")
        ->check(CLI::Range(0.0, 1.0));
    AddModelOption(compareCommand, compare.model);
    AddJsonFlag(compareCommand, context);
    compareCommand->footer(kExitCodeHelp);

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
        if (app.got_subcommand(compareCommand)) {
            compare.mode = ParseCompareMode(compareMode);
            return RunCompare(compare, context);
        }
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
