#include "image/Palette.h"

bool CPalette::CreatePalette(const LOGPALETTE& logPalette)
{
    m_entries.clear();
    m_bCreated = false;
    if (logPalette.palVersion != kVersion || logPalette.palPalEntry.empty())
        return false;
    m_entries = logPalette.palPalEntry;
    m_bCreated = true;
    return true;
}
