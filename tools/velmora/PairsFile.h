#pragma once
// Verification pairs in the LFW list format: a header line "FOLDS<TAB>N", then
// per fold N same-person lines "Name<TAB>i<TAB>j" followed by N
// different-person lines "Name1<TAB>i<TAB>Name2<TAB>j". Photo i of Name is
// Name/Name_%04d.jpg under the image folder, or in a set named otherwise the
// photo of folder Name whose file name ends in the number i (s7/3.pgm).
#include <set>
#include <string>
#include <vector>

namespace velmora_cli {

struct FacePair {
    std::string nameA;
    int imageA = 0;
    std::string nameB;
    int imageB = 0;
    bool same = false;
};

struct PairFold {
    std::vector<FacePair> pairs;
    std::set<std::string> People() const;
};

// Throws CliError (kExitInput) when the file cannot be read, naming the line
// of anything that does not follow the format.
std::vector<PairFold> ReadPairsFile(const std::string& path);

// DIR/Name/Name_0003.jpg when it exists, else DIR/Name/<photo numbered 3>;
// the LFW name when neither exists.
std::string PairImagePath(const std::string& folder, const std::string& name, int image);

} // namespace velmora_cli
