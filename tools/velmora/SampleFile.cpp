#include "SampleFile.h"

#include <cmath>
#include <filesystem>

#include <optional>

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

std::string NamesPathFor(const std::string& samplesPath)
{
    return samplesPath + ".names";
}

std::string FacesPathFor(const std::string& samplesPath)
{
    return samplesPath + ".faces";
}

void WriteNameList(const std::string& path, const std::vector<std::string>& names)
{
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& name : names)
        out << name << '\n';
    out.close();
    if (!out)
        throw CliError(kExitInput, "cannot write the name list " + path);
}

std::vector<std::string> ReadNameLines(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw CliError(kExitInput, "cannot read the name list " + path);
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        names.push_back(line);
    }
    return names;
}

SampleSet ReadSampleFile(const std::string& path)
{
    std::error_code ec;
    const uintmax_t fileSize = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in)
        throw CliError(kExitInput, "cannot open the sample file " + path);
    auto damaged = [&path](const std::string& why) {
        return CliError(kExitInput, "the sample file " + path + " is damaged: " + why);
    };
    auto readInt = [&in]() -> std::optional<int32_t> {
        unsigned char b[4];
        in.read(reinterpret_cast<char*>(b), 4);
        if (in.gcount() != 4)
            return std::nullopt;
        return ReadInt32LE(b);
    };
    const auto a = readInt(), b = readInt(), ns = readInt(), nf = readInt();
    if (!nf)
        throw damaged("shorter than its 16-byte header");
    if (*a < 1 || *b < 1 || *ns < 0 || *nf < 0)
        throw damaged("negative or zero sizes in its header");
    SampleSet set;
    set.sizeA = *a;
    set.sizeB = *b;
    const uint64_t length = static_cast<uint64_t>(*a) * static_cast<uint64_t>(*b);
    // Every count and sample must fit in the bytes the file really has.
    if (length > fileSize || static_cast<uint64_t>(*ns) > fileSize / length ||
        16 + 4 * static_cast<uint64_t>(*nf) + static_cast<uint64_t>(*ns) * length > fileSize)
        throw damaged("its header announces more than the file holds");
    set.bytes.resize(static_cast<size_t>(*ns) * static_cast<size_t>(length));
    int64_t read = 0;
    for (int32_t c = 0; c < *nf; ++c) {
        const auto count = readInt();
        if (!count)
            throw damaged("it ends inside the class records");
        if (*count < 1 || *count > *ns - read)
            throw damaged("its class counts do not add up to its sample count");
        const std::streamsize want = static_cast<std::streamsize>(*count) * static_cast<std::streamsize>(length);
        in.read(reinterpret_cast<char*>(set.bytes.data() + read * static_cast<int64_t>(length)), want);
        if (in.gcount() != want)
            throw damaged("it ends inside a sample");
        set.counts.push_back(*count);
        set.firstSample.push_back(read);
        read += *count;
    }
    if (read != *ns)
        throw damaged("its class counts do not add up to its sample count");
    return set;
}

} // namespace velmora_cli
