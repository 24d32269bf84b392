#pragma once
// The velmora subcommands. Each Run function writes its result through the
// context and returns an exit code; errors are thrown as CliError.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "CommandContext.h"
#include "FaceCollection.h"
#include "FoldTraining.h"
#include "GreyImage.h"

namespace CLI {
class App;
}

namespace velmora_cli {

// Runs the tool on a command line (argv[0] is the program name) and returns its exit code.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progress);

enum class CompareMode { Max = CM_MAX, Mean = CM_MEAN, Line = CM_FEATURE_LINE };
const char* CompareModeName(CompareMode mode);

struct CompareOptions {
    std::string a;
    std::string b;
    std::string model;            // explicit --model, or empty for the default
    CompareMode mode = CompareMode::Mean;
    std::optional<double> threshold;
};
int RunCompare(const CompareOptions& options, const CommandContext& context);

struct DetectOptions {
    std::vector<std::string> images;
    std::string draw; // marked copy of the single image, or empty
};
int RunDetect(const DetectOptions& options, const CommandContext& context);

struct CutOptions {
    std::vector<std::string> images;   // several: output names a folder
    std::string output;
    std::vector<EyePair> eyes;         // none: the first face found; one: for every image; else one per image
    std::optional<int> displayWidth;   // display face of this width instead of the normalised face
};
int RunCut(const CutOptions& options, const CommandContext& context);

struct TemplateOptions {
    std::vector<std::string> images;   // one template vector per image
    std::string output;
    std::string model;
    std::optional<EyePair> eyes;       // for every image, else the first face found in each
};
int RunTemplate(const TemplateOptions& options, const CommandContext& context);

struct SamplesOptions : DatasetOptions { // dataset: one folder per person
    std::string output;
};
int RunSamples(const SamplesOptions& options, const CommandContext& context);

struct TrainOptions {
    std::string samples;
    std::string output;
    TrainRecipe recipe = TrainRecipe::Train;
    std::string faces;                 // the samples' normalised faces (refit; default: beside the samples)
    int refitDim = 0;                  // 0: every principal component of the model
    bool mirror = false;               // refit: the faces' mirror images join their people
    bool singles = false;              // refit: people with one face join, augmented
    int maxPerPerson = 0;              // the first this many faces of each person, 0 for all
    std::string statsOutput;           // refit: the statistics of its faces, for 'evaluate orl --adapt'
    std::string excludeList;           // people to leave out (names as in SAMPLES.names)
};
int RunTrain(const TrainOptions& options, const CommandContext& context);

struct EnrolOptions {
    std::string gallery;
    std::string model;
    std::string name;                  // with images: the person they show
    std::vector<std::string> images;   // photos or template files
    std::string folders;               // or: every subfolder of this folder is one person
    std::string numbers;               // with folders: photo numbers to use ("1-5"); empty: all
    std::optional<EyePair> eyes;       // fixed eyes for pre-aligned photos
};
int RunEnrol(const EnrolOptions& options, const CommandContext& context);

struct IdentifyOptions {
    std::string gallery;
    std::string model;
    std::vector<std::string> images;   // photos or template files
    std::string folders;               // or: the photos of every person folder (their name is the truth)
    std::string numbers;
    std::optional<EyePair> eyes;
    CompareMode mode = CompareMode::Line;
    int top = 1;                       // candidates shown per probe
    std::optional<double> threshold;   // else the model's calibrated one
};
int RunIdentify(const IdentifyOptions& options, const CommandContext& context);

int RunGalleryList(const std::string& gallery, const CommandContext& context);
int RunGalleryRemove(const std::string& gallery, const std::vector<std::string>& names,
                     const CommandContext& context);

struct EvaluateOrlOptions {
    std::string folder;                // one folder per person, photos numbered 1..10
    std::string model;
    std::string enrolNumbers = "1-5";
    std::string probeNumbers = "6-10";
    CompareMode mode = CompareMode::Line;
    std::optional<EyePair> eyes;
    std::optional<EyePair> fallbackEyes; // eyes for photos whose face is not found
    std::string csv;                   // per-probe results, or empty
    bool adapt = false;                // add the enrolled people to the discriminant stage first
    std::string stats;                 // statistics of the model's training (default MODEL.stats)
};
int RunEvaluateOrl(const EvaluateOrlOptions& options, const CommandContext& context);

struct EvaluateLfwOptions {
    std::string folder;                // Name/Name_0001.jpg ...
    std::string pairs;                 // the pairs list
    std::string model;                 // a fixed model (default when neither this nor trainSamples)
    std::string trainSamples;          // or: a model per fold trained on these samples
    std::string recipe;                // train or refit; empty: refit
    int refitDimensions = 0;           // 0: all components of the trained model
    bool trainMirror = false;          // refit: the faces' mirror images join their people
    bool trainSingles = false;         // refit: people with one face join, augmented
    std::string folds;                 // fold numbers, e.g. "1-5" or "5"; empty: all
    CompareMode mode = CompareMode::Mean;
    std::optional<EyePair> eyes;       // fixed eyes for every photo instead of finding the face
    std::optional<EyePair> fallbackEyes; // eyes for photos whose face is not found
    std::string csv;                   // every pair's score, or empty
    std::string roc;                   // ROC plot (SVG), or empty
    bool calibrate = false;            // write the threshold beside the model
};
int RunEvaluateLfw(const EvaluateLfwOptions& options, const CommandContext& context);
struct StatsOptions : DatasetOptions { // dataset: a folder of people or a face file
    std::string output;
    std::string model;
    std::string base;                  // earlier incremental data file to extend, or empty
    int dim = 0;                       // 0: the base file's, else the model's component count
};
int RunStats(const StatsOptions& options, const CommandContext& context);

struct IncreaseOptions : DatasetOptions { // dataset: a folder of new people or a face file
    std::string output;
    std::string model;
    std::string stats;                 // incremental data file of earlier people, or empty
    int dim = 0;                       // 0: the stats file's, else the model's component count
};
int RunIncrease(const IncreaseOptions& options, const CommandContext& context);

// Parses "LX,LY,RX,RY"; throws CliError (kExitUsage) on anything else.
EyePair ParseEyes(const std::string& text);

// A subcommand on the command line and what runs it once its options are parsed.
struct RegisteredCommand {
    CLI::App* command;
    std::function<int()> run;
};

// Each adds its subcommand, with its options and help texts, to app (or to
// the gallery or evaluate group).
RegisteredCommand AddDetect(CLI::App& app, CommandContext& context);
RegisteredCommand AddCut(CLI::App& app, CommandContext& context);
RegisteredCommand AddTemplate(CLI::App& app, CommandContext& context);
RegisteredCommand AddCompare(CLI::App& app, CommandContext& context);
RegisteredCommand AddSamples(CLI::App& app, CommandContext& context);
RegisteredCommand AddTrain(CLI::App& app, CommandContext& context);
RegisteredCommand AddStats(CLI::App& app, CommandContext& context);
RegisteredCommand AddIncrease(CLI::App& app, CommandContext& context);
RegisteredCommand AddEnrol(CLI::App& app, CommandContext& context);
RegisteredCommand AddIdentify(CLI::App& app, CommandContext& context);
RegisteredCommand AddGalleryList(CLI::App& gallery, CommandContext& context);
RegisteredCommand AddGalleryRemove(CLI::App& gallery, CommandContext& context);
RegisteredCommand AddEvaluateOrl(CLI::App& evaluate, CommandContext& context);
RegisteredCommand AddEvaluateLfw(CLI::App& evaluate, CommandContext& context);

} // namespace velmora_cli
