// Runs a fuzz program's input function without libFuzzer over saved inputs
// (files, or every file below a directory), so that the seed corpus and every
// input that once broke a reader are replayed by the ordinary test suite. Each
// input is also replayed in simple variants: its shorter prefixes (all of the
// first 256, then eighths), and each of its first 512 bytes (or as many as
// --edit=N says) set to 0, 0x7f, 0x80, 0xff and one above and below its value,
// so the harness's checks meet cut files and hostile header fields in every
// test run, not only while fuzzing. A missing path is skipped: a target
// may have no regression inputs yet. The count goes to stderr, since a program
// may silence stdout.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
// An exact-size heap copy, so that a read past the end is a real overflow.
int Run(const std::vector<uint8_t>& bytes)
{
    const std::vector<uint8_t> copy(bytes);
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
    return 1;
}

int RunFile(const std::filesystem::path& path, size_t edits)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int runs = Run(bytes);
    for (size_t n = 0; n < bytes.size(); n += n < 256 ? 1 : bytes.size() / 8)
        runs += Run(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)));
    for (size_t p = 0; p < std::min(bytes.size(), edits); ++p)
        for (const int value : {0, 0x7f, 0x80, 0xff, bytes[p] + 1, bytes[p] - 1}) {
            std::vector<uint8_t> changed = bytes;
            changed[p] = static_cast<uint8_t>(value);
            runs += Run(changed);
        }
    return runs;
}
} // namespace

int main(int argc, char** argv)
{
    int runs = 0;
    size_t edits = 512;
    for (int i = 1; i < argc; ++i) {
        if (std::sscanf(argv[i], "--edit=%zu", &edits) == 1)
            continue;
        const std::filesystem::path path = argv[i];
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) {
            runs += RunFile(path, edits);
        } else if (std::filesystem::is_directory(path, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file())
                    runs += RunFile(entry.path(), edits);
        }
    }
    std::fprintf(stderr, "replayed %d inputs and variants\n", runs);
    return 0;
}
