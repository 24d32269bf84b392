#pragma once
// Training a model in memory on part of a sample file: every person of the
// file except those left out (the people of the fold being tested).
#include <set>
#include <string>
#include <vector>

#include "Recognizer.h"
#include "SampleFile.h"

namespace velmora_cli {

enum class TrainRecipe {
    Train, // Train on the samples
    Refit, // Train, then IncreaseTrain on the same people's faces with no earlier statistics
};

// A sample file with its names and, for the refit recipe, its faces.
struct TrainingSet {
    std::string path;
    SampleSet samples;
    std::vector<std::string> names; // one per class
    SampleSet faces;                // empty unless loaded
};

// Throws CliError (kExitInput) when a file is missing or the side files do not match the samples.
TrainingSet LoadTrainingSet(const std::string& samplesPath, bool withFaces);

struct TrainedFold {
    int people = 0;
    long samples = 0;
    int refitDimensions = 0; // refit recipe: components the discriminant stage was refit on
    double seconds = 0.0;
};

// Trains the library's model on the classes whose names are not in leaveOut
// (the refit recipe on refitDimensions components, 0 for all the model has);
// afterwards the recognizer's templates use it. scratchFolder receives the
// small files the library calls need (an empty sample file, the refit model).
// Throws CliError (kExitFailure) when training fails.
TrainedFold TrainWithout(Recognizer& recognizer, TrainingSet& set, const std::set<std::string>& leaveOut,
                         TrainRecipe recipe, int refitDimensions, const std::string& scratchFolder,
                         bool countersToStderr);

} // namespace velmora_cli
