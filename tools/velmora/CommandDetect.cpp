#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ProgressBar.h"
#include "Recognizer.h"

namespace velmora_cli {

int RunDetect(const DetectOptions& options, const CommandContext& context)
{
    if (!options.draw.empty() && options.images.size() != 1)
        throw CliError(kExitUsage, "--draw needs exactly one image");

    struct Found {
        GreyImage image;
        std::vector<EyePair> faces;
    };
    Recognizer recognizer(context.err);
    std::vector<Found> results;
    ProgressBar progress(context.err, context.progress && options.images.size() > 1,
                         static_cast<long>(options.images.size()), "detect");
    for (const std::string& path : options.images) {
        Found f;
        f.image = LoadGreyImage(path);
        f.faces = recognizer.FindFaces(f.image);
        f.image.pixels.clear(); // only the size is reported
        results.push_back(std::move(f));
        progress.Update(static_cast<long>(results.size()));
    }
    progress.Finish();
    if (!options.draw.empty())
        SaveMarkedImage(options.images[0], options.draw, results[0].faces);

    bool everyImageHasAFace = true;
    for (const Found& f : results)
        everyImageHasAFace = everyImageHasAFace && !f.faces.empty();

    if (context.json) {
        Json images = Json::array();
        for (size_t i = 0; i < results.size(); ++i) {
            Json faces = Json::array();
            for (const EyePair& eyes : results[i].faces)
                SetEyes(faces.emplace_back(Json::object()), eyes);
            images.push_back({{"path", options.images[i]}, {"width", results[i].image.width},
                              {"height", results[i].image.height}, {"faces", faces}});
        }
        Json doc = {{"images", images}};
        if (!options.draw.empty())
            doc["drawn"] = options.draw;
        PrintJson(context.out, doc);
    } else {
        for (size_t i = 0; i < results.size(); ++i) {
            const size_t n = results[i].faces.size();
            context.out << options.images[i] << ": " << (n == 0 ? "no face" : std::to_string(n) + (n == 1 ? " face" : " faces"))
                        << '\n';
            for (size_t k = 0; k < n; ++k)
                context.out << "  face " << k + 1 << ": " << EyesText(results[i].faces[k]) << '\n';
        }
        if (!options.draw.empty())
            context.out << "marked faces drawn to " << options.draw << '\n';
    }
    if (!everyImageHasAFace) {
        context.err << "velmora: " << (results.size() == 1 ? "no face found in " + options.images[0]
                                                             : std::string("no face found in some images"))
                    << '\n';
        return kExitNoFace;
    }
    return kExitOk;
}

RegisteredCommand AddDetect(CLI::App& app, CommandContext& context)
{
    auto detect = std::make_shared<DetectOptions>();
    CLI::App* command =
        AddCommand(app, "detect", "Find the faces in images and the centres of their eyes", context);
    command->add_option("IMAGE", detect->images, "Image files")->required();
    command->add_option("--draw", detect->draw, "Write a copy of the (single) image with the eyes marked");
    return {command, [detect, &context] { return RunDetect(*detect, context); }};
}

} // namespace velmora_cli
