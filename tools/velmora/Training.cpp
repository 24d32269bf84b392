#include "Training.h"

#include <stdlib.h>

#include <cstdint>
#include <filesystem>

#include "ExitCodes.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"

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
    return g_subspaceModel.m_nPCAEigenUsed;
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

} // namespace velmora_cli
