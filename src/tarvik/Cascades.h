#pragma once
#include <string>

#include <opencv2/objdetect.hpp>

namespace tarvik {

// The cascades one detector uses, read once from the cascade folder.
struct Cascades {
    cv::CascadeClassifier face;     // searched first
    cv::CascadeClassifier backup;   // searched when the first finds nothing
    cv::CascadeClassifier eye;
    cv::CascadeClassifier eyeGlasses; // a second eye cascade, trained with glasses too
    bool faceReady = false;
    bool backupReady = false;
    bool eyeReady = false;
    bool eyeGlassesReady = false;
};

// VELMORA_CASCADE_DIR when set and not empty, else the folder built in.
std::string CascadeFolder();

// Reads the cascades; each one that cannot be read is reported once here.
void LoadCascades(Cascades& cascades);

} // namespace tarvik
