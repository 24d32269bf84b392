#pragma once
#include <memory>
#include <string>

#include <opencv2/core.hpp>

namespace tarvik {

// dlib's 68-point shape predictor, used for the two eye centres of a face box.
// One per detector; the detectors of a process share each model file's
// predictor, which they only read (a copy costs 80 MB and 0.7 s to read),
// and it stays loaded until the process ends.
class LandmarkEyes {
public:
    LandmarkEyes();
    ~LandmarkEyes();

    // Reads the model from VELMORA_LANDMARK_MODEL when set and not empty, else
    // from the path built in, unless it was read before. A model that cannot
    // be read is reported; Ready() then stays false.
    void Load();
    bool Ready() const { return m_ready; }

    // Eye centres inside the face box of the full-size image, the image-left eye
    // first: the mean of each eye's six contour points, in pixels.
    // Requires Ready().
    void Find(const cv::Mat& grey, const cv::Rect& face, cv::Point2d& first,
              cv::Point2d& second) const;

private:
    struct Model;
    static std::shared_ptr<const Model> Shared(const std::string& path);
    std::shared_ptr<const Model> m_model;
    bool m_ready = false;
};

// VELMORA_LANDMARK_MODEL when set and not empty, else the path built in.
std::string LandmarkModelPath();

} // namespace tarvik
