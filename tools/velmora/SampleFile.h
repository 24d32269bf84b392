#pragma once
// Writes training sample files: a 16-byte header (two sample sizes, sample
// count, class count; little-endian int32) and one record per class (a count,
// then that many samples of sizeA x sizeB bytes).
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace velmora_cli {

// Feature values become sample bytes: rounded (0.5 added, then truncated) and
// clamped to 0..255. Returns how many values had to be clamped.
int64_t FeaturesToBytes(const double* features, size_t count, unsigned char* bytes);

// Side files written beside a sample file S: S.names (one person's name per
// class, in class order) and S.faces (a sample file of the 64 x 64 normalised
// faces the samples were made from, in the same order).
std::string NamesPathFor(const std::string& samplesPath);
std::string FacesPathFor(const std::string& samplesPath);
void WriteNameList(const std::string& path, const std::vector<std::string>& names);
// The lines of a names file in order; throws CliError (kExitInput) when unreadable.
std::vector<std::string> ReadNameLines(const std::string& path);

// A whole sample file in memory.
struct SampleSet {
    int32_t sizeA = 0;
    int32_t sizeB = 0;
    std::vector<int32_t> counts;       // samples per class
    std::vector<int64_t> firstSample;  // index of each class's first sample
    std::vector<unsigned char> bytes;  // every sample, class by class

    int64_t sampleLength() const { return static_cast<int64_t>(sizeA) * sizeB; }
    int64_t sampleCount() const { return sampleLength() > 0 ? static_cast<int64_t>(bytes.size()) / sampleLength() : 0; }
    const unsigned char* Sample(int64_t index) const { return bytes.data() + index * sampleLength(); }
};
// Reads and checks a sample file (counts against the real file length before
// anything is allocated); throws CliError (kExitInput) when it is missing,
// truncated or inconsistent.
SampleSet ReadSampleFile(const std::string& path);

class SampleFileWriter {
public:
    // Throws CliError (kExitInput) when the file cannot be created.
    SampleFileWriter(const std::string& path, int32_t sizeA, int32_t sizeB);
    SampleFileWriter(const SampleFileWriter&) = delete;
    SampleFileWriter& operator=(const SampleFileWriter&) = delete;

    // One class: samples.size() / (sizeA x sizeB) samples, one after another.
    void AddClass(const std::vector<unsigned char>& samples);
    // Writes the final counts into the header and closes the file.
    void Finish();

    int32_t sampleCount() const { return m_samples; }
    int32_t classCount() const { return m_classes; }

private:
    void WriteInt(int32_t value);

    std::string m_path;
    std::ofstream m_out;
    int64_t m_sampleLength;
    int32_t m_sizeA;
    int32_t m_sizeB;
    int32_t m_samples = 0;
    int32_t m_classes = 0;
};

} // namespace velmora_cli
