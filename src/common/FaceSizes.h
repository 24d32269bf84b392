#pragma once
// Sizes fixed by the template format and by every model trained for it, shared
// by the library and the velmora tool so that neither can drift from the other.
namespace velmora {
constexpr int kNormFaceSide = 64; // the normalised face is square
constexpr int kNormFacePixels = kNormFaceSide * kNormFaceSide;
constexpr int kFeatureDim = 7840; // Gabor magnitudes a template is projected from
} // namespace velmora
