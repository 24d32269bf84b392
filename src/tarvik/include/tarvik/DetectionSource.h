// Test seam: replaces the cascades of every CAdaboostFaceDetect with scripted
// records, so callers' handling of the records can be checked exactly.
#pragma once

#include <functional>

#include <tarvik/Tarvik.h>

// Gets the image, its size, the record array and its room (1..10); fills
// records and returns how many (values outside 0..room are clamped).
using TarvikDetectionSource =
    std::function<int(const unsigned char* image, int width, int height, FACE_LOCATION* records,
                      int room)>;

// An empty function restores the cascades.
TARVIK_API void TarvikSetDetectionSource(TarvikDetectionSource source);
