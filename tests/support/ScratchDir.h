#pragma once
// A scratch folder for test files, removed with its contents at the end of its
// scope. Memory-backed /dev/shm when there is one: some suites write thousands
// of files. The process id and a serial number keep parallel runs apart.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace velmora_test {

class ScratchDir {
public:
    ScratchDir()
    {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        m_dir = base / ("velmora_test_" + std::to_string(::getpid()) + "_" + std::to_string(s_serial++));
        std::filesystem::create_directories(m_dir);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return m_dir / name; }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // Writes the bytes to the named file (replacing it) and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        return Put(name, bytes.data(), bytes.size());
    }
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const
    {
        return Put(name, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string Put(const std::string& name, const char* data, size_t size) const
    {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(data, static_cast<std::streamsize>(size));
        return path;
    }

    std::filesystem::path m_dir;
    static inline int s_serial = 0;
};

} // namespace velmora_test
