#include <velmora/Velmora.h>

#include "gabor/GaborBank.h"
#include "recognizer/ModuleState.h"

bool CVelmora::GetGaborFeature(const unsigned char* face32, double* feature) const
{
    if (face32 == nullptr || feature == nullptr)
        return false;
    g_gaborBank.LoadFace(face32);
    const int n = g_gaborBank.ExtractFeatures();
    g_gaborBank.CopyFeatures(feature, n);
    return true;
}
