#pragma once
// Where the tool finds its model, and the calibration that travels beside it.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmora_cli {

// The places searched, in order, when no --model is given: $VELMORA_MODEL, the
// share/velmora folder next to the executable's bin/, the configured install
// folder, and the source tree's models/ (for a tool run from its build folder).
std::vector<std::string> DefaultModelCandidates();

// The model to use: the explicit path when given, else the first candidate
// that exists. Throws CliError (kExitModel) when there is none.
std::string ResolveModelPath(const std::string& explicitPath);

// The decision threshold stored beside a model, in MODEL.json.
// Each comparison mode scores on its own scale, so a calibration holds a
// threshold per mode; files without them hold the one of the mode they name.
struct Calibration {
    double threshold = 0.0;                   // of the mode the model was calibrated in
    std::map<std::string, double> byMode;     // "max", "mean", "line"
    std::string source;                       // the file it came from

    double ThresholdFor(const std::string& mode) const
    {
        const auto found = byMode.find(mode);
        return found == byMode.end() ? threshold : found->second;
    }
};

std::string CalibrationPathFor(const std::string& modelPath);
// The statistics of the model's training people (MODEL.stats), with which people are added to it.
std::string StatisticsPathFor(const std::string& modelPath);
// Empty when the file is absent; throws CliError (kExitModel) when it is present but unreadable.
std::optional<Calibration> ReadCalibration(const std::string& modelPath);

} // namespace velmora_cli
