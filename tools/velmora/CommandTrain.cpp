#include <cstdio>
#include <filesystem>
#include <set>

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
        context.err << "velmora: training (recipe " << (refit ? "refit" : "train") << ") on " << people
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
        JsonWriter w(context.out);
        w.BeginObject();
        w.Key("output").String(options.output);
        w.Key("recipe").String(refit ? "refit" : "train");
        w.Key("samples").Integer(trained.samples);
        w.Key("people").Integer(trained.people);
        w.Key("seconds").Number(trained.seconds);
        if (refit) {
            w.Key("refit_dimension").Integer(trained.refitDimensions);
            w.Key("refit_people").Integer(trained.refitPeople);
            w.Key("refit_faces").Integer(trained.refitFaces);
        }
        w.EndObject();
        context.out << '\n';
    } else {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f", trained.seconds);
        context.out << "wrote model " << options.output << " (recipe " << (refit ? "refit" : "train")
                    << ", trained on " << trained.samples << " samples of " << trained.people << " people in "
                    << time << " s)\n";
    }
    return kExitOk;
}

} // namespace velmora_cli
