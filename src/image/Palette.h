#pragma once
// A logical colour palette: what remains of a display palette once there is no
// display device behind it.
#include <cstddef>
#include <cstdint>
#include <vector>

struct PALETTEENTRY {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
};

struct LOGPALETTE {
    uint16_t palVersion;
    std::vector<PALETTEENTRY> palPalEntry;
};

class CPalette {
public:
    static constexpr uint16_t kVersion = 0x300;

    CPalette() = default;
    CPalette(const CPalette&) = delete;
    CPalette& operator=(const CPalette&) = delete;

    // Takes the entries of a version-0x300 logical palette with at least one entry;
    // false (and an empty palette) otherwise.
    bool CreatePalette(const LOGPALETTE& logPalette);
    bool IsCreated() const { return m_bCreated; }
    int GetEntryCount() const { return static_cast<int>(m_entries.size()); }
    const PALETTEENTRY& GetEntry(int index) const { return m_entries.at(static_cast<size_t>(index)); }

private:
    std::vector<PALETTEENTRY> m_entries;
    bool m_bCreated = false;
};
