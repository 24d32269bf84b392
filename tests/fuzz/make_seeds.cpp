// Writes the seed corpus of every fuzz program with the library's own writers:
//   fuzz_make_seeds <folder>     (the committed corpus is tests/fuzz/corpus)
// Seeds are kept tiny: the fuzzer only needs one valid example of each shape.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include <tarvik/FaceLocation.h>

#include "SampleFile.h"
#include "common/ByteOrder.h"
#include "common/File.h"
#include "image/Image.h"
#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

fs::path g_root;

fs::path Seed(const std::string& target, const std::string& name)
{
    fs::create_directories(g_root / target);
    return g_root / target / name;
}

void WriteSeed(const std::string& target, const std::string& name, const Bytes& bytes)
{
    std::ofstream(Seed(target, name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Check(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "fuzz_make_seeds: %s failed\n", what);
    return ok;
}

// D = 6 features, K = 4 PCA vectors, S = 1 skipped, L = 2 LDA vectors of E = 3.
bool ModelSeeds()
{
    CSubspaceModel model;
    model.m_pPCA = std::make_unique<CPCA>();
    model.m_pLDA = std::make_unique<CLDA>();
    CPCA& pca = *model.m_pPCA;
    pca.m_nTrainSampNum = 9;
    pca.m_nFeatureVecDim = 6;
    pca.m_nMaxValidEigenVecNum = 4;
    if (!Check(pca.AllocLoadMemory(), "PCA arrays"))
        return false;
    for (int j = 0; j < 6; ++j) {
        pca.m_pbyMeanVec[j] = static_cast<unsigned char>(20 * j);
        pca.m_plfMeanVec[j] = 20.25 * j;
        pca.m_plfStdDevVec[j] = j == 2 ? 0.0 : 1.5 + j;
    }
    for (int i = 0; i < 4; ++i) {
        pca.m_plfEigenVals[i] = 8.0 / (i + 1);
        for (int j = 0; j < 6; ++j)
            pca.m_pplfEigenVecs[i][j] = i == j ? 1.0 : 0.0;
    }
    CLDA& lda = *model.m_pLDA;
    lda.m_nFeatureVecDim = 3;
    lda.m_nValidEigenNum = 2;
    lda.m_nClassNum = 3;
    if (!Check(lda.AllocMemory(), "LDA arrays"))
        return false;
    for (int i = 0; i < 2; ++i) {
        lda.m_plfEigenVals[i] = 3.0 - i;
        for (int j = 0; j < 3; ++j)
            lda.m_pplfEigenVecs[i][j] = (i + 1) * 0.5 - j * 0.25;
    }
    for (int j = 0; j < 3; ++j)
        lda.m_plfMeanVec[j] = -0.5 * j;
    lda.m_bLDAReady = 1;
    model.m_bLDAReady = true;
    model.m_bPCAReady = true;
    model.m_nPCAEigenUsed = 4;
    model.m_nPCAEigenSkipped = 1;
    return Check(model.SaveModel(Seed("model_file", "all-vectors").string(), 0), "SaveModel") &&
           Check(model.SaveModel(Seed("model_file", "one-lda-vector").string(), 1), "SaveModel");
}

bool IncreaseSeeds()
{
    CIncreaseStatistics statistics;
    if (!Check(statistics.Reset(3), "Reset") ||
        !Check(statistics.Save(Seed("increase_file", "no-classes").string().c_str()), "Save"))
        return false;
    const double samples[5][3] = {{1, 2, 0}, {3, 4, 1}, {0, 0, 2}, {2, 0, 2}, {4, 3, 5}};
    const double* rows[5] = {samples[0], samples[1], samples[2], samples[3], samples[4]};
    const int counts[2] = {2, 3};
    return Check(statistics.AddClasses(rows, 2, counts, 3), "AddClasses") &&
           Check(statistics.Save(Seed("increase_file", "two-classes").string().c_str()), "Save");
}

// A small image in stored layout with a grey palette (8 bits) or none (24 bits).
void MakeImage(CImage& image, int width, int height, int bits)
{
    const int colors = bits == 8 ? 256 : 0;
    const int stride = CImage::WidthBytes(width, bits);
    image.m_dwDIBSize = static_cast<uint32_t>(40 + 4 * colors + stride * height);
    image.AllocDIB(false);
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<uint16_t>(bits);
    image.SetHeader(header);
    image.m_pBits = image.GetDIB() + 40 + 4 * colors;
    for (int i = 0; i < stride * height; ++i)
        image.m_pBits[i] = static_cast<unsigned char>(i * 29 + 7);
    image.SetDIBLayout(1);
    image.ToRasterLayout();
    image.ToDIBLayout(); // zero padding, as a reader leaves it
    if (colors != 0)
        image.CreateGreyPalette();
}

Bytes Saved(CImage& image, const std::string& name)
{
    const fs::path path = g_root / name;
    {
        CFile file;
        file.Open(path.string(), CFile::modeCreate | CFile::modeWrite);
        image.Save(&file);
    }
    Bytes bytes = ReadFile(path);
    fs::remove(path);
    return bytes;
}

bool ImageSeeds()
{
    CImage grey, colour;
    MakeImage(grey, 5, 3, 8);
    MakeImage(colour, 3, 2, 24);
    WriteSeed("image_bmp", "grey-5x3", Saved(grey, "s.bmp"));
    WriteSeed("image_bmp", "colour-3x2", Saved(colour, "s.bmp"));

    // The PGM reader wants four header lines; the writer makes three, so the
    // comment line is added to a second seed.
    const Bytes pgm = Saved(grey, "s.pgm");
    WriteSeed("image_pgm", "written", pgm);
    Bytes commented(pgm.begin(), pgm.begin() + 3);
    const std::string comment = "# seed\n";
    commented.insert(commented.end(), comment.begin(), comment.end());
    commented.insert(commented.end(), pgm.begin() + 3, pgm.end());
    WriteSeed("image_pgm", "with-comment", commented);

    // img: 16-bit width and height, then the bytes as they stand.
    const Bytes rawGrey = Saved(grey, "s.raw");
    Bytes img(4);
    WriteUInt16LE(img.data(), 5);
    WriteUInt16LE(img.data() + 2, 3);
    img.insert(img.end(), rawGrey.begin(), rawGrey.end());
    WriteSeed("image_img", "grey-5x3", img);
    Bytes imgColour(4);
    WriteUInt16LE(imgColour.data(), 3);
    WriteUInt16LE(imgColour.data() + 2, 2);
    imgColour.insert(imgColour.end(), colour.m_pBits, colour.m_pBits + 2 * CImage::WidthBytes(3, 24));
    WriteSeed("image_img", "colour-3x2", imgColour);

    // raw: first byte sets the file length to 175072 + byte; 64 gives the exact
    // 32-byte header and 512 x 342 frame, 32 the frame alone (refused).
    for (const unsigned char lengthByte : {64, 32}) {
        Bytes raw{lengthByte};
        raw.insert(raw.end(), 32, 0xAA);
        raw.insert(raw.end(), rawGrey.begin(), rawGrey.end());
        WriteSeed("image_raw", lengthByte == 64 ? "frame" : "short", raw);
    }
    return true;
}

Bytes Template(int count, int dimension, double base)
{
    Bytes bytes(8 + 8 * static_cast<size_t>(count) * dimension);
    WriteInt32LE(bytes.data(), count);
    WriteInt32LE(bytes.data() + 4, dimension);
    for (int i = 0; i < count * dimension; ++i)
        WriteDoubleLE(bytes.data() + 8 + 8 * i, base + (i % 5) - 0.75 * (i % 3));
    return bytes;
}

bool CompareSeeds()
{
    // Mode byte, 16-bit length of the first buffer, the first buffer, the second.
    const struct {
        const char* name;
        int mode;
        Bytes a, b;
    } seeds[] = {
        {"max-1x4-2x4", 1, Template(1, 4, 0.5), Template(2, 4, 1.0)},
        {"mean-3x4-2x4", 2, Template(3, 4, -0.5), Template(2, 4, 2.0)},
        {"line-1x4-3x4", 3, Template(1, 4, 0.25), Template(3, 4, 1.5)},
    };
    for (const auto& seed : seeds) {
        Bytes input{static_cast<unsigned char>(seed.mode), 0, 0};
        WriteUInt16LE(input.data() + 1, static_cast<uint16_t>(seed.a.size()));
        input.insert(input.end(), seed.a.begin(), seed.a.end());
        input.insert(input.end(), seed.b.begin(), seed.b.end());
        WriteSeed("compare_template", seed.name, input);
    }
    return true;
}

// Train's input: a steering byte (low two bits: the call adds classes up to
// 209 + bits; 16: two samples in its first class), then a sample file written
// by the velmora tool's writer.
bool TrainSeeds()
{
    const struct {
        const char* name;
        unsigned char control;
        int32_t a, b;
        std::vector<int> classSizes;
    } seeds[] = {
        {"empty-file-3x2", 0x01, 3, 2, {}},
        {"three-classes-3x2", 0x11, 3, 2, {2, 1, 3}},
        {"all-classes-2x2", 0x01, 2, 2, std::vector<int>(210, 1)},
    };
    for (const auto& seed : seeds) {
        const fs::path path = g_root / "samples.bin";
        try {
            velmora_cli::SampleFileWriter writer(path.string(), seed.a, seed.b);
            int next = 0;
            for (const int n : seed.classSizes) {
                Bytes samples(static_cast<size_t>(n * seed.a * seed.b));
                for (unsigned char& v : samples)
                    v = static_cast<unsigned char>(next++ * 53 + 17);
                writer.AddClass(samples);
            }
            writer.Finish();
        } catch (const std::exception& e) {
            return Check(false, e.what());
        }
        Bytes input{seed.control};
        const Bytes file = ReadFile(path);
        input.insert(input.end(), file.begin(), file.end());
        fs::remove(path);
        WriteSeed("train_file", seed.name, input);
    }
    return true;
}

// IncreaseTrain's input: a steering byte (1: two new classes, 2: two faces in
// the first, 4 and 8: the LDA dimension against the file's), then the file.
bool IncreaseTrainSeeds()
{
    const struct {
        const char* name;
        unsigned char control;
        int dim;
        std::vector<int> counts;
    } seeds[] = {
        {"three-classes-d3", 0x00, 3, {2, 3, 2}},
        {"no-classes-d2", 0x03, 2, {}},
        {"one-class-d4-one-more", 0x09, 4, {3}},
    };
    for (const auto& seed : seeds) {
        CIncreaseStatistics statistics;
        if (!Check(statistics.Reset(seed.dim), "Reset"))
            return false;
        std::vector<std::vector<double>> samples;
        for (const int n : seed.counts)
            for (int s = 0; s < n; ++s) {
                samples.emplace_back();
                for (int j = 0; j < seed.dim; ++j)
                    samples.back().push_back(0.5 * static_cast<double>(samples.size()) +
                                             ((j * 7 + s * 3) % 5) - 0.25 * j);
            }
        std::vector<const double*> rows;
        for (const auto& row : samples)
            rows.push_back(row.data());
        const fs::path path = g_root / "increase.bin";
        if (!seed.counts.empty() &&
            !Check(statistics.AddClasses(rows.data(), static_cast<int>(seed.counts.size()),
                                         seed.counts.data(), seed.dim),
                   "AddClasses"))
            return false;
        if (!Check(statistics.Save(path.string().c_str()), "Save"))
            return false;
        Bytes input{seed.control};
        const Bytes file = ReadFile(path);
        input.insert(input.end(), file.begin(), file.end());
        fs::remove(path);
        WriteSeed("increase_train", seed.name, input);
    }
    return true;
}

// FindFaces' input: width, height, the detector's count, the caller's room,
// eye-box words 4..11 of each record, then the pixels: a light face with a dark
// disc in the middle of each eye box.
bool FindFacesSeeds()
{
    const struct {
        const char* name;
        int width, height;
        int8_t reported, room;
        std::vector<std::vector<int32_t>> boxes; // x, y, height, width of eye 1 then eye 2
    } seeds[] = {
        {"one-face-64x48", 64, 48, 1, 10, {{8, 10, 16, 21, 36, 10, 16, 20}}},
        {"three-faces-room-2", 48, 40, 3, 2,
         {{4, 6, 12, 16, 26, 6, 12, 16}, {0, 0, 40, 48, 30, 30, 20, 20}, {-5, -5, 9, 9, 40, 38, 8, 9}}},
        {"no-face", 16, 16, 0, 10, {}},
    };
    for (const auto& seed : seeds) {
        Bytes input{static_cast<unsigned char>(seed.width), static_cast<unsigned char>(seed.height),
                    static_cast<unsigned char>(seed.reported), static_cast<unsigned char>(seed.room)};
        Bytes pixels(static_cast<size_t>(seed.width * seed.height), 200);
        for (const auto& box : seed.boxes) {
            FACE_LOCATION record{};
            int32_t* words = &record.nEye1X;
            for (int w = 0; w < 8; ++w)
                words[w] = box[static_cast<size_t>(w)];
            unsigned char bytes[32];
            for (int w = 0; w < 8; ++w)
                WriteInt32LE(bytes + 4 * w, words[w]);
            input.insert(input.end(), bytes, bytes + 32);
            for (int eye = 0; eye < 2; ++eye) {
                const int cx = words[4 * eye] + words[4 * eye + 3] / 2;
                const int cy = words[4 * eye + 1] + words[4 * eye + 2] / 2;
                for (int y = 0; y < seed.height; ++y)
                    for (int x = 0; x < seed.width; ++x)
                        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 6)
                            pixels[static_cast<size_t>(y * seed.width + x)] = 20;
            }
        }
        input.insert(input.end(), pixels.begin(), pixels.end());
        WriteSeed("find_faces", seed.name, input);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <folder>\n");
        return 2;
    }
    g_root = argv[1];
    fs::create_directories(g_root);
    const bool ok = ModelSeeds() && IncreaseSeeds() && ImageSeeds() && CompareSeeds() &&
                    TrainSeeds() && IncreaseTrainSeeds() && FindFacesSeeds();
    return ok ? 0 : 1;
}
