#pragma once
// The library's internal interface for the velmora tool and the Python module:
// what they need of the module-wide machinery, so that they never reach into
// it. Not exported (the internal archive carries it). Each call is implemented
// beside the CVelmora operation it shares its code with, and, like those, calls
// must not overlap.
#include <cstddef>
#include <vector>

#include <tarvik/FaceLocation.h>
#include <velmora/Velmora.h>

#include "common/FaceSizes.h"

namespace velmora::engine {

// Selects the template face mask and builds the Gabor kernels from the
// settings, exactly as Initialize does, but without a model: enough to cut
// faces and extract features. False when the settings exceed the kernel bank.
bool PrepareWithoutModel(const CVelmora& settings);

// The Gabor features of a normalised face (kNormFacePixels bytes, not changed)
// that CreateTemplate projects when the face needs no preprocessing: as many
// values as the kernel bank gives (kFeatureDim with the default settings).
std::vector<double> FaceFeatures(const unsigned char* face);
// The same into features (room for kFeatureDim values); returns the count.
int FaceFeatures(const unsigned char* face, double* features);
// The same for count faces (none null), into features[i]; the kernel bank is
// read once per group of faces rather than once per face.
void FaceFeatures(const unsigned char* const* faces, int count, double* const* features);

// Dimensions of the model in memory; all 0 before one is loaded or trained.
struct ModelDimensions {
    int features = 0;   // feature vector length the PCA takes
    int components = 0; // K: principal components computed
    int skipped = 0;    // S: leading components the LDA does not take
    int discriminants = 0;
};
ModelDimensions LoadedModel();

// Templates of `count` normalised faces at once: templates[i], lengths[i] and
// results[i] are bit for bit what CreateTemplate(faces[i], .., templates[i],
// lengths[i]) of these settings writes and returns, faces changed in place as it
// changes them. Each PCA vector and Gabor kernel is read once for up to 32
// faces, not once per face, so a few dozen faces at a time go about three
// times as fast. Every
// templates[i] must hold the size GetMaxTemplateSize reports for one vector.
void CreateTemplates(const CVelmora& settings, unsigned char* const* faces, int count,
                     unsigned char* const* templates, int* lengths, enumCTError* results);

// The template of a feature vector of kFeatureDim values, as CreateTemplate
// makes it from the features of its face.
enumCTError TemplateFromFeatures(const double* features, unsigned char* templ, int& length);

// The eyes FindFaces gives for one detector record: the eye localiser's inside
// its boxes. It reads the image and the record alone, so unlike the other calls
// it may run on several threads beside them (a detector per thread).
void EyesOfRecord(const unsigned char* image, int width, int height, FACE_LOCATION record, CPoint& firstEye,
                  CPoint& secondEye);

// CompareTemplate with buffer lengths, without a CVelmora object (making one
// would clear the library's readiness).
double CompareTemplates(const unsigned char* templateA, size_t lengthA, const unsigned char* templateB,
                        size_t lengthB, int mode);

} // namespace velmora::engine
