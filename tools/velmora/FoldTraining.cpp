#include "FoldTraining.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "ExitCodes.h"
#include "FaceAugment.h"
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

namespace {

// The refit's faces: each kept person's faces (and their mirror images), then
// the people seen once, each as its augmented six.
struct RefitFaces {
    std::vector<unsigned char> made; // faces made here; sized up front, as faces point into it
    std::vector<unsigned char*> faces;
    std::vector<int> counts;
};

RefitFaces CollectRefitFaces(TrainingSet& set, const std::vector<size_t>& trained, const std::vector<int>& counts,
                             const std::vector<size_t>& singles, bool mirror)
{
    const int side = Recognizer::kNormFaceSide;
    const size_t length = static_cast<size_t>(set.faces.sampleLength());
    size_t toMake = kAugmentedFaces * singles.size();
    if (mirror)
        for (int n : counts)
            toMake += static_cast<size_t>(n);
    RefitFaces r;
    r.made.resize(toMake * length);
    unsigned char* next = r.made.data();
    auto face = [&](size_t c, int32_t i) {
        return set.faces.bytes.data() + (set.faces.firstSample[c] + i) * set.faces.sampleLength();
    };
    for (size_t k = 0; k < trained.size(); ++k) {
        for (int32_t i = 0; i < counts[k]; ++i)
            r.faces.push_back(face(trained[k], i));
        for (int32_t i = 0; mirror && i < counts[k]; ++i, next += length) {
            MirrorFace(face(trained[k], i), side, next);
            r.faces.push_back(next);
        }
        r.counts.push_back(mirror ? 2 * counts[k] : counts[k]);
    }
    for (size_t c : singles) {
        AugmentFace(face(c, 0), side, next);
        for (int i = 0; i < kAugmentedFaces; ++i, next += length)
            r.faces.push_back(next);
        r.counts.push_back(kAugmentedFaces);
    }
    return r;
}

} // namespace

TrainedFold TrainWithout(Recognizer& recognizer, TrainingSet& set, const std::set<std::string>& leaveOut,
                         const TrainingChoices& choices, const std::string& scratchFolder,
                         bool countersToStderr)
{
    const bool refit = choices.recipe == TrainRecipe::Refit;
    if (!refit && (choices.mirror || choices.singles || !choices.statsFile.empty()))
        throw CliError(kExitUsage, "mirror images, people seen once and statistics files belong to the refit recipe");
    std::vector<unsigned char*> samples;
    std::vector<int> counts;
    std::vector<size_t> trained, singles; // classes of the principal stage; people seen once
    for (size_t c = 0; c < set.samples.counts.size(); ++c) {
        if (leaveOut.count(set.names[c]) != 0)
            continue;
        if (choices.singles && set.samples.counts[c] == 1) {
            singles.push_back(c);
            continue;
        }
        const int32_t n = choices.maxPerPerson > 0 ? std::min(set.samples.counts[c], choices.maxPerPerson)
                                                    : set.samples.counts[c];
        trained.push_back(c);
        counts.push_back(n);
        for (int32_t i = 0; i < n; ++i) {
            const int64_t index = set.samples.firstSample[c] + i;
            samples.push_back(set.samples.bytes.data() + index * set.samples.sampleLength());
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
        const enumTError status = recognizer.velmora().Train(samples.data(), set.samples.sizeA, set.samples.sizeB,
                                                              static_cast<int>(counts.size()), counts.data(), emptyFile);
        if (status != T_OK)
            throw CliError(kExitFailure, "training on the " + std::to_string(counts.size()) + " people of " + set.path +
                                             " outside the fold failed (error " + std::to_string(status) +
                                             "; it needs at least 210 people and more samples than people plus 205)");
        if (refit) {
            // Faces are already normalised as the samples were made: no preprocessing again.
            RefitFaces faces = CollectRefitFaces(set, trained, counts, singles, choices.mirror);
            const int dimensions =
                choices.refitDimensions > 0 ? choices.refitDimensions : velmora::engine::LoadedModel().components;
            result.refitDimensions = dimensions;
            result.refitPeople = static_cast<int>(faces.counts.size());
            result.refitFaces = static_cast<long>(faces.faces.size());
            const std::string refitModel = (std::filesystem::path(scratchFolder) / "refit.model").string();
            const enumTError refitted = recognizer.velmora().IncreaseTrain(
                faces.faces.data(), static_cast<int>(faces.counts.size()), faces.counts.data(), 0, false, dimensions,
                0, nullptr, "", refitModel.c_str());
            if (refitted != T_OK)
                throw CliError(kExitFailure, "refitting the discriminant stage on " + std::to_string(dimensions) +
                                                 " components failed (error " + std::to_string(refitted) + ")");
            if (!choices.statsFile.empty() &&
                recognizer.velmora().SaveIncreaseData(faces.faces.data(), static_cast<int>(faces.counts.size()),
                                                      faces.counts.data(), false, dimensions, nullptr,
                                                      choices.statsFile.c_str()) != T_OK)
                throw CliError(kExitInput, "cannot write the statistics file " + choices.statsFile);
        }
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace velmora_cli
