// No reader may allocate more than a small multiple of its input, whatever the
// header says. Every operator new of this program is metered, so the peak heap
// of each reader and its largest single request (granted or not) are measured
// directly, in every build: the library sizes all its buffers through new.
#include "support/Common.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include <velmora/Velmora.h>

#include "support/MessageCapture.h"
#include "support/ReaderCases.h"

namespace {

// Heap meter behind the replaced operators below: bytes live now, the highest
// value since the last reset, and the largest single request.
struct Meter {
    size_t live = 0;
    size_t peak = 0;
    size_t largest = 0;
};
Meter g_meter;
// Before each block: its size, then the distance from the malloc'd start (a
// multiple of the alignment, at least 16).
constexpr size_t kPrefix = 16;

void* Allocate(size_t size, size_t align = kPrefix) noexcept
{
    g_meter.largest = std::max(g_meter.largest, size);
    const size_t prefix = std::max(kPrefix, align);
    if (size > SIZE_MAX - 2 * prefix)
        return nullptr;
    void* block = std::aligned_alloc(prefix, (size + 2 * prefix - 1) / prefix * prefix);
    if (block == nullptr)
        return nullptr;
    char* p = static_cast<char*>(block) + prefix;
    reinterpret_cast<size_t*>(p)[-2] = size;
    reinterpret_cast<size_t*>(p)[-1] = prefix;
    g_meter.live += size;
    g_meter.peak = std::max(g_meter.peak, g_meter.live);
    return p;
}

// Not inlined: the compiler would otherwise see a block from operator new
// freed at an offset, and warn.
__attribute__((noinline)) void Release(void* p) noexcept
{
    if (p == nullptr)
        return;
    const size_t* header = static_cast<size_t*>(p);
    g_meter.live -= header[-2];
    std::free(static_cast<char*>(p) - header[-1]);
}

} // namespace

void* operator new(size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void* operator new(size_t size, std::align_val_t align)
{
    if (void* p = Allocate(size, static_cast<size_t>(align)))
        return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(align));
}
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

using namespace velmora_test;

namespace {

// Every reader with what it may allocate per byte of its file and in fixed
// working space. A plain reader holds about its file. Train turns every sample
// byte into a double behind a row pointer (at most 16 bytes per file byte, for
// one-byte samples) and then trains a PCA, whose matrix products work in
// fixed-size tiles. The incremental LDA training works on about a dozen d x d
// matrices where its file holds one.
struct ReaderInfo {
    const char* name;
    Reader read;
    size_t perFileByte;
    size_t fixed;
};
constexpr size_t kKiB = 1024;
const ReaderInfo kReaders[] = {
    {"LoadModel", LoadModelFile, 2, 64 * kKiB},
    {"ReadPCAFile", ReadPcaBlock, 2, 64 * kKiB},
    {"CIncreaseStatistics::Load", LoadIncreaseFile, 2, 64 * kKiB},
    {"CImage::Load", LoadImageFile, 2, 64 * kKiB},
    {"CVelmora::Train", TrainFromSampleFile, 16, 4096 * kKiB},
    {"CLDA::IncreaseTrainLDA", IncreaseTrainLDAFromFile, 16, 64 * kKiB},
};
constexpr int kTrainReader = 4;
constexpr int kIncreaseTrainReader = 5;

struct ReaderCase {
    std::string what;
    std::string fileName; // the image reader is chosen by the extension
    int reader;           // index into kReaders
    Bytes bytes;
    bool loads;
};

// Valid files of a megabyte or so (so that the multiple, not the fixed slack,
// decides) and the same files with their counts turned hostile.
std::vector<ReaderCase> Cases()
{
    std::vector<ReaderCase> cases;
    const auto add = [&cases](const std::string& what, const char* file, int reader, const Bytes& bytes) {
        cases.push_back({what, file, reader, bytes, what.find("valid") != std::string::npos});
    };
    const int d = 1500, k = 80;
    const Bytes model = ModelFileBytes(d, k, 40);
    const size_t lda = ModelLdaCountsOffset(d, k);
    for (const int reader : {0, 1}) {
        const std::string name = kReaders[reader].name;
        add(name + " valid", "m.bin", reader, model);
        add(name + " D = 2^31-1", "m.bin", reader, With(model, 4, INT_MAX));
        add(name + " K = 2^31-1", "m.bin", reader, With(model, 8, INT_MAX));
        add(name + " N, D, K = 2^31-1, header only", "m.bin", reader,
            With(With(With(Bytes(12), 0, INT_MAX), 4, INT_MAX), 8, INT_MAX));
    }
    add("LoadModel L = 2^31-1", "m.bin", 0, With(model, lda + 4, INT_MAX));
    add("LoadModel E = 2^31-1", "m.bin", 0, With(model, lda + 8, INT_MAX));
    add("LoadModel L, E = 2^31-1", "m.bin", 0, With(With(model, lda + 4, INT_MAX), lda + 8, INT_MAX));

    const Bytes increase = IncreaseFileBytes(40, 300);
    for (const int reader : {2, kIncreaseTrainReader}) {
        const std::string name = kReaders[reader].name;
        add(name + " valid", "i.inc", reader, increase);
        add(name + " Nf = 2^31-1", "i.inc", reader, With(increase, 20, INT_MAX));
        add(name + " d = 1024", "i.inc", reader, With(increase, 24, 1024));
        add(name + " d = 2^31-1", "i.inc", reader, With(increase, 24, INT_MAX));
    }

    const Bytes bmp = BmpBytes(1001, 1000, 8), img = ImgBytes(1000, 1000, 1000000);
    add("BMP 8-bit valid", "b.bmp", 3, bmp);
    add("BMP 24-bit valid", "b.bmp", 3, BmpBytes(577, 600, 24));
    add("BMP 65535 x 65535", "b.bmp", 3, With(With(bmp, 18, 65535), 22, 65535));
    add("BMP 2^31-1 x 2^31-1", "b.bmp", 3, With(With(bmp, 18, INT_MAX), 22, INT_MAX));
    add("BMP 2^31-1 colours", "b.bmp", 3, With(bmp, 46, INT_MAX));
    add("PGM valid", "p.pgm", 3, PgmBytes(1000, 1000, 1000000));
    add("PGM 65535 x 65535", "p.pgm", 3, PgmBytes(65535, 65535, 1000000));
    add("PGM 2^31-1 x 2^31-1", "p.pgm", 3, PgmBytes(INT_MAX, INT_MAX, 1000000));
    add("img valid", "g.img", 3, img);
    add("img 65535 x 65535", "g.img", 3, With(With(img, 0, 65535, 2), 2, 65535, 2));
    add("raw valid", "r.raw", 3, RawBytes());

    // 210 classes of 300 samples of 16 bytes: the PCA that follows the read is
    // 16 x 16, so the sample rows decide the peak.
    const Bytes samples = SampleFileBytes(4, 4, 210, 300);
    const int t = kTrainReader;
    add("Train valid", "s.bin", t, samples);
    add("Train Ns = 2^31-1", "s.bin", t, With(samples, 8, INT_MAX));
    add("Train Nf = 2^31-1", "s.bin", t, With(samples, 12, INT_MAX));
    add("Train Ns, Nf = 2^31-1, header only", "s.bin", t,
        With(With(SampleFileBytes(4, 4, 0, 0), 8, INT_MAX), 12, INT_MAX));
    add("Train A x B = 2^30", "s.bin", t, With(With(samples, 0, 32768), 4, 32768));
    add("Train A = 2^31-1", "s.bin", t, With(samples, 0, INT_MAX));
    add("Train first class count 2^31-1", "s.bin", t, With(samples, 16, INT_MAX));
    return cases;
}

size_t Allowance(const ReaderCase& c)
{
    const ReaderInfo& reader = kReaders[c.reader];
    return reader.perFileByte * c.bytes.size() + reader.fixed;
}

} // namespace

TEST(HostileMemory, NoReaderAllocatesMoreThanASmallMultipleOfItsFile)
{
    MessageCapture quiet;
    ScratchDir dir;
    for (const ReaderCase& c : Cases()) {
        const std::string path = dir.Write(c.fileName, c.bytes);
        g_meter.peak = g_meter.live;
        g_meter.largest = 0;
        const size_t before = g_meter.live;
        EXPECT_EQ(kReaders[c.reader].read(path), c.loads) << c.what;
        const size_t peak = g_meter.peak - before;
        EXPECT_LE(peak, Allowance(c)) << c.what;
        EXPECT_LE(g_meter.largest, Allowance(c)) << c.what;
        std::printf("%-40s file %9zu  peak heap %9zu (%.2f x)  largest block %9zu\n", c.what.c_str(),
                    c.bytes.size(), peak, static_cast<double>(peak) / c.bytes.size(), g_meter.largest);
    }
}

TEST(HostileMemory, SizeCheckedCompareNeverBelievesTheHeader)
{
    const CVelmora velmora;
    unsigned char a[16] = {}, b[16] = {};
    WriteInt32LE(a, INT_MAX);
    WriteInt32LE(a + 4, INT_MAX);
    WriteInt32LE(b, 1);
    WriteInt32LE(b + 4, 1);
    g_meter.peak = g_meter.live;
    g_meter.largest = 0;
    const size_t before = g_meter.live;
    EXPECT_EQ(velmora.CompareTemplate(a, sizeof a, b, sizeof b, 1), -1.0);
    EXPECT_EQ(velmora.CompareTemplate(b, sizeof b, a, sizeof a, 3), -1.0);
    EXPECT_LE(g_meter.peak - before, 1024u);
}
