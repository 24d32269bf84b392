#include <cstdio>
#include <filesystem>
#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ProgressBar.h"
#include "Recognizer.h"

namespace fs = std::filesystem;

namespace velmora_cli {

namespace {

struct CutResult {
    std::string output;          // empty: no face found, nothing written
    EyePair eyes{};
    bool eyesGiven = false;
    int width = 0;
    int height = 0;
};

// Face n of a batch (counted from 1) is written as n_<image name>.png, so images of the
// same name in different folders (ORL's 1.pgm .. 10.pgm) stay apart.
std::string BatchOutputPath(const std::string& folder, size_t n, const std::string& image)
{
    char number[24];
    std::snprintf(number, sizeof number, "%06zu_", n);
    return (fs::path(folder) / (number + fs::path(image).stem().string() + ".png")).string();
}

const EyePair* GivenEyes(const CutOptions& options, size_t i)
{
    if (options.eyes.empty())
        return nullptr;
    return &options.eyes[options.eyes.size() == 1 ? 0 : i];
}

} // namespace

int RunCut(const CutOptions& options, const CommandContext& context)
{
    const size_t count = options.images.size();
    const bool batch = count > 1;
    if (options.eyes.size() > 1 && options.eyes.size() != count)
        throw CliError(kExitUsage, "--eyes is given " + std::to_string(options.eyes.size()) + " times for " +
                                       std::to_string(count) + " images: give it once, or once per image");
    if (batch) {
        std::error_code ec;
        fs::create_directories(options.output, ec);
        if (!fs::is_directory(options.output, ec))
            throw CliError(kExitInput, "cannot make the output folder " + options.output);
    }

    Recognizer recognizer(context.err);
    recognizer.PrepareWithoutModel(); // the same face mask as template creation
    std::vector<CutResult> results;
    ProgressBar progress(context.err, context.progress && batch, static_cast<long>(count), "cut");
    for (size_t i = 0; i < count; ++i) {
        const std::string& path = options.images[i];
        GreyImage image = LoadGreyImage(path);
        CutResult r;
        const EyePair* given = GivenEyes(options, i);
        r.eyesGiven = given != nullptr;
        if (given != nullptr) {
            r.eyes = *given;
        } else if (!batch) {
            r.eyes = EyesOrFirstFace(recognizer, image, std::nullopt, path);
        } else if (const std::optional<EyePair> found = recognizer.FindOneFace(image)) {
            r.eyes = *found;
        } else {
            results.push_back(r); // a batch goes on past a face it cannot find
            progress.Update(static_cast<long>(results.size()));
            continue;
        }
        const GreyImage face = options.displayWidth ? recognizer.DisplayFace(image, r.eyes, *options.displayWidth)
                                                    : recognizer.NormFace(image, r.eyes);
        r.output = batch ? BatchOutputPath(options.output, i + 1, path) : options.output;
        SaveGreyImage(r.output, face);
        r.width = face.width;
        r.height = face.height;
        results.push_back(r);
        progress.Update(static_cast<long>(results.size()));
    }
    progress.Finish();

    const char* kind = options.displayWidth ? "display" : "normalised";
    size_t missing = 0;
    for (const CutResult& r : results)
        missing += r.output.empty() ? 1 : 0;

    if (context.json) {
        const auto one = [&](const std::string& image, const CutResult& r) {
            Json face = {{"image", image}, {"output", nullptr}};
            if (r.output.empty())
                return face;
            face["output"] = r.output;
            face["kind"] = kind;
            face["width"] = r.width;
            face["height"] = r.height;
            face["eyes_given"] = r.eyesGiven;
            SetEyes(face, r.eyes);
            return face;
        };
        Json doc;
        if (batch) {
            doc["faces"] = Json::array();
            for (size_t i = 0; i < count; ++i)
                doc["faces"].push_back(one(options.images[i], results[i]));
        } else {
            doc = one(options.images[0], results[0]);
        }
        PrintJson(context.out, doc);
    } else {
        for (size_t i = 0; i < count; ++i) {
            const CutResult& r = results[i];
            if (r.output.empty())
                context.out << options.images[i] << ": no face\n";
            else
                context.out << "wrote " << kind << " face " << r.output << " (" << r.width << " x " << r.height
                            << ") cut at " << EyesText(r.eyes) << '\n';
        }
    }
    if (missing > 0) {
        context.err << "velmora: no face found in " << missing << " of " << count << " images\n";
        return kExitNoFace;
    }
    return kExitOk;
}

RegisteredCommand AddCut(CLI::App& app, CommandContext& context)
{
    struct Args {
        CutOptions cut;
        std::vector<std::string> eyes;
    };
    auto args = std::make_shared<Args>();
    CLI::App* command =
        AddCommand(app, "cut", "Cut the normalised 64 x 64 face (or a display face) out of images", context);
    command->add_option("IMAGE", args->cut.images, "Image files")->required();
    command->add_option("-o,--output", args->cut.output,
                        "Face image to write (.png, .pgm, .bmp); for several images a folder, where "
                        "face N is written as N_<image name>.png")
        ->required();
    command->add_option("--eyes", args->eyes,
                        "Eye centres LX,LY,RX,RY in pixels: once for every image, or once per image in "
                        "order (default: the first face found in each)")
        ->allow_extra_args(false)
        ->take_all();
    command->add_option("--display", args->cut.displayWidth,
                        "Cut a display face of this width (height = width x 28/23) instead");
    return {command, [args, &context] {
                for (const std::string& text : args->eyes)
                    args->cut.eyes.push_back(ParseEyes(text));
                return RunCut(args->cut, context);
            }};
}

} // namespace velmora_cli
