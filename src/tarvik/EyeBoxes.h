#pragma once
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <tarvik/FaceLocation.h>

namespace tarvik {

// Where the eyes sit in a frontal face box and how the box round each eye is
// cut, as fractions of the face box width (x, sizes) and height (y).
struct EyeBoxDesign {
    double eyeX = 0.31;       // first eye centre from the face's left edge; the second mirrors it
    double eyeY = 0.355;      // eye centres below the face's top edge
    double boxWidth = 0.19;   // eye box width: the eye without most of its corners
    double boxHeight = 0.155; // eye box height, in face widths
    double eyeRow = 0.44;     // eye centre's depth in its box: lids inside, brow mostly out
    bool useEyeCascade = true;
    double maxShift = 0.10;   // largest move of a cascade eye away from the expected place
};

// Eye centres seen by the eye cascade in the upper face: one per side, or
// none for a side where no plausible hit was found (x < 0).
struct EyeHits {
    cv::Point2d first{-1, -1};
    cv::Point2d second{-1, -1};
};

EyeHits FindEyeHits(cv::CascadeClassifier& eyeCascade, const cv::Mat& grey, const cv::Rect& face,
                    const EyeBoxDesign& design);

// Fills words 0..13 of the record from the face box and the eye hits.
void PlaceEyeBoxes(const cv::Rect& face, const EyeHits& hits, const EyeBoxDesign& design,
                   int neighbours, FACE_LOCATION& record);

} // namespace tarvik
