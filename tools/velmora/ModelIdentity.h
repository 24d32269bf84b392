#pragma once
// What identifies a model file for a gallery: templates made with one model
// mean nothing to another, so a gallery remembers the model it was built with.
#include <cstdint>
#include <string>

namespace velmora_cli {

struct ModelIdentity {
    std::string name;  // the file's name, for messages
    int64_t size = 0;  // bytes
    std::string hash;  // "fnv1a64:" and 16 hex digits of the file's bytes

    // Two identities are the same model when size and hash agree; the name may differ.
    bool SameModel(const ModelIdentity& other) const { return size == other.size && hash == other.hash; }
    std::string Describe() const;
};

// Reads the whole file; throws CliError (kExitModel) when it cannot be read.
ModelIdentity IdentifyModel(const std::string& path);

// The 64-bit FNV-1a hash, continued from `state` (start with kFnvOffset).
constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
uint64_t Fnv1a64(const unsigned char* bytes, size_t count, uint64_t state);

} // namespace velmora_cli
