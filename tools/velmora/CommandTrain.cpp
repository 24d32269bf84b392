#include <chrono>
#include <cstdio>
#include <fstream>

#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "StdoutRedirect.h"
#include "common/ByteOrder.h"

namespace velmora_cli {

namespace {

struct SampleHeader {
    int32_t sizeA;
    int32_t sizeB;
    int32_t samples;
    int32_t classes;
};

SampleHeader ReadSampleHeader(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CliError(kExitInput, "cannot open the sample file " + path);
    unsigned char bytes[16];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (in.gcount() != static_cast<std::streamsize>(sizeof bytes))
        throw CliError(kExitInput, path + " is too short to be a sample file");
    return {ReadInt32LE(bytes), ReadInt32LE(bytes + 4), ReadInt32LE(bytes + 8), ReadInt32LE(bytes + 12)};
}

[[noreturn]] void ThrowTrainError(enumTError result, const std::string& samples)
{
    switch (result) {
    case T_FILE_ERROR:
        throw CliError(kExitInput, "cannot open the sample file " + samples);
    case T_NO_SAMPLES:
        throw CliError(kExitFailure, "the sample file " + samples + " holds no samples, or memory ran out");
    case T_BAD_ARGUMENT:
        throw CliError(kExitFailure, "training needs at least 210 people in " + samples);
    case T_SAMPLE_FILE_ERROR:
        throw CliError(kExitInput, "the sample file " + samples + " is truncated or its counts do not add up");
    case T_PCA_FAILED:
        throw CliError(kExitFailure, "the principal component training failed");
    case T_LDA_FAILED:
        throw CliError(kExitFailure,
                       "the discriminant training failed (it needs at least 300 samples, and more samples than "
                       "people plus 205)");
    default:
        throw CliError(kExitFailure, "training failed (error " + std::to_string(result) + ")");
    }
}

} // namespace

int RunTrain(const TrainOptions& options, const CommandContext& context)
{
    const SampleHeader header = ReadSampleHeader(options.samples);
    Recognizer recognizer(context.err);
    if (!context.json)
        context.err << "velmora: training on " << header.samples << " samples of " << header.classes
                    << " people; this can take a while\n";

    const auto start = std::chrono::steady_clock::now();
    enumTError result;
    {
        // No new samples beside the file's, but the array pointer must not be null.
        unsigned char* noImages[1] = {nullptr};
        const StdoutRedirect quietCounters(context.progress);
        result = recognizer.velmora().Train(noImages, header.sizeA, header.sizeB, 0, nullptr,
                                            options.samples.c_str());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (context.progress)
        context.err << "\r\033[K" << std::flush;
    if (result != T_OK)
        ThrowTrainError(result, options.samples);
    if (recognizer.velmora().SaveMatrix(options.output.c_str()) != T_OK)
        throw CliError(kExitFailure, "cannot save the model to " + options.output +
                                         " (too few people or samples for 205 discriminant vectors, or the "
                                         "file cannot be written)");

    if (context.json) {
        JsonWriter w(context.out);
        w.BeginObject();
        w.Key("output").String(options.output);
        w.Key("samples").Integer(header.samples);
        w.Key("people").Integer(header.classes);
        w.Key("seconds").Number(seconds);
        w.EndObject();
        context.out << '\n';
    } else {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f", seconds);
        context.out << "wrote model " << options.output << " (trained on " << header.samples << " samples of "
                    << header.classes << " people in " << time << " s)\n";
    }
    return kExitOk;
}

} // namespace velmora_cli
