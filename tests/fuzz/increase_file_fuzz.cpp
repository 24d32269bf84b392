// The incremental data file through its two readers, sized as the header says,
// and through the statistics object that loads and saves it: what loads must
// save back to the very bytes that were read.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "common/ByteOrder.h"
#include "lda/IncreaseStatistics.h"
#include "lda/IncrementalData.h"

using velmora_fuzz::ScratchFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velmora_fuzz::Quiet();
    ScratchFile file("increase");
    if (!file.Write(data, size))
        return 0;

    int nClassNum = 0;
    int nDim = 0;
    if (ReadIncreaseFileHeader(file.Path().c_str(), &nClassNum, &nDim)) {
        // The header reader vouches that the file is one (its magic, Nf and d as
        // stored) and holds what Nf and d announce.
        VELMORA_FUZZ_CHECK(std::memcmp(data, g_szIncreaseMagic, kIncreaseMagicSize) == 0);
        VELMORA_FUZZ_CHECK(nClassNum == ReadInt32LE(data + 20) && nDim == ReadInt32LE(data + 24));
        VELMORA_FUZZ_CHECK(nDim >= 1 && nDim <= kIncreaseMaxDim);
        VELMORA_FUZZ_CHECK(IncreaseFileSize(nClassNum, nDim) <= size);
        const size_t d = static_cast<size_t>(nDim);
        const size_t classes = nClassNum < 0 ? 0 : static_cast<size_t>(nClassNum);
        std::vector<double> sum(d), scatter(d * d);
        std::vector<std::vector<double>> means(classes, std::vector<double>(d));
        std::vector<double*> rows(classes);
        for (size_t i = 0; i < classes; ++i)
            rows[i] = means[i].data();
        std::vector<int> counts(classes);
        VELMORA_FUZZ_CHECK(ReadIncreaseFileData(file.Path().c_str(), sum.data(),
                                                rows.empty() ? nullptr : rows.data(), scatter.data(),
                                                nClassNum, counts.empty() ? nullptr : counts.data(),
                                                nDim));
        // The sum follows the header, the scatter the class records (none for a negative Nf).
        VELMORA_FUZZ_CHECK(std::memcmp(sum.data(), data + 28, 8 * d) == 0);
        VELMORA_FUZZ_CHECK(std::memcmp(scatter.data(), data + 28 + 8 * d + classes * (8 * d + 4), 8 * d * d) == 0);
        // A call that disagrees with the file is refused.
        VELMORA_FUZZ_CHECK(!ReadIncreaseFileData(file.Path().c_str(), sum.data(), rows.data(),
                                                 scatter.data(), nClassNum, counts.data(), nDim + 1));
    }

    // A negative class count is saved as none: only the magic must come back then.
    CIncreaseStatistics statistics;
    if (statistics.Load(file.Path().c_str()))
        velmora_fuzz::CheckWrittenBack([&](const std::string& path) { return statistics.Save(path.c_str()); }, data, size,
                                       ReadInt32LE(data + 20) >= 0 ? SIZE_MAX : 20);
    return 0;
}
