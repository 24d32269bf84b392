#pragma once
// Pieces the commands that train share: sample sets handed to the library,
// the loaded model's size, and a scratch folder for the files library calls need.
#include <ostream>
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

class Recognizer;

// What the commands working with incremental data settle before any face is cut:
// the model (loaded into the recognizer), the earlier statistics file's people
// and the dimension, which must fit the model and the earlier file.
struct IncrementalSetup {
    std::string modelPath;
    int earlierClasses = 0;
    int dim = 0;
};
// statsFile may be empty (no earlier statistics); dimOption 0 takes the earlier
// file's dimension, else the model's K. Throws CliError on any mismatch.
IncrementalSetup PrepareIncremental(Recognizer& recognizer, const std::string& model,
                                    const std::string& statsFile, int dimOption);
// The --json report of stats and increase: the file written, the model and
// earlier people it builds on, and the faces it was made from.
void WriteIncrementalJson(std::ostream& out, const std::string& output, const IncrementalSetup& setup,
                          const SampleSet& faces, long imagesWithoutFace, double seconds);

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
