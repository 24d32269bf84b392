#pragma once
// Whole files in and out, and a scratch folder removed with its contents at the
// end of its scope: in memory-backed /dev/shm when there is one, since some
// suites write thousands of files; the process id and a serial number keep
// parallel runs apart.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace velmora_test {

using Bytes = std::vector<unsigned char>;

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes ReadBytes(const std::string& path)
{
    const std::string s = ReadFile(path);
    return Bytes(s.begin(), s.end());
}

// Whether the bytes were written.
inline bool WriteFile(const std::string& path, const std::string& bytes)
{
    return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes);
}

inline bool WriteFile(const std::string& path, const Bytes& bytes)
{
    return WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

inline Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

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

    std::string operator/(const std::string& name) const { return (m_dir / name).string(); }
    const std::filesystem::path& path() const { return m_dir; }

    // Writes the bytes to the named file (replacing it) and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        WriteFile(*this / name, bytes);
        return *this / name;
    }
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }

private:
    std::filesystem::path m_dir;
    static inline int s_serial = 0;
};

} // namespace velmora_test
