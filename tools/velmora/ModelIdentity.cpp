#include "ModelIdentity.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ExitCodes.h"

namespace velmora_cli {

uint64_t Fnv1a64(const unsigned char* bytes, size_t count, uint64_t state)
{
    constexpr uint64_t kPrime = 0x100000001b3ull;
    for (size_t i = 0; i < count; ++i) {
        state ^= bytes[i];
        state *= kPrime;
    }
    return state;
}

std::string ModelIdentity::Describe() const
{
    return name + " (" + std::to_string(size) + " bytes, " + hash + ")";
}

ModelIdentity IdentifyModel(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CliError(kExitModel, "cannot read the model file " + path);
    std::vector<unsigned char> chunk(1 << 16);
    uint64_t state = kFnvOffset;
    int64_t size = 0;
    while (in) {
        in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = in.gcount();
        state = Fnv1a64(chunk.data(), static_cast<size_t>(got), state);
        size += got;
    }
    if (in.bad())
        throw CliError(kExitModel, "cannot read the model file " + path);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(state));
    ModelIdentity id;
    id.name = std::filesystem::path(path).filename().string();
    id.size = size;
    id.hash = std::string("fnv1a64:") + hex;
    return id;
}

} // namespace velmora_cli
