#include "LandmarkEyes.h"

#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>

#include "Report.h"

#ifndef TARVIK_LANDMARK_MODEL
#define TARVIK_LANDMARK_MODEL "/usr/share/dlib/shape_predictor_68_face_landmarks.dat"
#endif

namespace tarvik {

namespace {
// Contour points of the image-left eye (the person's right eye) in the
// 68-point layout; the other eye's six follow them.
constexpr unsigned long kFirstEyePoint = 36;
constexpr unsigned long kEyePoints = 6;
} // namespace

struct LandmarkEyes::Model {
    dlib::shape_predictor predictor;
};

LandmarkEyes::LandmarkEyes() = default;
LandmarkEyes::~LandmarkEyes() = default;

std::string LandmarkModelPath()
{
    const char* env = std::getenv("VELMORA_LANDMARK_MODEL");
    if (env != nullptr && *env != '\0')
        return env;
    return TARVIK_LANDMARK_MODEL;
}

std::shared_ptr<const LandmarkEyes::Model> LandmarkEyes::Shared(const std::string& path)
{
    // Kept for the process, as the library's own detector keeps its model, and
    // locked while a file is read, so that detectors starting together read it
    // once.
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const Model>> held;
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto found = held.find(path); found != held.end())
        return found->second;
    try {
        auto model = std::make_shared<Model>();
        dlib::deserialize(path) >> model->predictor;
        // A file of another kind can deserialize into a predictor without the 68 points.
        if (model->predictor.num_parts() != 68)
            return nullptr;
        held[path] = model;
        return model;
    } catch (const std::exception&) {
        return nullptr;
    }
}

void LandmarkEyes::Load()
{
    const std::string path = LandmarkModelPath();
    m_model = Shared(path);
    m_ready = m_model != nullptr;
    if (!m_ready)
        Report("Tarvik: cannot read the 68-point landmark model " + path +
               " (Debian package libdlib-data, or set VELMORA_LANDMARK_MODEL); eyes will be "
               "placed by the Haar cascades only.");
}

void LandmarkEyes::Find(const cv::Mat& grey, const cv::Rect& face, cv::Point2d& first,
                        cv::Point2d& second) const
{
    const dlib::cv_image<unsigned char> image(grey);
    const dlib::rectangle box(face.x, face.y, face.x + face.width - 1, face.y + face.height - 1);
    const dlib::full_object_detection shape = m_model->predictor(image, box);
    cv::Point2d eye[2];
    for (int e = 0; e < 2; ++e) {
        for (unsigned long i = 0; i < kEyePoints; ++i) {
            const dlib::point& p = shape.part(kFirstEyePoint + e * kEyePoints + i);
            eye[e] += cv::Point2d(static_cast<double>(p.x()), static_cast<double>(p.y()));
        }
        eye[e] /= static_cast<double>(kEyePoints);
    }
    first = eye[0];
    second = eye[1];
}

} // namespace tarvik
