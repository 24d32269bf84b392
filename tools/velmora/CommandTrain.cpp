#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "CommandOptions.h"
#include "Commands.h"
#include "Dataset.h"
#include "ExitCodes.h"
#include "FaceCollection.h"
#include "FoldTraining.h"
#include "Json.h"
#include "Recognizer.h"
#include "Training.h"

namespace velmora_cli {

namespace {
// Training needs this many people (classes) at least: the template dimension plus ten.
constexpr int kPeopleToTrain = 210;
// Principal components a trained model keeps, and so the most a refit can use.
constexpr int kTrainedComponents = 300;
} // namespace

int RunTrain(const TrainOptions& options, const CommandContext& context)
{
    const bool refit = options.recipe == TrainRecipe::Refit;
    if (!refit && !options.faces.empty())
        throw CliError(kExitUsage, "--faces is only used by --recipe refit");
    if (options.refitDim > kTrainedComponents)
        throw CliError(kExitUsage, "--refit-dim " + std::to_string(options.refitDim) + " exceeds the " +
                                       std::to_string(kTrainedComponents) + " components a trained model keeps");
    TrainingSet set;
    set.path = options.samples;
    set.samples = ReadSampleFile(options.samples);
    std::set<std::string> leaveOut;
    if (options.excludeList.empty()) {
        set.names.assign(set.samples.counts.size(), std::string()); // every person trains
    } else {
        leaveOut = ReadNameList(options.excludeList);
        set.names = ReadNameLines(NamesPathFor(options.samples));
        if (set.names.size() != set.samples.counts.size())
            throw CliError(kExitInput, NamesPathFor(options.samples) + " does not name the " +
                                           std::to_string(set.samples.counts.size()) + " people of " +
                                           options.samples);
    }
    int people = 0;
    for (const std::string& name : set.names)
        people += leaveOut.count(name) == 0 ? 1 : 0;
    if (people < kPeopleToTrain)
        throw CliError(kExitFailure, "training needs at least " + std::to_string(kPeopleToTrain) + " people; " +
                                         options.samples + " holds " + std::to_string(people) +
                                         (leaveOut.empty() ? "" : " once the excluded are left out"));
    if (refit) {
        const std::string facesPath = options.faces.empty() ? FacesPathFor(options.samples) : options.faces;
        set.faces = ReadFaceFile(facesPath).faces;
        if (set.faces.counts != set.samples.counts)
            throw CliError(kExitInput, "the faces of " + facesPath + " do not belong to the samples of " +
                                           options.samples + ": they differ in people or in faces per person");
    }

    Recognizer recognizer(context.err);
    recognizer.PrepareWithoutModel(); // the face mask and Gabor bank the refit's faces go through
    if (!context.json)
        context.err << "velmora: training (recipe " << RecipeName(options.recipe) << ") on " << people
                    << " people; this can take a while\n";
    const ScratchFolder scratch("velmora-train");
    const TrainedFold trained =
        TrainWithout(recognizer, set, leaveOut, {options.recipe, options.refitDim, options.mirror, options.singles, options.maxPerPerson,
                      options.statsOutput},
                     scratch.path(), context.progress);
    if (context.progress)
        context.err << "\r\033[K" << std::flush;
    if (recognizer.velmora().SaveMatrix(options.output) != T_OK) {
        std::error_code ec;
        std::filesystem::remove(options.output, ec);
        throw CliError(kExitFailure, "cannot save the model to " + options.output +
                                         " (too few people or samples for 205 discriminant vectors, or the "
                                         "file cannot be written)");
    }

    if (context.json) {
        Json doc = {{"output", options.output},
                    {"recipe", RecipeName(options.recipe)},
                    {"samples", trained.samples},
                    {"people", trained.people},
                    {"seconds", trained.seconds}};
        if (refit) {
            doc["refit_dimension"] = trained.refitDimensions;
            doc["refit_people"] = trained.refitPeople;
            doc["refit_faces"] = trained.refitFaces;
        }
        PrintJson(context.out, doc);
    } else {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f", trained.seconds);
        context.out << "wrote model " << options.output << " (recipe " << RecipeName(options.recipe)
                    << ", trained on " << trained.samples << " samples of " << trained.people << " people in "
                    << time << " s)\n";
    }
    return kExitOk;
}

RegisteredCommand AddTrain(CLI::App& app, CommandContext& context)
{
    struct Args {
        TrainOptions train;
        std::string recipe = "refit";
    };
    auto args = std::make_shared<Args>();
    TrainOptions& train = args->train;
    CLI::App* command = AddCommand(app, "train", "Train a model from a sample file", context);
    command->add_option("SAMPLES", train.samples, "Sample file written by 'velmora samples'")->required();
    command->add_option("-o,--output", train.output, "Model file to write")->required();
    command
        ->add_option("--recipe", args->recipe,
                     "refit (default): train, then train the discriminant stage again on the faces' first "
                     "principal coefficients; train: both stages as the library's Train leaves them")
        ->check(CLI::IsMember({"train", "refit"}));
    command->add_option("--faces", train.faces, "Normalised faces of the samples, for refit (default: SAMPLES.faces)");
    command->add_option("--refit-dim", train.refitDim,
                        "Principal coefficients the refit uses (default: all of the model's)")
        ->check(CLI::Range(1, 100000));
    command->add_flag("--mirror", train.mirror,
                      "refit: the mirror image of every face joins its person (twice the faces, same people)");
    command->add_flag("--singles", train.singles,
                      "refit: people with one face (samples made with --min-images 1) join the refit only, "
                      "each as its face, its mirror image and the face moved by a pixel four ways");
    command->add_option("--stats", train.statsOutput,
                        "refit: also write the statistics of the refit's faces (an incremental data file), "
                        "with which people can be added later ('velmora increase', 'evaluate orl --adapt')");
    command->add_option("--max-per-person", train.maxPerPerson,
                        "Train on the first this many faces of each person (default 0: all)")
        ->check(CLI::Range(0, 1000000));
    command->add_option("--exclude", train.excludeList,
                        "File of person names (one per line) to leave out, e.g. the people a model is "
                        "calibrated on; needs SAMPLES.names");
    return {command, [args, &context] {
                args->train.recipe = args->recipe == "refit" ? TrainRecipe::Refit : TrainRecipe::Train;
                return RunTrain(args->train, context);
            }};
}

} // namespace velmora_cli
