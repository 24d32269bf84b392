#include "TemplateFile.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "ExitCodes.h"
#include "common/ByteOrder.h"

namespace velmora_cli {

namespace {
// Larger than any template the library makes by far; guards the allocation.
constexpr uintmax_t kMaxTemplateFileSize = 64u << 20;
} // namespace

bool LooksLikeTemplate(const TemplateBuffer& bytes)
{
    if (bytes.size() < 8)
        return false;
    const int64_t count = ReadInt32LE(bytes.data());
    const int64_t dimension = ReadInt32LE(bytes.data() + 4);
    if (count < 1 || dimension < 1)
        return false;
    // count x dimension fits in 62 bits, so the byte count cannot overflow.
    return static_cast<uint64_t>(count * dimension) == (bytes.size() - 8) / 8 && (bytes.size() - 8) % 8 == 0;
}

static bool ReadWholeFile(const std::string& path, TemplateBuffer& bytes)
{
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxTemplateFileSize)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return static_cast<uintmax_t>(in.gcount()) == size;
}

bool IsTemplateFile(const std::string& path)
{
    TemplateBuffer bytes;
    return ReadWholeFile(path, bytes) && LooksLikeTemplate(bytes);
}

TemplateBuffer ReadTemplateFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw CliError(kExitInput, "file not found: " + path);
    TemplateBuffer bytes;
    if (!ReadWholeFile(path, bytes))
        throw CliError(kExitInput, "cannot read " + path);
    if (!LooksLikeTemplate(bytes))
        throw CliError(kExitInput, path + " is not a template file (its size does not match its header)");
    return bytes;
}

void WriteTemplateFile(const std::string& path, const TemplateBuffer& buffer)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    if (!out)
        throw CliError(kExitInput, "cannot write the template file " + path);
}

TemplateBuffer JoinTemplates(const std::vector<TemplateBuffer>& parts)
{
    if (parts.empty())
        throw CliError(kExitFailure, "no template to join");
    int64_t total = 0;
    int32_t dimension = 0;
    for (const TemplateBuffer& part : parts) {
        if (!LooksLikeTemplate(part))
            throw CliError(kExitFailure, "cannot join a malformed template");
        const int32_t d = ReadInt32LE(part.data() + 4);
        if (dimension != 0 && d != dimension)
            throw CliError(kExitFailure, "cannot join templates of different dimensions");
        dimension = d;
        total += ReadInt32LE(part.data());
    }
    if (total > INT32_MAX)
        throw CliError(kExitFailure, "too many template vectors");
    TemplateBuffer joined(8);
    WriteInt32LE(joined.data(), static_cast<int32_t>(total));
    WriteInt32LE(joined.data() + 4, dimension);
    for (const TemplateBuffer& part : parts)
        joined.insert(joined.end(), part.begin() + 8, part.end());
    return joined;
}

} // namespace velmora_cli
