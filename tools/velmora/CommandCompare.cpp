#include <velmora/Velmora.h>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "LibraryMessages.h"
#include "ModelFiles.h"
#include "Recognizer.h"
#include "TemplateFile.h"
#include "recognizer/Engine.h"

#include <cstdio>
#include <memory>

namespace velmora_cli {

const char* CompareModeName(CompareMode mode)
{
    switch (mode) {
    case CompareMode::Max: return "max";
    case CompareMode::Mean: return "mean";
    case CompareMode::Line: return "line";
    }
    return "max";
}

namespace {

// The threshold to judge with: the option, else the calibration beside the
// model in use (or the default model when both inputs are template files).
std::optional<Calibration> FindThreshold(const CompareOptions& options)
{
    if (options.threshold) {
        Calibration c;
        c.threshold = *options.threshold;
        c.source = "--threshold";
        return c;
    }
    if (!options.model.empty())
        return ReadCalibration(ResolveModelPath(options.model));
    try {
        return ReadCalibration(ResolveModelPath(""));
    } catch (const CliError&) {
        return std::nullopt; // no default model to judge by: the score alone is printed
    }
}

} // namespace

int RunCompare(const CompareOptions& options, const CommandContext& context)
{
    // Template files are taken as they are; images are turned into templates
    // with the model, which is loaded only when an image needs it.
    std::optional<Recognizer> recognizer;
    auto templateOf = [&](const std::string& path) {
        if (IsTemplateFile(path))
            return ReadTemplateFile(path);
        GreyImage image = LoadGreyImage(path);
        if (!recognizer) {
            recognizer.emplace(context.err);
            recognizer->SetManyViews(context.manyViews);
            recognizer->LoadModel(ResolveModelPath(options.model));
        }
        const EyePair eyes = EyesOrFirstFace(*recognizer, image, std::nullopt, path);
        return recognizer->MakeTemplate(image, eyes);
    };
    const TemplateBuffer a = templateOf(options.a);
    const TemplateBuffer b = templateOf(options.b);
    const std::optional<Calibration> calibration = FindThreshold(options);

    LibraryMessages messages(context.err);
    const double score = velmora::engine::CompareTemplates(a.data(), a.size(), b.data(), b.size(),
                                                           static_cast<int>(options.mode));
    if (score < 0.0)
        throw CliError(kExitFailure, "cannot compare " + options.a + " with " + options.b +
                                         ": their templates do not match in dimension");
    const bool judged = calibration.has_value();
    const double threshold = judged ? calibration->ThresholdFor(CompareModeName(options.mode)) : 0.0;
    const bool same = judged && score >= threshold;

    if (context.json) {
        Json doc = {{"a", options.a}, {"b", options.b}, {"mode", CompareModeName(options.mode)}, {"score", score}};
        if (judged) {
            doc["threshold"] = threshold;
            doc["same_person"] = same;
        }
        PrintJson(context.out, doc);
    } else {
        char line[64];
        std::snprintf(line, sizeof line, "%.6f", score);
        context.out << "score " << line << " (mode " << CompareModeName(options.mode) << ")\n";
        if (judged) {
            std::snprintf(line, sizeof line, "%.6f", threshold);
            context.out << (same ? "same person" : "different people") << " (threshold " << line << " from "
                        << calibration->source << ")\n";
        }
    }
    return kExitOk;
}

RegisteredCommand AddCompare(CLI::App& app, CommandContext& context)
{
    struct Args {
        CompareOptions compare;
        std::string mode = "mean";
    };
    auto args = std::make_shared<Args>();
    CLI::App* command = AddCommand(
        app, "compare", "Score how alike two faces are (0..1) and, with a calibrated model, say same or different",
        context);
    command->add_option("A", args->compare.a, "First image or template file")->required();
    command->add_option("B", args->compare.b, "Second image or template file")->required();
    command
        ->add_option("--mode", args->mode,
                     "How templates of several vectors are matched: mean (against the mean vector, the "
                     "default), max (best pair) or line (nearest feature line)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    command->add_option("--threshold", args->compare.threshold,
                        "Decide same/different at this score instead of the model's calibrated one")
        ->check(CLI::Range(0.0, 1.0));
    AddModelOption(command, args->compare.model);
    AddSingleVectorOption(command, context);
    return {command, [args, &context] {
                args->compare.mode = ParseCompareMode(args->mode);
                return RunCompare(args->compare, context);
            }};
}

} // namespace velmora_cli
