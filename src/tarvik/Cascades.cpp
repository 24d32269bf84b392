#include "Cascades.h"

#include <cstdlib>

#include "Report.h"

#ifndef TARVIK_CASCADE_DIR
#define TARVIK_CASCADE_DIR "/usr/share/opencv4/haarcascades"
#endif

namespace tarvik {

namespace {
constexpr const char* kFaceCascade = "haarcascade_frontalface_alt2.xml";
constexpr const char* kBackupCascade = "haarcascade_frontalface_default.xml";
constexpr const char* kEyeCascade = "haarcascade_eye.xml";
constexpr const char* kEyeGlassesCascade = "haarcascade_eye_tree_eyeglasses.xml";

bool Load(cv::CascadeClassifier& classifier, const std::string& path)
{
    try {
        return classifier.load(path) && !classifier.empty();
    } catch (const cv::Exception&) {
        return false;
    }
}
} // namespace

std::string CascadeFolder()
{
    const char* env = std::getenv("VELMORA_CASCADE_DIR");
    if (env != nullptr && *env != '\0')
        return env;
    return TARVIK_CASCADE_DIR;
}

void LoadCascades(Cascades& cascades)
{
    const std::string folder = CascadeFolder() + "/";
    cascades.faceReady = Load(cascades.face, folder + kFaceCascade);
    if (!cascades.faceReady)
        Report("Tarvik: cannot load the face cascade " + folder + kFaceCascade +
               "; no face will be found.");
    cascades.backupReady = Load(cascades.backup, folder + kBackupCascade);
    if (!cascades.backupReady)
        Report("Tarvik: cannot load the second face cascade " + folder + kBackupCascade +
               "; only the first one will be searched.");
    cascades.eyeReady = Load(cascades.eye, folder + kEyeCascade);
    if (!cascades.eyeReady)
        Report("Tarvik: cannot load the eye cascade " + folder + kEyeCascade +
               "; eye boxes will follow the face box only.");
    cascades.eyeGlassesReady = Load(cascades.eyeGlasses, folder + kEyeGlassesCascade);
    if (!cascades.eyeGlassesReady)
        Report("Tarvik: cannot load the eye cascade " + folder + kEyeGlassesCascade +
               "; eyes will be searched with the other eye cascade only.");
}

} // namespace tarvik
