#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ModelFiles.h"
#include "PhotoReading.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "common/ByteOrder.h"

namespace velmora_cli {

int RunTemplate(const TemplateOptions& options, const CommandContext& context)
{
    const std::string model = ResolveModelPath(options.model);
    Recognizer recognizer(context.err);
    recognizer.SetManyViews(context.manyViews);
    recognizer.LoadModel(model);

    TemplateBatch batch(recognizer);
    std::vector<EyePair> eyesUsed;
    ProgressBar progress(context.err, context.progress && options.images.size() > 1,
                         static_cast<long>(options.images.size()), "template");
    PhotoReader(context.jobs).ReadInOrder(
        options.images, [&](size_t) { return options.eyes ? PhotoWork::Read : PhotoWork::Search; },
        [&](size_t i, PhotoRead& read) {
            if (read.error)
                throw *read.error;
            const EyePair eyes = GivenOrFound(options.eyes, read.eyes, options.images[i]);
            batch.Add(read.image, eyes);
            eyesUsed.push_back(eyes);
            progress.Update(static_cast<long>(eyesUsed.size()));
        });
    const std::vector<TemplateBuffer>& parts = batch.Templates();
    progress.Finish();
    // Several photos of one person become one template holding every photo's vectors.
    const TemplateBuffer joined = parts.size() == 1 ? parts[0] : JoinTemplates(parts);
    WriteTemplateFile(options.output, joined);

    const int32_t vectors = ReadInt32LE(joined.data());
    const int32_t dimension = ReadInt32LE(joined.data() + 4);
    if (context.json) {
        Json images = Json::array();
        for (size_t i = 0; i < options.images.size(); ++i)
            SetEyes(images.emplace_back(Json{{"path", options.images[i]}}), eyesUsed[i]);
        PrintJson(context.out, {{"output", options.output},
                                {"model", model},
                                {"vectors", vectors},
                                {"dimension", dimension},
                                {"bytes", joined.size()},
                                {"images", images}});
    } else {
        context.out << "wrote template " << options.output << " (" << vectors << (vectors == 1 ? " vector" : " vectors")
                    << " of " << dimension << " values, " << joined.size() << " bytes)\n";
    }
    return kExitOk;
}

RegisteredCommand AddTemplate(CLI::App& app, CommandContext& context)
{
    struct Args {
        TemplateOptions templ;
        std::string eyes;
    };
    auto args = std::make_shared<Args>();
    CLI::App* command = AddCommand(
        app, "template", "Make a template file from a face photo (two vectors per photo: its face and its mirror image's)", context);
    command->add_option("IMAGE", args->templ.images, "Image files of one person")->required();
    command->add_option("-o,--output", args->templ.output, "Template file to write")->required();
    command->add_option("--eyes", args->eyes,
                        "Eye centres LX,LY,RX,RY used for every image (default: the first face found "
                        "in each)");
    AddModelOption(command, args->templ.model);
    AddSingleVectorOption(command, context);
    AddJobsOption(command, context);
    return {command, [args, &context] {
                args->templ.eyes = OptionalEyes(args->eyes);
                return RunTemplate(args->templ, context);
            }};
}

} // namespace velmora_cli
