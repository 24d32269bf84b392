// Tarvik: the AdaBoost face detector behind Velmora's face finding.
#pragma once

#include <memory>

#include <tarvik/FaceLocation.h>

#define TARVIK_API __attribute__((visibility("default")))

// Receives the detector's few messages (a cascade file that cannot be loaded),
// each text once per process however many detectors meet it. A null sink, the
// default, writes the text and a newline to stderr.
typedef void (*TarvikMessageSink)(const char* text);
TARVIK_API void TarvikSetMessageSink(TarvikMessageSink sink);

// Finds frontal faces in an 8-bit grey image and places a box round each eye:
// dlib's HOG detector and 68-point landmarks, with OpenCV's Haar cascades for
// faces HOG misses. The landmark model is read on first use from
// VELMORA_LANDMARK_MODEL, or else from the path the library was built for; the
// cascades from VELMORA_CASCADE_DIR, or else from the folder built in. Without
// the landmark model the eye boxes come from eye cascades. Not thread-safe:
// one detector per thread.
class TARVIK_API CAdaboostFaceDetect {
public:
    CAdaboostFaceDetect();
    virtual ~CAdaboostFaceDetect();
    CAdaboostFaceDetect(const CAdaboostFaceDetect&) = delete;
    CAdaboostFaceDetect& operator=(const CAdaboostFaceDetect&) = delete;

    // On entry *count is the room in records (0 or anything above 10 means 10).
    // Fills records from the first on, larger faces first, sets *count to the
    // number filled and returns it. Bad arguments give 0 faces. With room for
    // one record the search looks for the largest face only, which is faster
    // on photos whose longer side exceeds 320 pixels.
    int RunFaceDetector(unsigned char* image, int width, int height, FACE_LOCATION* records,
                        int* count);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
