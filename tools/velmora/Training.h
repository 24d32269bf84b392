#pragma once
// Pieces the commands that train share: sample sets handed to the library,
// the loaded model's size, and a scratch folder for the files library calls need.
#include <string>
#include <vector>

#include "SampleFile.h"

namespace velmora_cli {

// Pointers to every sample of the set, in order, for the library's image arrays.
// The library's arrays are not const; the calls given these only read them.
std::vector<unsigned char*> SamplePointers(const SampleSet& samples);
// Appends one class of whole samples (the set's sizes already set); throws CliError otherwise.
void AppendClass(SampleSet& samples, const std::vector<unsigned char>& classSamples);
int ClassCount(const SampleSet& samples);

// Principal components the loaded or trained model projects onto (its K).
int ModelComponentCount();

// A new folder in the temporary folder, its name starting with `hint`, removed
// with everything in it when the object goes. Throws CliError (kExitInput) when
// it cannot be made.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& hint = "velmora");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

} // namespace velmora_cli
