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
