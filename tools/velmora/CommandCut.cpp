#include "Commands.h"
#include "ExitCodes.h"
#include "JsonParts.h"
#include "Recognizer.h"

namespace velmora_cli {

int RunCut(const CutOptions& options, const CommandContext& context)
{
    Recognizer recognizer(context.err);
    recognizer.PrepareWithoutModel(); // the same face mask as template creation
    GreyImage image = LoadGreyImage(options.image);
    const EyePair eyes = EyesOrFirstFace(recognizer, image, options.eyes, options.image);
    const GreyImage face = options.displayWidth ? recognizer.DisplayFace(image, eyes, *options.displayWidth)
                                                : recognizer.NormFace(image, eyes);
    SaveGreyImage(options.output, face);

    if (context.json) {
        JsonWriter w(context.out);
        w.BeginObject();
        w.Key("image").String(options.image);
        w.Key("output").String(options.output);
        w.Key("kind").String(options.displayWidth ? "display" : "normalised");
        w.Key("width").Integer(face.width);
        w.Key("height").Integer(face.height);
        w.Key("eyes_given").Bool(options.eyes.has_value());
        WriteEyes(w, eyes);
        w.EndObject();
        context.out << '\n';
    } else {
        context.out << "wrote " << (options.displayWidth ? "display" : "normalised") << " face " << options.output
                    << " (" << face.width << " x " << face.height << ") cut at " << EyesText(eyes) << '\n';
    }
    return kExitOk;
}

} // namespace velmora_cli
