#include "common/File.h"

#include <algorithm>

#include "common/ByteOrder.h"

CFile::~CFile()
{
    Close();
}

bool CFile::Open(const std::string& path, unsigned flags)
{
    Close();
    const char* mode = (flags & modeCreate) ? "wb" : ((flags & modeWrite) ? "r+b" : "rb");
    m_file = std::fopen(path.c_str(), mode);
    if (m_file == nullptr)
        return false;
    m_path = path;
    return true;
}

bool CFile::Close()
{
    if (m_file == nullptr)
        return true;
    const bool ok = std::fclose(m_file) == 0;
    m_file = nullptr;
    return ok;
}

size_t CFile::Read(void* buffer, size_t count)
{
    if (m_file == nullptr || count == 0)
        return 0;
    return std::fread(buffer, 1, count, m_file);
}

bool CFile::Write(const void* buffer, size_t count)
{
    if (m_file == nullptr)
        return false;
    return count == 0 || std::fwrite(buffer, 1, count, m_file) == count;
}

bool CFile::Seek(uint64_t offsetFromStart)
{
    return m_file != nullptr && fseeko(m_file, static_cast<off_t>(offsetFromStart), SEEK_SET) == 0;
}

uint64_t CFile::GetPosition() const
{
    if (m_file == nullptr)
        return 0;
    const off_t pos = ftello(m_file);
    return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

uint64_t CFile::GetLength() const
{
    if (m_file == nullptr)
        return 0;
    const off_t here = ftello(m_file);
    if (fseeko(m_file, 0, SEEK_END) != 0)
        return 0;
    const off_t end = ftello(m_file);
    fseeko(m_file, here, SEEK_SET);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

std::string CFile::GetFileName() const
{
    const size_t slash = m_path.find_last_of('/');
    return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

bool CFile::ReadInt32(int32_t& value)
{
    unsigned char bytes[4];
    if (Read(bytes, 4) != 4)
        return false;
    value = ReadInt32LE(bytes);
    return true;
}

bool CFile::ReadDouble(double& value)
{
    unsigned char bytes[8];
    if (Read(bytes, 8) != 8)
        return false;
    value = ReadDoubleLE(bytes);
    return true;
}

bool CFile::ReadDoubles(double* values, size_t count)
{
    // Chunked so that a huge request never needs a huge staging buffer.
    unsigned char chunk[8 * 1024];
    size_t done = 0;
    while (done < count) {
        const size_t n = std::min(count - done, sizeof chunk / 8);
        if (Read(chunk, n * 8) != n * 8)
            return false;
        for (size_t i = 0; i < n; ++i)
            values[done + i] = ReadDoubleLE(chunk + 8 * i);
        done += n;
    }
    return true;
}

bool CFile::WriteInt32(int32_t value)
{
    unsigned char bytes[4];
    WriteInt32LE(bytes, value);
    return Write(bytes, 4);
}

bool CFile::WriteDouble(double value)
{
    unsigned char bytes[8];
    WriteDoubleLE(bytes, value);
    return Write(bytes, 8);
}

bool CFile::WriteDoubles(const double* values, size_t count)
{
    unsigned char chunk[8 * 1024];
    size_t done = 0;
    while (done < count) {
        const size_t n = std::min(count - done, sizeof chunk / 8);
        for (size_t i = 0; i < n; ++i)
            WriteDoubleLE(chunk + 8 * i, values[done + i]);
        if (!Write(chunk, n * 8))
            return false;
        done += n;
    }
    return true;
}
