#include "SampleFile.h"

#include <cmath>

#include "ExitCodes.h"
#include "common/ByteOrder.h"

namespace velmora_cli {

int64_t FeaturesToBytes(const double* features, size_t count, unsigned char* bytes)
{
    int64_t clamped = 0;
    for (size_t i = 0; i < count; ++i) {
        const double v = features[i];
        int value;
        if (std::isnan(v) || v + 0.5 < 0.0) {
            value = 0;
            ++clamped;
        } else if (v + 0.5 >= 256.0) {
            value = 255;
            ++clamped;
        } else {
            value = static_cast<int>(v + 0.5);
        }
        bytes[i] = static_cast<unsigned char>(value);
    }
    return clamped;
}

SampleFileWriter::SampleFileWriter(const std::string& path, int32_t sizeA, int32_t sizeB)
    : m_path(path), m_out(path, std::ios::binary | std::ios::trunc),
      m_sampleLength(static_cast<int64_t>(sizeA) * sizeB), m_sizeA(sizeA), m_sizeB(sizeB)
{
    if (!m_out)
        throw CliError(kExitInput, "cannot create the sample file " + path);
    if (sizeA < 1 || sizeB < 1)
        throw CliError(kExitFailure, "sample sizes must be positive");
    // Counts are not known yet; Finish rewrites them.
    WriteInt(sizeA);
    WriteInt(sizeB);
    WriteInt(0);
    WriteInt(0);
}

void SampleFileWriter::WriteInt(int32_t value)
{
    unsigned char b[4];
    WriteInt32LE(b, value);
    m_out.write(reinterpret_cast<const char*>(b), 4);
}

void SampleFileWriter::AddClass(const std::vector<unsigned char>& samples)
{
    if (samples.empty() || samples.size() % static_cast<size_t>(m_sampleLength) != 0)
        throw CliError(kExitFailure, "a class needs whole samples of " + std::to_string(m_sampleLength) +
                                         " bytes");
    const int64_t n = static_cast<int64_t>(samples.size()) / m_sampleLength;
    if (n > INT32_MAX - m_samples || m_classes == INT32_MAX)
        throw CliError(kExitFailure, "too many samples for one sample file");
    WriteInt(static_cast<int32_t>(n));
    m_out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
    if (!m_out)
        throw CliError(kExitInput, "cannot write to the sample file " + m_path + " (disk full?)");
    m_samples += static_cast<int32_t>(n);
    ++m_classes;
}

void SampleFileWriter::Finish()
{
    m_out.seekp(8);
    WriteInt(m_samples);
    WriteInt(m_classes);
    m_out.close();
    if (!m_out)
        throw CliError(kExitInput, "cannot finish the sample file " + m_path);
}

} // namespace velmora_cli
