#include "FoldTraining.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "ExitCodes.h"
#include "StdoutRedirect.h"
#include "common/ByteOrder.h"
#include "recognizer/Engine.h"

namespace velmora_cli {

TrainingSet LoadTrainingSet(const std::string& samplesPath, bool withFaces)
{
    TrainingSet set;
    set.path = samplesPath;
    set.samples = ReadSampleFile(samplesPath);
    const std::string namesPath = NamesPathFor(samplesPath);
    std::error_code ec;
    if (!std::filesystem::exists(namesPath, ec))
        throw CliError(kExitInput, "the names of the people of " + samplesPath + " are missing: " + namesPath +
                                       " (written by 'velmora samples')");
    set.names = ReadNameLines(namesPath);
    if (set.names.size() != set.samples.counts.size())
        throw CliError(kExitInput, namesPath + " names " + std::to_string(set.names.size()) + " people, " +
                                       samplesPath + " holds " + std::to_string(set.samples.counts.size()));
    if (withFaces) {
        const std::string facesPath = FacesPathFor(samplesPath);
        if (!std::filesystem::exists(facesPath, ec))
            throw CliError(kExitInput, "the refit recipe needs the faces of the samples: " + facesPath +
                                           " is missing (written by 'velmora samples')");
        set.faces = ReadSampleFile(facesPath);
        if (set.faces.counts != set.samples.counts || set.faces.sampleLength() != Recognizer::kNormFaceSide * Recognizer::kNormFaceSide)
            throw CliError(kExitInput, facesPath + " does not hold the 64 x 64 faces of the samples of " + samplesPath);
    }
    return set;
}

TrainedFold TrainWithout(Recognizer& recognizer, TrainingSet& set, const std::set<std::string>& leaveOut,
                         TrainRecipe recipe, int refitDimensions, const std::string& scratchFolder,
                         bool countersToStderr)
{
    std::vector<unsigned char*> samples;
    std::vector<unsigned char*> faces;
    std::vector<int> counts;
    for (size_t c = 0; c < set.samples.counts.size(); ++c) {
        if (leaveOut.count(set.names[c]) != 0)
            continue;
        counts.push_back(set.samples.counts[c]);
        for (int32_t i = 0; i < set.samples.counts[c]; ++i) {
            const int64_t index = set.samples.firstSample[c] + i;
            samples.push_back(set.samples.bytes.data() + index * set.samples.sampleLength());
            if (recipe == TrainRecipe::Refit)
                faces.push_back(set.faces.bytes.data() + index * set.faces.sampleLength());
        }
    }
    TrainedFold result;
    result.people = static_cast<int>(counts.size());
    result.samples = static_cast<long>(samples.size());
    if (samples.empty())
        throw CliError(kExitFailure, "no training samples are left once the fold's people are left out");

    // The samples go to Train in memory, beside a sample file that holds none.
    const std::string emptyFile = (std::filesystem::path(scratchFolder) / "no-samples").string();
    {
        unsigned char header[16];
        WriteInt32LE(header, set.samples.sizeA);
        WriteInt32LE(header + 4, set.samples.sizeB);
        WriteInt32LE(header + 8, 0);
        WriteInt32LE(header + 12, 0);
        std::ofstream out(emptyFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        if (!out)
            throw CliError(kExitInput, "cannot write the scratch file " + emptyFile);
    }
    const auto start = std::chrono::steady_clock::now();
    {
        const StdoutRedirect counters(countersToStderr);
        const enumTError trained = recognizer.velmora().Train(samples.data(), set.samples.sizeA, set.samples.sizeB,
                                                              static_cast<int>(counts.size()), counts.data(), emptyFile);
        if (trained != T_OK)
            throw CliError(kExitFailure, "training on the " + std::to_string(counts.size()) + " people of " + set.path +
                                             " outside the fold failed (error " + std::to_string(trained) +
                                             "; it needs at least 210 people and more samples than people plus 205)");
        if (recipe == TrainRecipe::Refit) {
            // Faces are already normalised as the samples were made: no preprocessing again.
            const int dimensions = refitDimensions > 0 ? refitDimensions : velmora::engine::LoadedModel().components;
            result.refitDimensions = dimensions;
            const std::string refitModel = (std::filesystem::path(scratchFolder) / "refit.model").string();
            const enumTError refit = recognizer.velmora().IncreaseTrain(
                faces.data(), static_cast<int>(counts.size()), counts.data(), 0, false, dimensions, 0, nullptr,
                "", refitModel.c_str());
            if (refit != T_OK)
                throw CliError(kExitFailure, "refitting the discriminant stage on " + std::to_string(dimensions) +
                                                 " components failed (error " + std::to_string(refit) + ")");
        }
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace velmora_cli
