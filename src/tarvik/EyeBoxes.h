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
    // A narrow box keeps the eye corners and the dark skin beside the eye
    // out; a tall one takes in the brow above the eye instead.
    double boxWidth = 0.12;
    double boxHeight = 0.22;  // in face widths
    double eyeRow = 0.45;     // eye centre's depth in its box
    bool useEyeCascade = true;
    double maxShift = 0.10;   // search radius round the expected eye, in face widths
    int minHits = 3;          // raw eye-cascade windows needed before an eye is trusted
    double minEyeGap = 0.20;  // two eyes found closer together than this are not two eyes
};

// Eye centres seen by the eye cascades in the upper face: one per side, or
// none for a side where no plausible eye was found (x < 0).
struct EyeHits {
    cv::Point2d first{-1, -1};
    cv::Point2d second{-1, -1};
};

// Centre of the raw cascade windows round an expected eye: the mean of the
// window centres within the radius, moved there and taken again with half the
// radius, which leaves stray windows on brows, lids and frames behind. False
// when fewer than minHits centres are near.
bool ClusterCentre(const std::vector<cv::Point2d>& centres, const cv::Point2d& expected,
                   double radius, int minHits, cv::Point2d& centre);

// Runs every eye cascade over the upper part of the face (parts outside the
// image read as black) and clusters their raw windows on each side.
EyeHits FindEyeHits(const std::vector<cv::CascadeClassifier*>& eyeCascades, const cv::Mat& grey,
                    const cv::Rect& face, const EyeBoxDesign& design);

// Fills words 0..13 of the record from the face box and the eye hits.
void PlaceEyeBoxes(const cv::Rect& face, const EyeHits& hits, const EyeBoxDesign& design,
                   int neighbours, FACE_LOCATION& record);

// Fills words 0..13 of the record from the face box and two eye centres found
// by landmarks. Each eye box is 4 x 4 pixels with the rounded centre at its
// middle, so the box centre is exactly that eye. The eye localiser picks the
// darkest spot of such a box, within 2 pixels of the landmark centre; larger
// boxes let it stray further (on BioID, e <= 0.05 for 73% of the faces with
// 4 x 4 boxes, 63% with boxes a tenth of the eye distance, 41% with a fifth).
void PlaceLandmarkEyeBoxes(const cv::Rect& face, const cv::Point2d& first, const cv::Point2d& second,
                           FACE_LOCATION& record);

} // namespace tarvik
