#include <velmora/Velmora.h>

#include <chrono>
#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "FaceCollection.h"
#include "ModelFiles.h"
#include "Recognizer.h"
#include "Training.h"

namespace velmora_cli {

int RunStats(const StatsOptions& options, const CommandContext& context)
{
    Recognizer recognizer(context.err);
    const IncrementalSetup setup = PrepareIncremental(recognizer, options.model, options.base, options.dim);

    const CollectedFaces collected = CollectFaces(options, recognizer, context);
    const SampleSet& faces = collected.faces;
    // The faces are preprocessed already (as cut), so they are only read.
    std::vector<unsigned char*> images = SamplePointers(faces);
    std::vector<int32_t> counts = faces.counts;
    const auto start = std::chrono::steady_clock::now();
    const enumTError result =
        recognizer.velmora().SaveIncreaseData(images.data(), ClassCount(faces), counts.data(), false, setup.dim,
                                              options.base.empty() ? nullptr : options.base.c_str(),
                                              options.output.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result == T_FILE_ERROR)
        throw CliError(kExitInput, "cannot write the incremental data file " + options.output +
                                       (options.base.empty() ? std::string() : " or read " + options.base));
    if (result != T_OK)
        throw CliError(kExitFailure, "the statistics could not be computed (error " + std::to_string(result) + ")");

    const int64_t faceCount = static_cast<int64_t>(faces.sampleCount());
    if (context.json) {
        WriteIncrementalJson(context.out, options.output, setup, faces, collected.withoutFace, seconds);
    } else {
        context.out << "wrote incremental data " << options.output << ": " << ClassCount(faces) << " people, "
                    << faceCount << " faces, " << setup.dim << " principal components of " << setup.modelPath << '\n';
        if (setup.earlierClasses > 0)
            context.out << "with the " << setup.earlierClasses << " earlier people of " << options.base << " before them\n";
        if (collected.withoutFace > 0)
            context.out << "images without a face: " << collected.withoutFace << " of " << collected.images << '\n';
    }
    return kExitOk;
}

RegisteredCommand AddStats(CLI::App& app, CommandContext& context)
{
    struct Args {
        StatsOptions stats;
        std::string eyes;
    };
    auto args = std::make_shared<Args>();
    CLI::App* command = AddCommand(
        app, "stats", "Write the statistics of people's faces (an incremental data file) for 'velmora increase'",
        context);
    AddDatasetOptions(command, args->stats, args->eyes);
    AddJobsOption(command, context);
    command->add_option("-o,--output", args->stats.output, "Incremental data file to write")->required();
    command->add_option("--append", args->stats.base, "Earlier incremental data file whose people come first");
    command->add_option("--dim", args->stats.dim, "Principal coefficients per face (default: all of the model's)")
        ->check(CLI::Range(1, 100000));
    AddModelOption(command, args->stats.model);
    return {command, [args, &context] {
                args->stats.eyes = OptionalEyes(args->eyes);
                return RunStats(args->stats, context);
            }};
}

} // namespace velmora_cli
