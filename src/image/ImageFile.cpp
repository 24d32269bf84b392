#include <cctype>
#include <string>

#include "common/File.h"
#include "image/Image.h"

namespace {
// The text after the first dot (all of it when there is none), in lower case.
std::string ExtensionOf(const std::string& text)
{
    const size_t dot = text.find('.');
    std::string extension = dot == std::string::npos ? text : text.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}
} // namespace

int CImage::Load(CFile* file)
{
    if (file == nullptr)
        return 0;
    const std::string extension = ExtensionOf(file->GetFilePath());
    if (extension == "bmp")
        return ReadBMP(file);
    if (extension == "pgm")
        return ReadPGM(file);
    if (extension == "img")
        return ReadIMG(file);
    if (extension == "dat" || extension == "raw")
        return ReadRAW(file);
    return ReadBMP(file);
}

int CImage::Save(CFile* file)
{
    if (file == nullptr)
        return 0;
    const std::string extension = ExtensionOf(file->GetFileName());
    if (extension == "bmp")
        return WriteBMP(file);
    if (extension == "pgm")
        return WritePGM(file);
    if (extension == "bin" || extension == "dat" || extension == "raw")
        return WriteRaw(file);
    if (extension == "txt") {
        // The dump is written through its own stream; the caller's file is
        // reopened afterwards, without truncation, so that it stays usable.
        const std::string path = file->GetFilePath();
        file->Close();
        const int result = WriteText(path);
        file->Open(path, CFile::modeWrite);
        return result;
    }
    return WriteBMP(file);
}
