#include <velmora/Velmora.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "FaceCollection.h"
#include "ModelFiles.h"
#include "Recognizer.h"
#include "Training.h"

namespace velmora_cli {

int RunIncrease(const IncreaseOptions& options, const CommandContext& context)
{
    Recognizer recognizer(context.err);
    const IncrementalSetup setup = PrepareIncremental(recognizer, options.model, options.stats, options.dim);

    const CollectedFaces collected = CollectFaces(options, recognizer, context);
    const SampleSet& faces = collected.faces;
    std::vector<unsigned char*> images = SamplePointers(faces);
    std::vector<int32_t> counts = faces.counts;
    if (context.progress)
        context.err << "velmora: training the discriminant stage on " << faces.sampleCount() << " faces\n";

    // IncreaseTrain saves every discriminant vector it finds; the model is saved
    // once more with the number that templates and Train's models use.
    const ScratchFolder scratch("velmora-increase");
    const auto start = std::chrono::steady_clock::now();
    const enumTError result = recognizer.velmora().IncreaseTrain(
        images.data(), ClassCount(faces), counts.data(), 0, false, setup.dim, 0, nullptr, options.stats.c_str(),
        scratch.File("all-vectors.model").c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result == T_NO_SAMPLES)
        throw CliError(kExitFailure, "no faces to train on, or memory ran out");
    if (result != T_OK)
        throw CliError(kExitFailure, "the discriminant training failed: it needs more faces than people, and "
                                     "the incremental data must come from the same model ('velmora stats')");
    if (recognizer.velmora().SaveMatrix(options.output) != T_OK) {
        std::error_code ec;
        std::filesystem::remove(options.output, ec);
        throw CliError(kExitFailure, "cannot save the model to " + options.output +
                                         " (fewer than 205 discriminant vectors: the model needs at least 206 "
                                         "people in all, and 205 more faces than people; or the file cannot be "
                                         "written)");
    }

    const int64_t faceCount = static_cast<int64_t>(faces.sampleCount());
    if (context.json) {
        WriteIncrementalJson(context.out, options.output, setup, faces, collected.withoutFace, seconds);
    } else {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f", seconds);
        context.out << "wrote model " << options.output << ": discriminant stage of " << setup.dim
                    << " principal components trained on " << ClassCount(faces) << " new people (" << faceCount
                    << " faces)";
        if (setup.earlierClasses > 0)
            context.out << " and " << setup.earlierClasses << " earlier people from " << options.stats;
        context.out << " in " << time << " s\n";
    }
    return kExitOk;
}

RegisteredCommand AddIncrease(CLI::App& app, CommandContext& context)
{
    struct Args {
        IncreaseOptions increase;
        std::string eyes;
    };
    auto args = std::make_shared<Args>();
    CLI::App* command = AddCommand(
        app, "increase",
        "Retrain a model's discriminant stage with new people, keeping its principal components", context);
    AddDatasetOptions(command, args->increase, args->eyes);
    AddJobsOption(command, context);
    command->add_option("-o,--output", args->increase.output, "Model file to write")->required();
    command->add_option("--stats", args->increase.stats,
                        "Incremental data file of earlier people ('velmora stats'; default: none, the "
                        "new people alone)");
    command->add_option("--dim", args->increase.dim,
                        "Principal coefficients the discriminant stage uses (default: the stats file's, "
                        "else all of the model's)")
        ->check(CLI::Range(1, 100000));
    AddModelOption(command, args->increase.model);
    return {command, [args, &context] {
                args->increase.eyes = OptionalEyes(args->eyes);
                return RunIncrease(args->increase, context);
            }};
}

} // namespace velmora_cli
