// The training sample file through CVelmora::Train. The first input byte steers
// the call: how many classes the caller adds (totals of 209 to 212 with the
// file's), whether its sizes disagree with the file, and whether one new class
// is empty; the rest of the input is the file. New samples exist only for
// sample lengths of at most kMaxNewLength bytes and inputs are capped, so a good
// read leads to a small PCA (dimension and sample count bounded by the input)
// and an LDA stage that refuses for want of 300 components: the time goes into
// the reader, not into an eigen-decomposition.
//
// An independent walk over the file predicts the result code, and a good read
// must leave the PCA mean of exactly the bytes that the walk saw.
#include <climits>
#include <cstring>
#include <tuple>
#include <vector>

#include <fcntl.h>

#include "FuzzSupport.h"
#include "common/ByteOrder.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"

using velmora_fuzz::ScratchFile;

namespace {

constexpr size_t kMaxInput = 16 * 1024;
constexpr int64_t kMaxNewLength = 64;
constexpr int kRequiredClasses = 210;

struct Steering {
    int totalClasses;  // file classes plus new ones the caller aims for
    bool sizeMismatch; // pass a first size that differs from the file's
    bool emptyClass;   // the last new class has no sample
    bool secondSample; // the first new class has two samples
};

Steering Steer(uint8_t control)
{
    return Steering{kRequiredClasses - 1 + (control & 3), (control & 4) != 0, (control & 8) != 0,
                    (control & 16) != 0};
}

struct Prediction {
    explicit Prediction(enumTError refusal = T_OK) : code(refusal) {}
    enumTError code; // T_OK stands for "read well; the training decides"
    std::vector<double> sum; // per component, every sample read, in row order
    int64_t samples = 0;
};

// What Train must answer, derived from the file layout and the call alone.
Prediction Predict(const uint8_t* file, size_t size, int32_t passedA, int32_t passedB,
                   const std::vector<int>& newCounts, const std::vector<std::vector<uint8_t>>& images)
{
    Prediction p;
    if (size < 16)
        return Prediction(T_SAMPLE_FILE_ERROR);
    const int32_t a = ReadInt32LE(file), b = ReadInt32LE(file + 4);
    const int32_t ns = ReadInt32LE(file + 8), nf = ReadInt32LE(file + 12);
    if (a != passedA || b != passedB ||
        static_cast<int64_t>(nf) + static_cast<int64_t>(newCounts.size()) < kRequiredClasses)
        return Prediction(T_BAD_ARGUMENT);
    int64_t newSamples = 0;
    for (int n : newCounts) {
        if (n < 1)
            return Prediction(T_BAD_ARGUMENT);
        newSamples += n;
    }
    const int64_t length = static_cast<int64_t>(a) * b;
    const int64_t total = ns + newSamples;
    if (total < 1 || length < 1 || total > INT32_MAX || length > INT32_MAX)
        return Prediction(T_NO_SAMPLES);
    if (ns < 0 || nf < 0)
        return Prediction(T_SAMPLE_FILE_ERROR);
    // A sample longer than the file is never read whole; only the caller's
    // samples, which are short, may then count.
    if (length <= static_cast<int64_t>(size) || length <= kMaxNewLength)
        p.sum.assign(static_cast<size_t>(length), 0.0);
    size_t at = 16;
    int64_t read = 0;
    for (int32_t f = 0; f < nf; ++f) {
        if (size - at < 4)
            return Prediction(T_SAMPLE_FILE_ERROR);
        const int32_t count = ReadInt32LE(file + at);
        at += 4;
        for (int32_t s = 0; s < count; ++s) {
            if (read >= ns || static_cast<int64_t>(size - at) < length)
                return Prediction(T_SAMPLE_FILE_ERROR);
            for (int64_t k = 0; k < length; ++k)
                p.sum[static_cast<size_t>(k)] += file[at + static_cast<size_t>(k)];
            at += static_cast<size_t>(length);
            ++read;
        }
    }
    if (read != ns)
        return Prediction(T_SAMPLE_FILE_ERROR);
    for (const auto& image : images)
        for (int64_t k = 0; k < length; ++k)
            p.sum[static_cast<size_t>(k)] += image[static_cast<size_t>(k)];
    p.samples = total;
    return p;
}

// The module state a refused call must leave alone.
auto Snapshot()
{
    const CPCA* pca = g_subspaceModel.m_pPCA.get();
    return std::tuple{g_recognizerReady, g_subspaceModel.m_bPCAReady, g_subspaceModel.m_bLDAReady, pca,
                      pca != nullptr ? pca->m_nFeatureVecDim : -1, pca != nullptr ? pca->m_nTrainSampNum : -1};
}

void QuietTraining()
{
    static const bool done = [] {
        // The eigen solver reports its progress on stdout; the training here is
        // tiny, so one thread is enough.
        std::fflush(stdout);
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            close(devNull);
        }
        setenv("VELMORA_THREADS", "1", 1);
        return true;
    }();
    (void)done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxInput)
        return 0;
    velmora_fuzz::Quiet();
    QuietTraining();
    const Steering steer = Steer(data[0]);
    const uint8_t* file = data + 1;
    const size_t fileSize = size - 1;
    ScratchFile sampleFile("samples");
    if (!sampleFile.Write(file, fileSize))
        return 0;

    int32_t a = 0, b = 0, nf = 0;
    if (fileSize >= 16) {
        a = ReadInt32LE(file);
        b = ReadInt32LE(file + 4);
        nf = ReadInt32LE(file + 12);
    }
    const int32_t passedA = steer.sizeMismatch ? (a ^ 1) : a;
    const int64_t length = static_cast<int64_t>(a) * b;

    // New classes make up the total the steering byte asks for, when samples of
    // this length can be made at all (a length below 1 is refused before any
    // sample is read, so its classes need no bytes).
    std::vector<int> newCounts;
    if (length <= kMaxNewLength) {
        const int64_t wanted = static_cast<int64_t>(steer.totalClasses) - nf;
        newCounts.assign(static_cast<size_t>(wanted < 0 ? 0 : (wanted > 300 ? 300 : wanted)), 1);
        if (!newCounts.empty() && steer.secondSample)
            newCounts.front() = 2;
        if (!newCounts.empty() && steer.emptyClass)
            newCounts.back() = 0;
    }
    std::vector<std::vector<uint8_t>> images;
    std::vector<unsigned char*> pointers;
    const size_t imageLength = length >= 1 ? static_cast<size_t>(length) : 0;
    for (int n : newCounts)
        for (int s = 0; s < n; ++s) {
            std::vector<uint8_t> image(imageLength);
            for (size_t k = 0; k < image.size(); ++k)
                image[k] = static_cast<uint8_t>(images.size() * 37 + k * 11);
            images.push_back(std::move(image));
        }
    for (auto& image : images)
        pointers.push_back(image.data());
    unsigned char* anyImage = nullptr;
    unsigned char** table = pointers.empty() ? &anyImage : pointers.data();

    const Prediction expected = Predict(file, fileSize, passedA, b, newCounts, images);
    const auto before = Snapshot();
    CVelmora velmora;
    g_recognizerReady = std::get<0>(before); // constructing an object clears it
    const enumTError result = velmora.Train(table, passedA, b, static_cast<int>(newCounts.size()),
                                            newCounts.data(), sampleFile.Path());

    if (expected.code != T_OK) {
        VELMORA_FUZZ_CHECK(result == expected.code);
        VELMORA_FUZZ_CHECK(Snapshot() == before); // refused before anything was replaced
        return 0;
    }
    // Samples shorter than 300 values never give the LDA its 300 components.
    VELMORA_FUZZ_CHECK(result == T_PCA_FAILED || result == T_LDA_FAILED);
    VELMORA_FUZZ_CHECK(!g_recognizerReady && !g_subspaceModel.m_bLDAReady);
    if (result == T_LDA_FAILED) {
        const CPCA& pca = *g_subspaceModel.m_pPCA;
        VELMORA_FUZZ_CHECK(g_subspaceModel.m_bPCAReady);
        VELMORA_FUZZ_CHECK(pca.m_nFeatureVecDim == length && pca.m_nTrainSampNum == expected.samples);
        // Sums of whole numbers below 2^53 are exact in any order, so the means
        // agree to the last bit with what the walk read.
        for (size_t k = 0; k < expected.sum.size(); ++k)
            VELMORA_FUZZ_CHECK(pca.m_plfMeanVec[k] ==
                               expected.sum[k] / static_cast<double>(expected.samples));
    }
    return 0;
}
