#include "ModelFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ExitCodes.h"
#include "Json.h"

namespace fs = std::filesystem;

namespace velmora_cli {

namespace {
constexpr const char* kModelFileName = "velmora.model";

bool IsRegularFile(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}
} // namespace

std::vector<std::string> DefaultModelCandidates()
{
    std::vector<std::string> candidates;
    // A model named in the environment is what the user asked for: a missing
    // one is an error, not a reason to use another model quietly.
    if (const char* env = std::getenv("VELMORA_MODEL"); env != nullptr && *env != '\0')
        return {env};
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        candidates.push_back((exe.parent_path().parent_path() / "share" / "velmora" / kModelFileName).string());
#ifdef VELMORA_INSTALLED_MODEL
    candidates.emplace_back(VELMORA_INSTALLED_MODEL);
#endif
#ifdef VELMORA_SOURCE_MODEL
    candidates.emplace_back(VELMORA_SOURCE_MODEL);
#endif
    return candidates;
}

std::string ResolveModelPath(const std::string& explicitPath)
{
    if (!explicitPath.empty()) {
        if (!IsRegularFile(explicitPath))
            throw CliError(kExitModel, "model file not found: " + explicitPath);
        return explicitPath;
    }
    const std::vector<std::string> candidates = DefaultModelCandidates();
    for (const std::string& c : candidates)
        if (IsRegularFile(c))
            return c;
    std::string message = "no model found; looked for";
    for (const std::string& c : candidates)
        message += "\n  " + c;
    message += "\nGive one with --model FILE or the VELMORA_MODEL environment variable";
    throw CliError(kExitModel, message);
}

std::string CalibrationPathFor(const std::string& modelPath)
{
    return modelPath + ".json";
}

std::string StatisticsPathFor(const std::string& modelPath)
{
    return modelPath + ".stats";
}

std::optional<Calibration> ReadCalibration(const std::string& modelPath)
{
    const std::string path = CalibrationPathFor(modelPath);
    if (!IsRegularFile(path))
        return std::nullopt;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const auto fail = [&](const std::string& why) {
        return CliError(kExitModel, "cannot read the calibration file " + path + ": " + why);
    };
    Json doc;
    try {
        doc = Json::parse(text.str());
    } catch (const Json::exception& e) { // a syntax fault, or a number beyond double's range
        throw fail(e.what());
    }
    const auto threshold = doc.find("threshold");
    if (threshold == doc.end())
        throw fail("no \"threshold\" entry");
    if (!threshold->is_number())
        throw fail("\"threshold\" is not a number");
    Calibration c{threshold->get<double>(), {}, path};
    if (const auto modes = doc.find("thresholds"); modes != doc.end()) {
        if (!modes->is_object())
            throw fail("\"thresholds\" is not an object of mode names and numbers");
        for (const auto& [mode, value] : modes->items()) {
            if (!value.is_number())
                throw fail("the threshold of mode \"" + mode + "\" is not a number");
            c.byMode[mode] = value.get<double>();
        }
    }
    return c;
}

} // namespace velmora_cli
