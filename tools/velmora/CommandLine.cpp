#include <sstream>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "ExitCodes.h"

namespace velmora_cli {

namespace {

const std::string kExitCodeHelp = ExitCodeHelp();

CLI::App* AddCommand(CLI::App& app, const char* name, const char* description, CommandContext& context)
{
    CLI::App* command = app.add_subcommand(name, description);
    command->add_flag("--json", context.json, "Print the result as one JSON document on stdout");
    command->footer(kExitCodeHelp);
    return command;
}

// For the commands that make templates of photos.
void AddSingleVectorOption(CLI::App* command, CommandContext& context)
{
    command->add_flag("--single-vector{false}", context.mirrorTemplates,
                      "Templates of one vector per photo (its face alone) instead of two (its face and its mirror "
                      "image's)");
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

// Options that choose people and faces from a folder of person folders (or a face file).
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

    CLI::App app{"velmora: find faces, cut them, make and compare face templates, train models.\n"
                 "Images may be JPEG, PNG, BMP or PGM; colour is converted to grey."};
    app.name("velmora");
    app.footer(kExitCodeHelp);
    app.require_subcommand(1);
    app.set_version_flag("--version", "velmora " VELMORA_VERSION);

    DetectOptions detect;
    CLI::App* detectCommand = AddCommand(app, "detect", "Find the faces in images and the centres of their eyes",
                                         context);
    detectCommand->add_option("IMAGE", detect.images, "Image files")->required();
    detectCommand->add_option("--draw", detect.draw, "Write a copy of the (single) image with the eyes marked");

    CutOptions cut;
    std::vector<std::string> cutEyes;
    CLI::App* cutCommand =
        AddCommand(app, "cut", "Cut the normalised 64 x 64 face (or a display face) out of images", context);
    cutCommand->add_option("IMAGE", cut.images, "Image files")->required();
    cutCommand->add_option("-o,--output", cut.output,
                           "Face image to write (.png, .pgm, .bmp); for several images a folder, where "
                           "face N is written as N_<image name>.png")
        ->required();
    cutCommand->add_option("--eyes", cutEyes,
                           "Eye centres LX,LY,RX,RY in pixels: once for every image, or once per image in "
                           "order (default: the first face found in each)")
        ->allow_extra_args(false)
        ->take_all();
    cutCommand->add_option("--display", cut.displayWidth,
                           "Cut a display face of this width (height = width x 28/23) instead");

    TemplateOptions templ;
    std::string templateEyes;
    CLI::App* templateCommand = AddCommand(
        app, "template", "Make a template file from a face photo (several photos: one vector each)", context);
    templateCommand->add_option("IMAGE", templ.images, "Image files of one person")->required();
    templateCommand->add_option("-o,--output", templ.output, "Template file to write")->required();
    templateCommand->add_option("--eyes", templateEyes,
                                "Eye centres LX,LY,RX,RY used for every image (default: the first face found "
                                "in each)");
    AddModelOption(templateCommand, templ.model);
    AddSingleVectorOption(templateCommand, context);

    CompareOptions compare;
    std::string compareMode = "max";
    CLI::App* compareCommand = AddCommand(
        app, "compare", "Score how alike two faces are (0..1) and, with a calibrated model, say same or different",
        context);
    compareCommand->add_option("A", compare.a, "First image or template file")->required();
    compareCommand->add_option("B", compare.b, "Second image or template file")->required();
    compareCommand
        ->add_option("--mode", compareMode,
                     "How templates of several vectors are matched: max (best pair, the default), mean "
                     "(against the mean vector) or line (nearest feature line)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    compareCommand->add_option("--threshold", compare.threshold,
                               "Decide same/different at this score instead of the model's calibrated one")
        ->check(CLI::Range(0.0, 1.0));
    AddModelOption(compareCommand, compare.model);
    AddSingleVectorOption(compareCommand, context);

    SamplesOptions samples;
    CLI::App* samplesCommand = AddCommand(
        app, "samples", "Write a training sample file from a folder holding one folder of photos per person",
        context);
    samplesCommand->add_option("DATASET_DIR", samples.dataset, "Folder of person folders")->required();
    samplesCommand->add_option("-o,--output", samples.output, "Sample file to write")->required();
    samplesCommand->add_option("--exclude", samples.excludeList,
                               "File of person (folder) names to leave out, one per line");
    samplesCommand->add_option("--min-images", samples.minImages,
                               "Leave out people with fewer usable faces than this")
        ->check(CLI::Range(1, 1000000));
    samplesCommand->add_option("--max-per-person", samples.maxPerPerson,
                               "Use at most this many faces per person (0: all)")
        ->check(CLI::Range(0, 1000000));

    std::string samplesEyes;
    samplesCommand->add_option("--eyes", samplesEyes,
                               "Eye centres LX,LY,RX,RY used for every photo of a pre-aligned set, instead "
                               "of finding the faces");

    TrainOptions train;
    CLI::App* trainCommand = AddCommand(app, "train", "Train a model from a sample file", context);
    trainCommand->add_option("SAMPLES", train.samples, "Sample file written by 'velmora samples'")->required();
    trainCommand->add_option("-o,--output", train.output, "Model file to write")->required();
    std::string recipe = "train";
    trainCommand
        ->add_option("--recipe", recipe,
                     "train: principal and discriminant stages as the library trains them; refit: then "
                     "train the discriminant stage again on the faces' first principal coefficients")
        ->check(CLI::IsMember({"train", "refit"}));
    trainCommand->add_option("--faces", train.faces,
                             "Normalised faces of the samples, for refit (default: SAMPLES.faces)");
    trainCommand->add_option("--refit-dim", train.refitDim,
                             "Principal coefficients the refit uses (default: all of the model's)")
        ->check(CLI::Range(1, 100000));
    trainCommand->add_flag("--mirror", train.mirror,
                           "refit: the mirror image of every face joins its person (twice the faces, same people)");
    trainCommand->add_flag("--singles", train.singles,
                           "refit: people with one face (samples made with --min-images 1) join the refit only, "
                           "each as its face, its mirror image and the face moved by a pixel four ways");
    trainCommand->add_option("--stats", train.statsOutput,
                             "refit: also write the statistics of the refit's faces (an incremental data file), "
                             "with which people can be added later ('velmora increase', 'evaluate orl --adapt')");
    trainCommand->add_option("--max-per-person", train.maxPerPerson,
                             "Train on the first this many faces of each person (default 0: all)")
        ->check(CLI::Range(0, 1000000));
    trainCommand->add_option("--exclude", train.excludeList,
                             "File of person names (one per line) to leave out, e.g. the people a model is "
                             "calibrated on; needs SAMPLES.names");

    StatsOptions stats;
    std::string statsEyes;
    CLI::App* statsCommand = AddCommand(
        app, "stats", "Write the statistics of people's faces (an incremental data file) for 'velmora increase'",
        context);
    AddDatasetOptions(statsCommand, stats, statsEyes);
    statsCommand->add_option("-o,--output", stats.output, "Incremental data file to write")->required();
    statsCommand->add_option("--append", stats.base, "Earlier incremental data file whose people come first");
    statsCommand->add_option("--dim", stats.dim, "Principal coefficients per face (default: all of the model's)")
        ->check(CLI::Range(1, 100000));
    AddModelOption(statsCommand, stats.model);

    IncreaseOptions increase;
    std::string increaseEyes;
    CLI::App* increaseCommand = AddCommand(
        app, "increase",
        "Retrain a model's discriminant stage with new people, keeping its principal components", context);
    AddDatasetOptions(increaseCommand, increase, increaseEyes);
    increaseCommand->add_option("-o,--output", increase.output, "Model file to write")->required();
    increaseCommand->add_option("--stats", increase.stats,
                                "Incremental data file of earlier people ('velmora stats'; default: none, the "
                                "new people alone)");
    increaseCommand->add_option("--dim", increase.dim,
                                "Principal coefficients the discriminant stage uses (default: the stats file's, "
                                "else all of the model's)")
        ->check(CLI::Range(1, 100000));
    AddModelOption(increaseCommand, increase.model);

    EnrolOptions enrol;
    std::string enrolEyes;
    CLI::App* enrolCommand = AddCommand(
        app, "enroll", "Add people to a gallery: photos of one person, or one folder of photos per person", context);
    enrolCommand->alias("enrol");
    enrolCommand->add_option("--gallery", enrol.gallery, "Gallery file (SQLite; made when missing)")->required();
    enrolCommand->add_option("NAME", enrol.name, "The person the photos show (a known name adds vectors)");
    enrolCommand->add_option("IMAGE", enrol.images, "Photos of that person (or template files)");
    enrolCommand->add_option("--folders", enrol.folders,
                             "Instead of NAME and photos: enrol every subfolder of this folder as one person, "
                             "named after the folder");
    enrolCommand->add_option("--images", enrol.numbers,
                             "With --folders: the photo numbers to use, e.g. 1-5 or 1,3,7-9 (the number that "
                             "ends a file name: 3.pgm, Ann_Lee_0003.jpg)");
    AddEyesOption(enrolCommand, enrolEyes);
    AddModelOption(enrolCommand, enrol.model);
    AddSingleVectorOption(enrolCommand, context);
    enrolCommand->footer(std::string("Examples:\n"
                                     "  velmora enroll --gallery staff.db \"Ann Lee\" ann1.jpg ann2.jpg\n"
                                     "  velmora enroll --gallery orl.db --folders data/orl --images 1-5\n"
                                     "One template per person holds a vector per photo. A photo without a face is "
                                     "skipped (exit code 4).\nThe gallery remembers its model and refuses "
                                     "another one.\n\n") +
                         kExitCodeHelp);

    IdentifyOptions identify;
    std::string identifyEyes;
    std::string identifyMode = "max";
    CLI::App* identifyCommand =
        AddCommand(app, "identify", "Tell who is in photos: the best matching people of a gallery", context);
    identifyCommand->add_option("--gallery", identify.gallery, "Gallery file made by 'velmora enroll'")->required();
    identifyCommand->add_option("IMAGE", identify.images, "Photos (or template files) to identify");
    identifyCommand->add_option("--folders", identify.folders,
                                "Instead of photos: the photos of every person folder of this folder; the "
                                "folder's name is the right answer, and the rank-1 rate is reported");
    identifyCommand->add_option("--images", identify.numbers, "With --folders: the photo numbers to use, e.g. 6-10");
    identifyCommand->add_option("--top", identify.top, "Show the N best matching people (default 1)")
        ->check(CLI::Range(1, 1000000));
    identifyCommand
        ->add_option("--mode", identifyMode,
                     "How a probe is matched with a person's vectors: max (best vector, the default), mean "
                     "(their mean) or line (nearest feature line)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    identifyCommand->add_option("--threshold", identify.threshold,
                                "Answer 'unknown' below this score instead of the model's calibrated threshold")
        ->check(CLI::Range(0.0, 1.0));
    AddEyesOption(identifyCommand, identifyEyes);
    AddModelOption(identifyCommand, identify.model);
    AddSingleVectorOption(identifyCommand, context);
    identifyCommand->footer(std::string("Examples:\n"
                                        "  velmora identify --gallery staff.db visitor.jpg --top 3\n"
                                        "  velmora identify --gallery orl.db --folders data/orl --images 6-10\n"
                                        "The answer is the best person when the score reaches the threshold, "
                                        "else 'unknown'.\n\n") +
                            kExitCodeHelp);

    CLI::App* galleryCommand = app.add_subcommand("gallery", "List the people of a gallery, or remove some");
    galleryCommand->require_subcommand(1);
    galleryCommand->footer(kExitCodeHelp);
    std::string listGallery;
    CLI::App* listCommand = AddCommand(*galleryCommand, "list", "List the people of a gallery", context);
    listCommand->add_option("--gallery", listGallery, "Gallery file")->required();
    std::string removeGallery;
    std::vector<std::string> removeNames;
    CLI::App* removeCommand =
        AddCommand(*galleryCommand, "remove", "Remove people from a gallery (all or none)", context);
    removeCommand->add_option("--gallery", removeGallery, "Gallery file")->required();
    removeCommand->add_option("NAME", removeNames, "The people to remove")->required();

    CLI::App* evaluateCommand =
        app.add_subcommand("evaluate", "Measure accuracy on a face data set: ORL identification, LFW verification");
    evaluateCommand->require_subcommand(1);
    evaluateCommand->footer(kExitCodeHelp);

    EvaluateOrlOptions orl;
    std::string orlEyes, orlMode = "max";
    CLI::App* orlCommand = AddCommand(
        *evaluateCommand, "orl",
        "Rank-1 identification: enrol some photos of every person (in memory), identify the others", context);
    orlCommand->add_option("DIR", orl.folder, "Folder of person folders with numbered photos (ORL: s1..s40, 1.pgm..10.pgm)")
        ->required();
    orlCommand->add_option("--enroll", orl.enrolNumbers, "Photo numbers to enrol (default 1-5)");
    orlCommand->add_option("--probe", orl.probeNumbers, "Photo numbers to identify (default 6-10)");
    orlCommand->add_option("--mode", orlMode, "Matching of a probe with a person's vectors: max, mean or line")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    orlCommand->add_option("--csv", orl.csv, "Write every probe's answer and score to this CSV file");
    orlCommand->add_flag("--adapt", orl.adapt,
                         "First add the enrolled people to the model's discriminant stage (IncreaseTrain on the "
                         "statistics of the model's own training): each enrolment face, its mirror image and the "
                         "face moved by a pixel four ways");
    orlCommand->add_option("--stats", orl.stats,
                           "With --adapt: the statistics of the model's training (default: MODEL.stats, written by "
                           "'velmora train --stats')");
    AddEyesOption(orlCommand, orlEyes);
    std::string orlFallback;
    orlCommand->add_option("--fallback-eyes", orlFallback,
                           "Eye centres for photos whose face is not found (else an enrolment photo is left out "
                           "and a probe counts as wrong)");
    AddModelOption(orlCommand, orl.model);
    AddSingleVectorOption(orlCommand, context);
    orlCommand->footer(std::string("Example:\n  velmora evaluate orl data/orl --csv orl.csv\n"
                                   "A probe whose face is not found counts as wrong.\n\n") +
                       kExitCodeHelp);

    EvaluateLfwOptions lfw;
    std::string lfwEyes, lfwFallback, lfwMode = "max";
    CLI::App* lfwCommand = AddCommand(
        *evaluateCommand, "lfw",
        "Verification on pairs: accuracy per fold (threshold from the other folds), EER, TAR at FAR 1e-2 and 1e-3",
        context);
    lfwCommand->add_option("DIR", lfw.folder, "Photo folder: Name/Name_0001.jpg ..., or any folder per person whose file names end in the photo number (s7/3.pgm)")->required();
    lfwCommand->add_option("PAIRS", lfw.pairs, "Pairs list (pairs_dev.txt format: folds of same then different pairs)")
        ->required();
    AddModelOption(lfwCommand, lfw.model);
    AddSingleVectorOption(lfwCommand, context);
    lfwCommand->add_option("--train-samples", lfw.trainSamples,
                           "Instead of one model: for each fold, train on every person of this sample file (from "
                           "'velmora samples', with its .names file) who is not in the fold");
    lfwCommand->add_option("--recipe", lfw.recipe,
                           "With --train-samples: train (Train alone) or refit (Train, then IncreaseTrain on the same "
                           "faces without earlier statistics; needs the .faces file)")
        ->check(CLI::IsMember({"train", "refit"}));
    lfwCommand->add_option("--refit-dims", lfw.refitDimensions,
                           "With --recipe refit: principal components the discriminant stage is refit on (default 0: "
                           "all the model has)")
        ->check(CLI::Range(0, 100000));
    lfwCommand->add_flag("--train-mirror", lfw.trainMirror, "With --recipe refit: as 'velmora train --mirror'");
    lfwCommand->add_flag("--train-singles", lfw.trainSingles, "With --recipe refit: as 'velmora train --singles'");
    lfwCommand->add_option("--folds", lfw.folds,
                           "Folds to evaluate, e.g. 1-5 or 5 (default all). With one fold its own equal-error "
                           "threshold is used and reported, which is how a model is calibrated");
    lfwCommand->add_option("--mode", lfwMode, "Comparison mode: max, mean or line (one vector per photo: all alike)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    lfwCommand->add_option("--csv", lfw.csv, "Write every pair's score to this CSV file (fold, pair, same, score, ...)");
    lfwCommand->add_option("--roc", lfw.roc, "Draw the ROC curves into this SVG file");
    lfwCommand->add_flag("--calibrate", lfw.calibrate,
                         "Write the equal-error threshold of the evaluated pairs beside the model (MODEL.json), where "
                         "compare and identify find it");
    lfwCommand->add_option("--eyes", lfwEyes,
                           "Eye centres LX,LY,RX,RY for every photo instead of finding the face (aligned sets)");
    lfwCommand->add_option("--fallback-eyes", lfwFallback,
                           "Eye centres for photos whose face is not found (else their pairs score 0)");
    lfwCommand->footer(std::string("Examples:\n"
                                   "  velmora evaluate lfw data/lfw data/lfw/pairs_dev.txt --model m.model --csv s.csv "
                                   "--roc roc.svg\n"
                                   "  velmora evaluate lfw data/lfw data/lfw/pairs_dev.txt --train-samples lfw.samples "
                                   "--recipe refit\n"
                                   "  velmora evaluate lfw data/lfw data/lfw/pairs_dev.txt --model m.model --folds 5 "
                                   "--calibrate\n"
                                   "With one fixed model the thresholds of several folds are only fair when the model "
                                   "was not trained on their people.\n"
                                   "FAR 1e-3 on 300 different-person pairs means no false accept at all.\n\n") +
                       kExitCodeHelp);

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
        if (app.got_subcommand(detectCommand))
            return RunDetect(detect, context);
        if (app.got_subcommand(cutCommand)) {
            for (const std::string& text : cutEyes)
                cut.eyes.push_back(ParseEyes(text));
            return RunCut(cut, context);
        }
        if (app.got_subcommand(templateCommand)) {
            templ.eyes = OptionalEyes(templateEyes);
            return RunTemplate(templ, context);
        }
        if (app.got_subcommand(compareCommand)) {
            compare.mode = ParseCompareMode(compareMode);
            return RunCompare(compare, context);
        }
        if (app.got_subcommand(samplesCommand)) {
            samples.eyes = OptionalEyes(samplesEyes);
            return RunSamples(samples, context);
        }
        if (app.got_subcommand(trainCommand)) {
            train.recipe = recipe == "refit" ? TrainRecipe::Refit : TrainRecipe::Train;
            return RunTrain(train, context);
        }
        if (app.got_subcommand(enrolCommand)) {
            enrol.eyes = OptionalEyes(enrolEyes);
            return RunEnrol(enrol, context);
        }
        if (app.got_subcommand(identifyCommand)) {
            identify.eyes = OptionalEyes(identifyEyes);
            identify.mode = ParseCompareMode(identifyMode);
            return RunIdentify(identify, context);
        }
        if (evaluateCommand->got_subcommand(orlCommand)) {
            orl.eyes = OptionalEyes(orlEyes);
            orl.fallbackEyes = OptionalEyes(orlFallback);
            orl.mode = ParseCompareMode(orlMode);
            return RunEvaluateOrl(orl, context);
        }
        if (evaluateCommand->got_subcommand(lfwCommand)) {
            lfw.eyes = OptionalEyes(lfwEyes);
            lfw.fallbackEyes = OptionalEyes(lfwFallback);
            lfw.mode = ParseCompareMode(lfwMode);
            return RunEvaluateLfw(lfw, context);
        }
        if (galleryCommand->got_subcommand(listCommand))
            return RunGalleryList(listGallery, context);
        if (galleryCommand->got_subcommand(removeCommand))
            return RunGalleryRemove(removeGallery, removeNames, context);
        if (app.got_subcommand(statsCommand)) {
            stats.eyes = OptionalEyes(statsEyes);
            return RunStats(stats, context);
        }
        if (app.got_subcommand(increaseCommand)) {
            increase.eyes = OptionalEyes(increaseEyes);
            return RunIncrease(increase, context);
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
