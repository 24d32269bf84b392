#pragma once
// Valid files of every format the library reads, built independently of the
// library's writers, and the readers themselves behind one signature, for the
// hostile-input suites that treat all readers alike.
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <algorithm>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "common/File.h"
#include "image/Image.h"
#include "lda/IncreaseStatistics.h"
#include "lda/LDA.h"
#include "pca/PCA.h"
#include "pca/SubspaceModel.h"
#include "support/HandModel.h"
#include "support/ScratchDir.h"

namespace velmora_test {

// A reader takes a path and reports whether it loaded.
using Reader = std::function<bool(const std::string& path)>;

inline bool LoadModelFile(const std::string& path)
{
    CSubspaceModel model;
    return model.LoadModel(path, 0);
}

inline bool ReadPcaBlock(const std::string& path)
{
    CPCA pca;
    return pca.ReadPCAFile(path, 0);
}

inline bool LoadIncreaseFile(const std::string& path)
{
    CIncreaseStatistics statistics;
    return statistics.Load(path.c_str());
}

// CImage picks its reader from the extension of the path.
inline bool LoadImageFile(const std::string& path)
{
    CFile file;
    CImage image;
    return file.Open(path, CFile::modeRead) && image.Load(&file) == 1;
}

// The first n bytes of a file (fewer when it is shorter).
inline Bytes FileHead(const std::string& path, size_t n)
{
    Bytes head = ReadBytes(path);
    head.resize(std::min(n, head.size()));
    return head;
}

// Train with no new classes and the sample sizes the file announces: loaded
// when the samples were read and the training ran (the LDA stage of a small
// sample then refuses, which is not the reader's business).
inline bool TrainFromSampleFile(const std::string& path)
{
    const std::vector<unsigned char> head = FileHead(path, 8);
    const int32_t a = head.size() == 8 ? ReadInt32LE(head.data()) : 0;
    const int32_t b = head.size() == 8 ? ReadInt32LE(head.data() + 4) : 0;
    unsigned char* none = nullptr;
    CVelmora velmora;
    const enumTError result = velmora.Train(&none, a, b, 0, nullptr, path);
    return result == T_OK || result == T_PCA_FAILED || result == T_LDA_FAILED;
}

// The LDA's incremental training on the file's statistics alone, with the
// dimension the file announces.
inline bool IncreaseTrainLDAFromFile(const std::string& path)
{
    const std::vector<unsigned char> head = FileHead(path, 28);
    const int32_t d = head.size() == 28 ? ReadInt32LE(head.data() + 24) : 1;
    CLDA lda;
    return lda.IncreaseTrainLDA(nullptr, 0, nullptr, d, path.c_str());
}

inline void PutInt32(Bytes& bytes, size_t offset, int32_t value)
{
    WriteInt32LE(bytes.data() + offset, value);
}

// The bytes with a 32-bit (or, size 2, 16-bit) field at offset replaced.
inline Bytes With(Bytes bytes, size_t offset, int32_t value, int size = 4)
{
    if (size == 2)
        WriteUInt16LE(bytes.data() + offset, static_cast<uint16_t>(value));
    else
        PutInt32(bytes, offset, value);
    return bytes;
}

// Model file of D features, K PCA vectors, S = 2 skipped and L LDA vectors.
inline Bytes ModelFileBytes(int d, int k, int l)
{
    return ToBytes(BasisModel(d, k, 2, l).Bytes());
}

// Offsets of the counts inside ModelFileBytes(d, k, l).
inline size_t ModelLdaCountsOffset(int d, int k)
{
    return 12 + 17 * static_cast<size_t>(d) + 8 * static_cast<size_t>(k) * (1 + d);
}

// Incremental data file of nf classes of dimension d with small made-up values.
inline Bytes IncreaseFileBytes(int nf, int d)
{
    Bytes bytes(std::begin("QuorvaneIncrease2.4"), std::end("QuorvaneIncrease2.4"));
    bytes.resize(28);
    PutInt32(bytes, 20, nf);
    PutInt32(bytes, 24, d);
    auto put = [&bytes](double v) {
        unsigned char b[8];
        WriteDoubleLE(b, v);
        bytes.insert(bytes.end(), b, b + 8);
    };
    for (int j = 0; j < d; ++j)
        put(3.0 * j);
    for (int i = 0; i < nf; ++i) {
        for (int j = 0; j < d; ++j)
            put(i + 0.5 * j);
        bytes.resize(bytes.size() + 4);
        PutInt32(bytes, bytes.size() - 4, 3);
    }
    for (int i = 0; i < d * d; ++i)
        put(i % (d + 1) == 0 ? 2.0 : 0.0);
    return bytes;
}

// Training sample file of a x b byte samples, `classes` classes of perClass
// samples each, written field by field.
inline Bytes SampleFileBytes(int a, int b, int classes, int perClass)
{
    const size_t length = static_cast<size_t>(a) * static_cast<size_t>(b);
    Bytes bytes(16);
    PutInt32(bytes, 0, a);
    PutInt32(bytes, 4, b);
    PutInt32(bytes, 8, classes * perClass);
    PutInt32(bytes, 12, classes);
    for (int c = 0; c < classes; ++c) {
        bytes.resize(bytes.size() + 4);
        PutInt32(bytes, bytes.size() - 4, perClass);
        for (size_t k = 0; k < static_cast<size_t>(perClass) * length; ++k)
            bytes.push_back(static_cast<unsigned char>(c * 31 + k * 7 + (k * k) % 13));
    }
    return bytes;
}

// Bottom-up 8-bit BMP with a 256-entry grey table, or 24-bit without a table.
inline Bytes BmpBytes(int width, int height, int bits)
{
    const int colors = bits == 8 ? 256 : 0;
    const int stride = ((width * bits + 31) / 32) * 4;
    const size_t pixelsAt = 54 + 4 * static_cast<size_t>(colors);
    Bytes bytes(pixelsAt + static_cast<size_t>(stride) * height, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutInt32(bytes, 2, static_cast<int32_t>(bytes.size()));
    PutInt32(bytes, 10, static_cast<int32_t>(pixelsAt));
    PutInt32(bytes, 14, 40);
    PutInt32(bytes, 18, width);
    PutInt32(bytes, 22, height);
    WriteUInt16LE(bytes.data() + 26, 1);
    WriteUInt16LE(bytes.data() + 28, static_cast<uint16_t>(bits));
    for (int i = 0; i < colors; ++i)
        bytes[54 + 4 * i] = bytes[55 + 4 * i] = bytes[56 + 4 * i] = static_cast<unsigned char>(i);
    for (size_t i = pixelsAt; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7);
    return bytes;
}

// Binary PGM with the four header lines the reader expects.
inline Bytes PgmBytes(int width, int height, size_t pixels)
{
    const std::string header = "P5\n# made by hand\n" + std::to_string(width) + " " +
                               std::to_string(height) + "\n255\n";
    Bytes bytes = ToBytes(header);
    for (size_t i = 0; i < pixels; ++i)
        bytes.push_back(static_cast<unsigned char>(i * 13));
    return bytes;
}

// img: 16-bit width and height, then the pixel bytes.
inline Bytes ImgBytes(int width, int height, size_t pixels)
{
    Bytes bytes(4 + pixels);
    for (size_t i = 4; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 29);
    WriteUInt16LE(bytes.data(), static_cast<uint16_t>(width));
    WriteUInt16LE(bytes.data() + 2, static_cast<uint16_t>(height));
    return bytes;
}

// dat / raw: a 32-byte header and the 512 x 342 frame.
inline Bytes RawBytes()
{
    Bytes bytes(32 + 512 * 342);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 3);
    return bytes;
}

} // namespace velmora_test
