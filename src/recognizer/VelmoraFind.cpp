#include <velmora/Velmora.h>

#include <algorithm>
#include <cstdint>

#include "common/MessageSink.h"
#include "locate/EyeLocator.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"

#include <tarvik/Tarvik.h>

namespace {

constexpr int kRecordRoom = 10;

void ForwardDetectorMessage(const char* text)
{
    ShowMessage(text);
}

// Runs the module-wide detector with the library's message sink in place.
void RunDetector(unsigned char* image, int width, int height, FACE_LOCATION* records, int* count)
{
    TarvikSetMessageSink(&ForwardDetectorMessage);
    g_faceDetector.RunFaceDetector(image, width, height, records, count);
}

// Box corner plus half a box side, wrapping around in 32 bits as two's-complement
// registers do: a broken detector's words near the ends of the range must not
// make the sum undefined.
int32_t CornerPlusHalf(int32_t corner, int32_t side)
{
    return static_cast<int32_t>(static_cast<uint32_t>(corner) + static_cast<uint32_t>(side / 2));
}

bool DetectOneFace(unsigned char* image, int width, int height, CPoint& firstEye,
                   CPoint& secondEye)
{
    firstEye = CPoint(0, 0);
    secondEye = CPoint(0, 0);
    FACE_LOCATION records[kRecordRoom] = {};
    int count = 0;
    RunDetector(image, width, height, records, &count);
    if (count < 1)
        return false;
    velmora::engine::EyesOfRecord(image, width, height, records[0], firstEye, secondEye);
    return true;
}

} // namespace

namespace velmora::engine {

// An eye the localiser misses is put in the middle of its box, the second one
// measured with the first box's size.
void EyesOfRecord(const unsigned char* image, int width, int height, FACE_LOCATION record, CPoint& firstEye,
                  CPoint& secondEye)
{
    firstEye = CPoint(0, 0);
    secondEye = CPoint(0, 0);
    LocateEyes(image, width, height, record, firstEye, secondEye);
    if (firstEye.x == -1)
        firstEye = CPoint(CornerPlusHalf(record.nEye1X, record.nEye1Width),
                          CornerPlusHalf(record.nEye1Y, record.nEye1Height));
    if (secondEye.x == -1)
        secondEye = CPoint(CornerPlusHalf(record.nEye2X, record.nEye1Width),
                           CornerPlusHalf(record.nEye2Y, record.nEye1Height));
}

} // namespace velmora::engine

enumFFError CVelmora::FindFaces(unsigned char* image, int width, int height, CPoint* firstEyes,
                                CPoint* secondEyes, int& count)
{
    const int capacity = count;
    FACE_LOCATION records[kRecordRoom] = {};
    RunDetector(image, width, height, records, &count);
    count = std::min(count, capacity);
    if (count <= 0 || firstEyes == nullptr || secondEyes == nullptr) {
        count = 0;
        return FF_NO_FACE;
    }
    for (int i = 0; i < count; ++i)
        velmora::engine::EyesOfRecord(image, width, height, records[i], firstEyes[i], secondEyes[i]);
    return FF_OK;
}

enumFFError CVelmora::FindOneFace(unsigned char* image, int width, int height, CRect& face,
                                  CPoint& firstEye, CPoint& secondEye)
{
    (void)face; // the face box is neither read nor reported
    return DetectOneFace(image, width, height, firstEye, secondEye) ? FF_OK : FF_NO_FACE;
}
