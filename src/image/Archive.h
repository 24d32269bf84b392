#pragma once
// Binds an open file to a direction for CObject::Serialize. Nothing is buffered
// here, so Flush has nothing to hand on; it exists for the serialisation protocol.
#include "common/File.h"

class CArchive {
public:
    enum Mode : unsigned { store = 0, load = 1 };

    CArchive(CFile* file, unsigned mode) : m_pFile(file), m_nMode(mode) {}
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsLoading() const { return (m_nMode & load) != 0; }
    bool IsStoring() const { return (m_nMode & load) == 0; }
    CFile* GetFile() const { return m_pFile; }
    void Flush() {}

private:
    CFile* m_pFile;
    unsigned m_nMode;
};
