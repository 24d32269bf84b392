#pragma once
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

namespace tarvik {

struct FaceHit {
    cv::Rect box;        // in pixels of the image searched
    int neighbours = 0;  // cascade windows merged into the face; 0 for HOG faces
};

// dlib's HOG frontal face detector. Its windows are 80 pixels, so small images
// are searched enlarged; large ones are searched reduced, which bounds the time;
// an image without a face found is searched again at twice the size.
// Not thread-safe; one per detector (each a copy of one built per process).
class HogFaces {
public:
    HogFaces();
    ~HogFaces();

    // Frontal faces of the grey image, boxes in its own pixels, in no order.
    // With largestOnly the search starts at a reduced size, where small faces
    // are not found while a larger one is.
    std::vector<FaceHit> Find(const cv::Mat& grey, bool largestOnly);

private:
    std::vector<FaceHit> FindAt(const cv::Mat& grey, double scale);

    struct Detector;
    std::unique_ptr<Detector> m_detector;
};

} // namespace tarvik
