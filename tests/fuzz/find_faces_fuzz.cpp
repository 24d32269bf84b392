// FindFaces, FindOneFace and LocateEyes on a small image and detector records
// that the input dictates, through the detector's scripted-record seam.
//
// Input: width and height (0..96 each), the count the detector reports (signed),
// the caller's room for FindFaces (signed), then words 4..11 of as many records
// as the reported count asks, up to kScriptedRecords (32 bytes each; missing
// bytes are zero, and so are the records after those), then the pixels
// (repeated when the input runs short). Localising an eye takes a while with
// the sanitizers, so a few real records keep the inputs quick.
//
// Every eye the localiser finds lies inside the image; FindFaces reports the
// localiser's eyes, or the fallback points computed from the records, for
// exactly as many faces as the detector and the caller's room allow; FindOneFace
// agrees with the first of them.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include <tarvik/DetectionSource.h>

#include "FuzzSupport.h"
#include "common/ByteOrder.h"
#include "locate/EyeLocator.h"

namespace {

constexpr int kMaxSide = 96;
constexpr int kRecordRoom = 10;
constexpr size_t kEyeWordsBytes = 32;
constexpr size_t kScriptedRecords = 4;

struct Script {
    int reported = 0;
    std::vector<FACE_LOCATION> records;
};

Script g_script;

int ScriptedDetector(const unsigned char*, int, int, FACE_LOCATION* records, int room)
{
    const size_t n = std::min(g_script.records.size(), static_cast<size_t>(room));
    std::copy(g_script.records.begin(), g_script.records.begin() + n, records);
    return g_script.reported;
}

// Sum that wraps like the 32-bit registers of the original target machine.
int32_t WrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

bool Inside(const CPoint& p, int width, int height)
{
    return p.x >= 0 && p.x < width && p.y >= 0 && p.y < height;
}

bool Same(const CPoint& a, const CPoint& b)
{
    return a.x == b.x && a.y == b.y;
}

// The eyes FindFaces must report for one record, from a direct call of the
// localiser on a copy of it.
void ExpectedEyes(const std::vector<unsigned char>& image, int width, int height,
                  const FACE_LOCATION& scripted, CPoint& first, CPoint& second)
{
    FACE_LOCATION record = scripted;
    LocateEyes(image.data(), width, height, record, first, second);
    for (const int32_t FACE_LOCATION::*word : {&FACE_LOCATION::nEye1Width, &FACE_LOCATION::nEye2Width}) {
        const int32_t was = scripted.*word;
        const int32_t widened = was % 4 != 0 && was < INT32_MAX ? was + 1 : was;
        VELMORA_FUZZ_CHECK(record.*word == widened);
    }
    VELMORA_FUZZ_CHECK(Same(first, CPoint(-1, -1)) || Inside(first, width, height));
    VELMORA_FUZZ_CHECK(Same(second, CPoint(-1, -1)) || Inside(second, width, height));
    if (first.x == -1)
        first = CPoint(WrapAdd(record.nEye1X, record.nEye1Width / 2),
                       WrapAdd(record.nEye1Y, record.nEye1Height / 2));
    if (second.x == -1)
        second = CPoint(WrapAdd(record.nEye2X, record.nEye1Width / 2),
                        WrapAdd(record.nEye2Y, record.nEye1Height / 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    velmora_fuzz::Quiet();
    static const bool installed = [] {
        TarvikSetDetectionSource(&ScriptedDetector);
        return true;
    }();
    (void)installed;

    const int width = data[0] % (kMaxSide + 1);
    const int height = data[1] % (kMaxSide + 1);
    g_script.reported = static_cast<int8_t>(data[2]);
    const int room = static_cast<int8_t>(data[3]);
    size_t at = 4;
    g_script.records.assign(static_cast<size_t>(std::clamp(g_script.reported, 0, kRecordRoom)),
                            FACE_LOCATION{});
    for (size_t r = 0; r < std::min(kScriptedRecords, g_script.records.size()); ++r) {
        FACE_LOCATION& record = g_script.records[r];
        unsigned char words[kEyeWordsBytes] = {};
        const size_t n = std::min(kEyeWordsBytes, size - at);
        std::memcpy(words, data + at, n);
        at += n;
        int32_t* eyeWords = &record.nEye1X;
        for (int w = 0; w < 8; ++w)
            eyeWords[w] = ReadInt32LE(words + 4 * w);
    }
    std::vector<unsigned char> image(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = at < size ? data[at + i % (size - at)] : static_cast<unsigned char>(i * 7);

    // What the detector hands over: its count, clamped to the room it was given
    // (none for an image it refuses), and capped again by the caller's room.
    const bool refused = width < 1 || height < 1;
    const int detectorRoom = room >= 1 && room <= kRecordRoom ? room : kRecordRoom;
    const int detected = refused ? 0 : std::clamp(g_script.reported, 0, detectorRoom);
    const int reported = std::max(0, std::min(detected, room));

    CVelmora velmora;
    CPoint firstEyes[kRecordRoom], secondEyes[kRecordRoom];
    int count = room;
    const enumFFError found =
        velmora.FindFaces(image.empty() ? nullptr : image.data(), width, height, firstEyes, secondEyes, count);
    VELMORA_FUZZ_CHECK(count == reported);
    VELMORA_FUZZ_CHECK(found == (reported > 0 ? FF_OK : FF_NO_FACE));
    for (int i = 0; i < count; ++i) {
        CPoint first, second;
        ExpectedEyes(image, width, height, g_script.records[static_cast<size_t>(i)], first, second);
        VELMORA_FUZZ_CHECK(Same(firstEyes[i], first) && Same(secondEyes[i], second));
    }

    CRect face(1, 2, 3, 4);
    CPoint first(5, 6), second(7, 8);
    const enumFFError one =
        velmora.FindOneFace(image.empty() ? nullptr : image.data(), width, height, face, first, second);
    const bool any = !refused && std::clamp(g_script.reported, 0, kRecordRoom) > 0;
    VELMORA_FUZZ_CHECK(one == (any ? FF_OK : FF_NO_FACE));
    VELMORA_FUZZ_CHECK(face.left == 1 && face.top == 2 && face.right == 3 && face.bottom == 4);
    if (any) {
        CPoint expectFirst, expectSecond;
        ExpectedEyes(image, width, height, g_script.records.front(), expectFirst, expectSecond);
        VELMORA_FUZZ_CHECK(Same(first, expectFirst) && Same(second, expectSecond));
    } else {
        VELMORA_FUZZ_CHECK(Same(first, CPoint(0, 0)) && Same(second, CPoint(0, 0)));
    }
    return 0;
}
