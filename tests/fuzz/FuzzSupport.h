#pragma once
// Shared pieces of the fuzz programs: quiet message handling, scratch files in
// memory-backed storage, and a check that turns a broken invariant into a crash
// the fuzzer reports.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include <velmora/Velmora.h>

#include "support/ScratchDir.h"

#define VELMORA_FUZZ_CHECK(condition)                                                        \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace velmora_fuzz {

// The readers report bad files through messages; thousands a second would only
// slow the fuzzer down.
inline void Quiet()
{
    static const bool installed = [] {
        VelmoraSetMessageHandler([](const char*, void*) {}, nullptr);
        return true;
    }();
    (void)installed;
}

// A file named after the process and a tag, in /dev/shm when it exists (the
// readers take paths, and tmpfs keeps one write per input cheap). Removed on
// destruction.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& tag)
    {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        m_path = std::string(dir) + "/velmora-fuzz-" + std::to_string(getpid()) + "-" + tag;
    }
    ~ScratchFile() { std::remove(m_path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Path() const { return m_path; }

    bool Write(const uint8_t* data, size_t size) const
    {
        return velmora_test::WriteFile(m_path, std::string(reinterpret_cast<const char*>(data), size));
    }
    std::string Read() const { return velmora_test::ReadFile(m_path); }

private:
    std::string m_path;
};

// Saves what was loaded through save(path) and checks that the file is no longer
// than the input (readers ignore what follows) and agrees with its first
// `compared` bytes.
template <class Save>
void CheckWrittenBack(Save save, const uint8_t* data, size_t size, size_t compared = SIZE_MAX)
{
    ScratchFile saved("saved");
    VELMORA_FUZZ_CHECK(save(saved.Path()));
    const std::string bytes = saved.Read();
    VELMORA_FUZZ_CHECK(bytes.size() <= size);
    VELMORA_FUZZ_CHECK(std::memcmp(bytes.data(), data, std::min(compared, bytes.size())) == 0);
}

} // namespace velmora_fuzz
