#pragma once
// A minimal binary file over the C library's streams: the operations the model,
// sample and image files need. A short read is the only end-of-file signal.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0,
        modeWrite = 0x1,
        modeCreate = 0x1000,
    };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // modeRead opens an existing file; modeCreate | modeWrite creates or truncates.
    bool Open(const std::string& path, unsigned flags);
    // False when buffered data could not be written out (e.g. a full disk).
    bool Close();
    bool IsOpen() const { return m_file != nullptr; }

    // Returns the number of bytes actually read.
    size_t Read(void* buffer, size_t count);
    bool Write(const void* buffer, size_t count);
    bool Seek(uint64_t offsetFromStart);
    uint64_t GetPosition() const;
    uint64_t GetLength() const;
    const std::string& GetFilePath() const { return m_path; }
    std::string GetFileName() const;

    // Little-endian scalars and arrays; false on a short read or failed write.
    bool ReadInt32(int32_t& value);
    bool ReadDouble(double& value);
    bool ReadDoubles(double* values, size_t count);
    bool WriteInt32(int32_t value);
    bool WriteDouble(double value);
    bool WriteDoubles(const double* values, size_t count);

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};
