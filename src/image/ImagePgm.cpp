#include <cstdio>

#include "common/File.h"
#include "common/MessageSink.h"
#include "image/Image.h"
#include "image/ImageMessages.h"

namespace {
constexpr size_t kHeaderWindow = 100;
constexpr int kHeaderLines = 4;

// A positive decimal number of at most `limit` filling [begin, end).
bool ParseDimension(const unsigned char* begin, const unsigned char* end, int32_t limit, int32_t& value)
{
    if (begin == end)
        return false;
    int64_t v = 0;
    for (const unsigned char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
        if (v > limit)
            return false;
    }
    if (v < 1)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}
} // namespace

int CImage::ReadPGM(CFile* file)
{
    if (file == nullptr || !file->Seek(0))
        return 0;
    unsigned char text[kHeaderWindow];
    const size_t textLength = file->Read(text, sizeof text);
    if (textLength < 2 || text[0] != 'P' || text[1] != '5') {
        ShowMessage(image_messages::kInvalidPGM);
        return 0;
    }

    // The header is exactly four lines: magic, a comment, "width height", maximum grey.
    size_t lineEnd[kHeaderLines] = {};
    int lines = 0;
    for (size_t i = 0; i < textLength && lines < kHeaderLines; ++i)
        if (text[i] == '\n')
            lineEnd[lines++] = i;
    if (lines < kHeaderLines) {
        ShowMessage(image_messages::kPGMFormat);
        return 0;
    }
    const uint64_t headerLength = lineEnd[3] + 1;
    const uint64_t dataLength = file->GetLength() - headerLength;

    const unsigned char* line = text + lineEnd[1] + 1;
    const unsigned char* lineStop = text + lineEnd[2];
    const unsigned char* space = line;
    while (space != lineStop && *space != ' ')
        ++space;
    // A line break written as CR LF leaves the CR (and nothing else) behind the height.
    const unsigned char* heightStop = lineStop;
    if (heightStop != space && heightStop[-1] == '\r')
        --heightStop;
    int32_t width = 0;
    int32_t height = 0;
    if (space == lineStop || !ParseDimension(line, space, kMaxDimension, width) ||
        !ParseDimension(space + 1, heightStop, kMaxDimension, height)) {
        ShowMessage(image_messages::kPGMFormat);
        return 0;
    }

    const uint64_t pixelCount = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (pixelCount > dataLength) {
        ShowMessage(image_messages::kPGMDataLength, Details("PGM file: ", width, " x ", height, " pixels, ",
                                                            dataLength, " bytes after the header"));
        return 0;
    }
    const uint64_t paddedWidth = (static_cast<uint64_t>(width) + 3) / 4 * 4;
    if (!NewBitmap(width, height, 8, static_cast<uint64_t>(height) * paddedWidth + 1064))
        return 0;
    if (!file->Seek(headerLength) || file->Read(m_pBits, pixelCount) != pixelCount) {
        FreeDIB();
        ShowMessage(image_messages::kReadError);
        return 0;
    }
    CreateGreyPalette();
    m_bDIBLayout = 0;
    ToDIBLayout();
    return 1;
}

int CImage::WritePGM(CFile* file)
{
    if (file == nullptr || ToRasterLayout() == nullptr)
        return 0;
    Geometry g;
    if (!GetGeometry(g)) {
        ToDIBLayout();
        return 0;
    }
    if (GetBitCount() != 8) {
        ToDIBLayout();
        ShowMessage(image_messages::kNotGrey8, Details("PGM file: the image has ", GetBitCount(), " bits a pixel"));
        return 0;
    }
    char header[64];
    const int headerLength = std::snprintf(header, sizeof header, "P5\n%d %d\n255\n",
                                           static_cast<int>(g.width), static_cast<int>(g.height));
    const bool written = file->Write(header, static_cast<size_t>(headerLength)) &&
                         file->Write(m_pBits, g.width * g.height);
    ToDIBLayout();
    if (!written) {
        ShowMessage(image_messages::kWriteError);
        return 0;
    }
    return 1;
}
