// Runs a fuzz program's input function over saved inputs (files, or every file
// below a directory) without libFuzzer, so that the seed corpus and every input
// that once broke a reader are replayed by the ordinary test suite. A missing
// path is skipped: a target may have no regression inputs yet. The count goes to
// stderr, since a program may silence stdout.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
int RunFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size heap copy, so that a read past the end is a real overflow.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) {
            inputs += RunFile(path);
        } else if (std::filesystem::is_directory(path, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file())
                    inputs += RunFile(entry.path());
        }
    }
    std::fprintf(stderr, "replayed %d inputs\n", inputs);
    return 0;
}
