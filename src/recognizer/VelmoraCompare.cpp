#include <velmora/Velmora.h>

#include <cstdint>
#include <vector>

#include "common/ByteOrder.h"
#include "matching/TemplateSet.h"
#include "recognizer/Engine.h"

namespace {

constexpr double kInvalid = -1.0;

// Unpacks one template buffer into a set; the header was validated by the caller.
bool FillSet(CTemplateSet& set, const unsigned char* buffer)
{
    if (!set.IsValid())
        return false;
    std::vector<double> vector(static_cast<size_t>(set.Dimension()));
    const unsigned char* p = buffer + sizeof(FaceTemplate);
    for (int i = 0; i < set.Count(); ++i) {
        for (double& v : vector) {
            v = ReadDoubleLE(p);
            p += 8;
        }
        set.SetOneTemplate(i, vector.data());
    }
    return true;
}

double CompareBuffers(const unsigned char* a, const unsigned char* b, int mode)
{
    const int32_t countA = ReadInt32LE(a);
    const int32_t dimA = ReadInt32LE(a + 4);
    const int32_t countB = ReadInt32LE(b);
    const int32_t dimB = ReadInt32LE(b + 4);
    if (countA < 1 || dimA < 1 || countB < 1 || dimB < 1 || dimA != dimB)
        return kInvalid;
    CTemplateSet setA(countA, dimA);
    CTemplateSet setB(countB, dimB);
    if (!FillSet(setA, a) || !FillSet(setB, b))
        return kInvalid;
    return setA.CompareSet(setB, mode);
}

// True when the buffer holds the header and every vector it announces.
bool HeaderFits(const unsigned char* buffer, size_t length)
{
    if (length < sizeof(FaceTemplate))
        return false;
    const int32_t count = ReadInt32LE(buffer);
    const int32_t dim = ReadInt32LE(buffer + 4);
    if (count < 1 || dim < 1)
        return true; // rejected by the comparison itself
    const uint64_t values = static_cast<uint64_t>(count) * static_cast<uint64_t>(dim);
    return values <= (length - sizeof(FaceTemplate)) / 8;
}

} // namespace

double CVelmora::CompareTemplate(const unsigned char* templateA, const unsigned char* templateB,
                                 int mode) const
{
    if (templateA == nullptr || templateB == nullptr)
        return kInvalid;
    return CompareBuffers(templateA, templateB, mode);
}

double CVelmora::CompareTemplate(const unsigned char* templateA, size_t lengthA,
                                 const unsigned char* templateB, size_t lengthB, int mode) const
{
    return velmora::engine::CompareTemplates(templateA, lengthA, templateB, lengthB, mode);
}

double velmora::engine::CompareTemplates(const unsigned char* templateA, size_t lengthA,
                                         const unsigned char* templateB, size_t lengthB, int mode)
{
    if (templateA == nullptr || templateB == nullptr)
        return kInvalid;
    if (!HeaderFits(templateA, lengthA) || !HeaderFits(templateB, lengthB))
        return kInvalid;
    return CompareBuffers(templateA, templateB, mode);
}
