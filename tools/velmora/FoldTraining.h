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

inline const char* RecipeName(TrainRecipe recipe)
{
    return recipe == TrainRecipe::Refit ? "refit" : "train";
}

// A sample file with its names and, for the refit recipe, its faces.
struct TrainingSet {
    std::string path;
    SampleSet samples;
    std::vector<std::string> names; // one per class
    SampleSet faces;                // empty unless loaded
};

// Throws CliError (kExitInput) when a file is missing or the side files do not match the samples.
TrainingSet LoadTrainingSet(const std::string& samplesPath, bool withFaces);

// What a model is trained on beyond the samples themselves.
struct TrainingChoices {
    TrainRecipe recipe = TrainRecipe::Train;
    int refitDimensions = 0; // refit: principal components used, 0 for all the model has
    bool mirror = false;     // refit: every face's mirror image joins its person
    bool singles = false;    // refit: people with one face join it alone, as six faces (see AugmentFace)
    int maxPerPerson = 0;    // the first this many faces of each person, 0 for all
    std::string statsFile;   // refit: also write the statistics of its faces here, for adding people later
};

struct TrainedFold {
    int people = 0;           // people the principal stage learnt from
    long samples = 0;
    int refitPeople = 0;      // refit: people the discriminant stage learnt from
    long refitFaces = 0;
    int refitDimensions = 0; // refit recipe: components the discriminant stage was refit on
    double seconds = 0.0;
};

// Trains the library's model on the classes whose names are not in leaveOut;
// with choices.singles the people with one sample are kept for the refit only,
// as a principal stage learns nothing from a person seen once. Afterwards the
// recognizer's templates use it. scratchFolder receives the small files the
// library calls need (an empty sample file, the refit model).
// Throws CliError (kExitFailure) when training fails.
TrainedFold TrainWithout(Recognizer& recognizer, TrainingSet& set, const std::set<std::string>& leaveOut,
                         const TrainingChoices& choices, const std::string& scratchFolder,
                         bool countersToStderr);

} // namespace velmora_cli
