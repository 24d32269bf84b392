// One CImage reader, chosen by the file extension this program is built with
// (VELMORA_FUZZ_IMAGE_EXT). A loaded image must be whole: its layouts convert
// both ways without changing a pixel, and what WriteBMP makes reads back as the
// same bitmap. The dat and raw reader needs more than 175104 bytes, so for it the
// first input byte sets the file length around that limit and the rest of the
// input starts the file.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "common/File.h"
#include "image/Image.h"

#ifndef VELMORA_FUZZ_IMAGE_EXT
#error "build with -DVELMORA_FUZZ_IMAGE_EXT=\"bmp\" (or pgm, img, raw)"
#endif

using velmora_fuzz::ScratchFile;

namespace {

constexpr size_t kRawFrame = 512 * 342;

int LoadFile(CImage& image, const std::string& path)
{
    CFile file;
    VELMORA_FUZZ_CHECK(file.Open(path, CFile::modeRead));
    return image.Load(&file);
}

// The visible bytes of every stored row (padding excluded), bottom row first.
std::vector<unsigned char> StoredPixels(const CImage& image)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int bits = image.GetBitCount();
    const size_t stride = static_cast<size_t>(CImage::WidthBytes(width, bits));
    const size_t visible = static_cast<size_t>(width) * static_cast<size_t>(bits / 8);
    const unsigned char* end = image.GetDIB() + image.m_dwDIBSize;
    VELMORA_FUZZ_CHECK(image.m_pBits >= image.GetDIB() + 40);
    VELMORA_FUZZ_CHECK(static_cast<size_t>(end - image.m_pBits) >= stride * static_cast<size_t>(height));
    std::vector<unsigned char> pixels;
    for (int r = 0; r < height; ++r)
        pixels.insert(pixels.end(), image.m_pBits + r * stride, image.m_pBits + r * stride + visible);
    return pixels;
}

void CheckLoaded(CImage& image)
{
    VELMORA_FUZZ_CHECK(image.GetDIB() != nullptr && image.m_bDIBLayout == 1);
    VELMORA_FUZZ_CHECK(image.GetWidth() >= 1 && image.GetHeight() >= 1);
    VELMORA_FUZZ_CHECK(image.GetBitCount() == 8 || image.GetBitCount() == 24);
    const std::vector<unsigned char> before = StoredPixels(image);

    VELMORA_FUZZ_CHECK(image.ToRasterLayout() != nullptr);
    VELMORA_FUZZ_CHECK(image.ToDIBLayout() != nullptr);
    VELMORA_FUZZ_CHECK(StoredPixels(image) == before);

    // The big fixed frame of the raw reader is checked once above; writing it on
    // every input would only slow the fuzzer down.
    if (before.size() > 64 * 1024)
        return;
    ScratchFile written("written.bmp");
    {
        CFile out;
        VELMORA_FUZZ_CHECK(out.Open(written.Path(), CFile::modeCreate | CFile::modeWrite));
        VELMORA_FUZZ_CHECK(image.Save(&out) == 1);
    }
    CImage again;
    VELMORA_FUZZ_CHECK(LoadFile(again, written.Path()) == 1);
    VELMORA_FUZZ_CHECK(again.GetWidth() == image.GetWidth() && again.GetHeight() == image.GetHeight() &&
                       again.GetBitCount() == image.GetBitCount());
    VELMORA_FUZZ_CHECK(StoredPixels(again) == before);

    // The other writers only have to run cleanly.
    for (const char* name : {"written.pgm", "written.raw", "written.txt"}) {
        ScratchFile other(name);
        CFile out;
        VELMORA_FUZZ_CHECK(out.Open(other.Path(), CFile::modeCreate | CFile::modeWrite));
        image.Save(&out);
        VELMORA_FUZZ_CHECK(StoredPixels(image) == before);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velmora_fuzz::Quiet();
    const std::string extension = VELMORA_FUZZ_IMAGE_EXT;
    ScratchFile file(std::string("input.") + extension);
    if (extension == "raw" || extension == "dat") {
        if (size == 0)
            return 0;
        std::vector<uint8_t> bytes(kRawFrame - 32 + data[0], 0);
        std::copy(data + 1, data + std::min(size, bytes.size() + 1), bytes.begin());
        if (!file.Write(bytes.data(), bytes.size()))
            return 0;
    } else if (!file.Write(data, size)) {
        return 0;
    }

    // Once into an empty image, once over an image that is already there.
    CImage image;
    if (LoadFile(image, file.Path()) == 1)
        CheckLoaded(image);
    if (LoadFile(image, file.Path()) == 1)
        CheckLoaded(image);
    return 0;
}
