#include "FaceCollection.h"

#include <filesystem>

#include "Dataset.h"
#include "ExitCodes.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "Training.h"

namespace velmora_cli {

CollectedFaces CollectDatasetFaces(const DatasetOptions& options, Recognizer& recognizer,
                                   const CommandContext& context)
{
    const std::set<std::string> exclude =
        options.excludeList.empty() ? std::set<std::string>() : ReadNameList(options.excludeList);
    const std::vector<Person> people = ListDataset(options.dataset, exclude);
    CollectedFaces result;
    for (const Person& p : people)
        result.images += static_cast<long>(p.images.size());
    if (result.images == 0)
        throw CliError(kExitInput, "no images (JPEG, PNG, BMP, PGM) in the person folders of " + options.dataset);

    result.faces.sizeA = Recognizer::kNormFaceSide;
    result.faces.sizeB = Recognizer::kNormFaceSide;
    long done = 0;
    ProgressBar progress(context.err, context.progress, result.images, "faces");
    for (const Person& person : people) {
        std::vector<unsigned char> faces;
        int count = 0;
        for (const std::string& path : person.images) {
            progress.Update(++done);
            if (options.maxPerPerson > 0 && count >= options.maxPerPerson)
                continue;
            GreyImage image;
            try {
                image = LoadGreyImage(path);
            } catch (const CliError& e) {
                // One damaged photo should not cost a whole data set.
                ++result.unreadable;
                progress.Finish();
                context.err << "velmora: skipped: " << e.what() << '\n';
                continue;
            }
            const std::optional<EyePair> eyes = options.eyes ? options.eyes : recognizer.FindOneFace(image);
            if (!eyes || eyes->rightX - eyes->leftX < 3) {
                ++result.withoutFace;
                continue;
            }
            const GreyImage face = recognizer.NormFace(image, *eyes);
            faces.insert(faces.end(), face.pixels.begin(), face.pixels.end());
            ++count;
        }
        if (count == 0 || count < options.minImages) {
            ++result.peopleLeftOut;
            continue;
        }
        AppendClass(result.faces, faces);
        result.people.push_back(person.name);
    }
    progress.Finish();
    if (ClassCount(result.faces) == 0)
        throw CliError(kExitNoFace, "no person in " + options.dataset + " has " + std::to_string(options.minImages) +
                                        " usable face" + (options.minImages == 1 ? "" : "s"));
    return result;
}

CollectedFaces ReadFaceFile(const std::string& path)
{
    CollectedFaces result;
    result.faces = ReadSampleFile(path);
    const size_t side = Recognizer::kNormFaceSide;
    if (result.faces.sampleLength() != static_cast<int64_t>(side * side))
        throw CliError(kExitInput, path + " holds samples of " + std::to_string(result.faces.sizeA) + " x " +
                                       std::to_string(result.faces.sizeB) +
                                       " bytes, not 64 x 64 faces; write a face file with 'velmora samples "
                                       "DATASET_DIR -o SAMPLES --faces FACES'");
    if (ClassCount(result.faces) == 0)
        throw CliError(kExitInput, "the face file " + path + " holds no faces");
    result.images = static_cast<long>(result.faces.sampleCount());
    return result;
}

CollectedFaces CollectFaces(const DatasetOptions& options, Recognizer& recognizer,
                            const CommandContext& context)
{
    std::error_code ec;
    if (std::filesystem::is_regular_file(options.dataset, ec))
        return ReadFaceFile(options.dataset);
    return CollectDatasetFaces(options, recognizer, context);
}

} // namespace velmora_cli
