#pragma once
// Normalised faces of a set of people, taken either from a folder holding one
// folder of photos per person or from a face file (a sample file of 64 x 64 faces).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CommandContext.h"
#include "Dataset.h"
#include "GreyImage.h"
#include "SampleFile.h"

namespace velmora_cli {

class Recognizer;

// How people and photos are chosen from a folder-per-person image set.
struct DatasetOptions {
    std::string dataset;               // one folder per person (or, where allowed, a face file)
    std::string excludeList;           // file of person names to leave out
    int minImages = 1;                 // people with fewer usable faces are left out
    int maxPerPerson = 0;              // 0: every image
    std::optional<EyePair> eyes;       // fixed eyes for pre-aligned photos, instead of finding faces
};

struct FaceCounts {
    long images = 0;                   // image files seen
    long withoutFace = 0;
    long unreadable = 0;
    long peopleLeftOut = 0;            // fewer usable faces than asked
};

struct CollectedFaces : FaceCounts {
    SampleSet faces;                   // 64 x 64 normalised faces, one class per person kept
    std::vector<std::string> people;   // names of the people kept (empty for a face file)
};

// The photos of the people; throws CliError (kExitInput) when there are none.
long CountImages(const std::vector<Person>& people, const std::string& dataset);

// Hands onPerson, in the order of `people`, each person's normalised faces
// (at most options.maxPerPerson, 64 x 64 bytes each, in photo order) and
// whether they are kept: options.minImages of them or more. context.jobs
// workers read the photos and find their faces. People with fewer photos than
// minImages are left out unsearched, photos that cannot be read are skipped
// with a note on context.err. Throws CliError when the people have no photos.
void FindPeopleFaces(
    const std::vector<Person>& people, const DatasetOptions& options, Recognizer& recognizer,
    const CommandContext& context, const std::string& label, FaceCounts& counts,
    const std::function<void(const Person&, const std::vector<unsigned char>& faces, bool kept)>& onPerson);

// Finds, cuts and normalises the faces of every person in options.dataset,
// skipping photos that cannot be read (with a note on context.err) or hold no face.
// Throws CliError when the folder is missing, holds no images or no person keeps
// enough faces.
CollectedFaces CollectDatasetFaces(const DatasetOptions& options, Recognizer& recognizer,
                                   const CommandContext& context);

// A face file's faces; throws CliError when it is no face file.
CollectedFaces ReadFaceFile(const std::string& path);

// options.dataset as a face file when it is a file, else as a folder of people.
CollectedFaces CollectFaces(const DatasetOptions& options, Recognizer& recognizer,
                            const CommandContext& context);

} // namespace velmora_cli
