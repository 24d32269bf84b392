#include "Training.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "ExitCodes.h"
#include "Json.h"
#include "ModelFiles.h"
#include "Recognizer.h"
#include "lda/IncrementalData.h"
#include "recognizer/Engine.h"

namespace velmora_cli {

std::vector<unsigned char*> SamplePointers(const SampleSet& samples)
{
    std::vector<unsigned char*> pointers(static_cast<size_t>(samples.sampleCount()));
    for (size_t i = 0; i < pointers.size(); ++i)
        pointers[i] = const_cast<unsigned char*>(samples.Sample(static_cast<int64_t>(i)));
    return pointers;
}

void AppendClass(SampleSet& samples, const std::vector<unsigned char>& classSamples)
{
    const int64_t length = samples.sampleLength();
    const int64_t n = length > 0 ? static_cast<int64_t>(classSamples.size()) / length : 0;
    if (n < 1 || n * length != static_cast<int64_t>(classSamples.size()) || n > INT32_MAX)
        throw CliError(kExitFailure, "a class needs whole samples of " + std::to_string(length) + " bytes");
    samples.firstSample.push_back(samples.sampleCount());
    samples.counts.push_back(static_cast<int32_t>(n));
    samples.bytes.insert(samples.bytes.end(), classSamples.begin(), classSamples.end());
}

int ClassCount(const SampleSet& samples)
{
    return static_cast<int>(samples.counts.size());
}

int ModelComponentCount()
{
    return velmora::engine::LoadedModel().components;
}

ScratchFolder::ScratchFolder(const std::string& hint)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (hint + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw CliError(kExitInput, "cannot make a scratch folder in " +
                                       std::filesystem::temp_directory_path().string());
    m_path = pattern;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string ScratchFolder::File(const std::string& name) const
{
    return (std::filesystem::path(m_path) / name).string();
}

IncrementalSetup PrepareIncremental(Recognizer& recognizer, const std::string& model,
                                    const std::string& statsFile, int dimOption)
{
    IncrementalSetup setup;
    int statsDim = 0;
    if (!statsFile.empty()) {
        if (!std::filesystem::is_regular_file(statsFile))
            throw CliError(kExitInput, "file not found: " + statsFile);
        if (!ReadIncreaseFileHeader(statsFile.c_str(), &setup.earlierClasses, &statsDim))
            throw CliError(kExitInput, statsFile + " is not an incremental data file, or it is truncated");
        setup.earlierClasses = std::max(setup.earlierClasses, 0);
    }
    setup.modelPath = ResolveModelPath(model);
    recognizer.LoadModel(setup.modelPath);
    const int components = ModelComponentCount();
    setup.dim = dimOption > 0 ? dimOption : (statsDim > 0 ? statsDim : components);
    if (setup.dim > components)
        throw CliError(kExitUsage, "--dim " + std::to_string(setup.dim) + " exceeds the " +
                                       std::to_string(components) + " principal components of " + setup.modelPath);
    if (statsDim > 0 && setup.dim != statsDim)
        throw CliError(kExitUsage, statsFile + " holds statistics of dimension " + std::to_string(statsDim) +
                                       ", not " + std::to_string(setup.dim));
    return setup;
}

void WriteIncrementalJson(std::ostream& out, const std::string& output, const IncrementalSetup& setup,
                          const SampleSet& faces, long imagesWithoutFace, double seconds)
{
    PrintJson(out, {{"output", output},
                    {"model", setup.modelPath},
                    {"people", ClassCount(faces)},
                    {"faces", faces.sampleCount()},
                    {"earlier_people", setup.earlierClasses},
                    {"dimension", setup.dim},
                    {"images_without_face", imagesWithoutFace},
                    {"seconds", seconds}});
}

} // namespace velmora_cli
