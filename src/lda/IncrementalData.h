#pragma once
// The incremental data file: the statistics of an earlier LDA training from which
// incremental training resumes without the earlier samples.
//
// Layout (little-endian, no padding; d = dimension, Nf = stored classes):
//   20 bytes   magic "QuorvaneIncrease2.4" with its terminating zero
//   int32      Nf
//   int32      d
//   d doubles  sum of all stored samples (a sum, not a mean)
//   Nf times:  d doubles class mean, int32 class sample count
//   d*d doubles within-class scatter sum of (x - mean)(x - mean)^T, row-major,
//              not divided by any count
// Bytes after the matrix are ignored. A negative Nf stands for no class records.
#include <cstdint>

constexpr int kIncreaseMagicSize = 20;
extern const char g_szIncreaseMagic[kIncreaseMagicSize];

// The running sample sum of incremental training holds this many components.
constexpr int kIncreaseMaxDim = 1024;

// Bytes that a file announcing nClassNum classes of dimension nDim needs, up to the
// end of the scatter matrix; a negative nClassNum counts as 0.
uint64_t IncreaseFileSize(int nClassNum, int nDim);

// Opens the file, checks the magic and reads Nf and d. False when the file does not
// open, is shorter than the header, carries another magic, has d outside
// 1..kIncreaseMaxDim, or is shorter than the contents its header announces (so a
// caller may allocate from Nf and d without trusting them further).
bool ReadIncreaseFileHeader(const char* path, int* pnClassNum, int* pnDim);

// Reads the contents into arrays sized for nClassNum classes of nDim components:
// plfSum (nDim), pplfClassMeans (nClassNum rows of nDim), pnClassSampNum (nClassNum),
// plfScatter (nDim * nDim). A nClassNum below 1 reads no class records, and the class
// arrays may then be null. False on a missing array, a header that disagrees with
// nClassNum and nDim, another magic or a short read; the arrays may then hold part
// of the file.
bool ReadIncreaseFileData(const char* path, double* plfSum, double** pplfClassMeans,
                          double* plfScatter, int nClassNum, int* pnClassSampNum, int nDim);
