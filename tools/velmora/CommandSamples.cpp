#include <cstdio>
#include <memory>

#include "CommandOptions.h"
#include "Commands.h"
#include "Dataset.h"
#include "FaceCollection.h"
#include "ExitCodes.h"
#include "Json.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "SampleFile.h"

namespace velmora_cli {

namespace {
// Training needs this many people (classes) at least.
constexpr int kMinTrainingPeople = 210;
} // namespace

int RunSamples(const SamplesOptions& options, const CommandContext& context)
{
    const std::set<std::string> exclude =
        options.excludeList.empty() ? std::set<std::string>() : ReadNameList(options.excludeList);
    const std::vector<Person> people = ListDataset(options.dataset, exclude);
    CountImages(people, options.dataset); // before any file is made

    Recognizer recognizer(context.err);
    recognizer.PrepareWithoutModel();
    SampleFileWriter writer(options.output, Recognizer::kFeatureLength, 1);
    // Beside the samples: the normalised faces they came from, in the same
    // layout (for recipes that start from faces), and the people's names.
    SampleFileWriter faceWriter(FacesPathFor(options.output), Recognizer::kNormFaceSide, Recognizer::kNormFaceSide);
    std::vector<std::string> names;

    FaceCounts counts;
    int64_t clamped = 0, values = 0;
    std::vector<unsigned char> samples;
    FindPeopleFaces(people, options, recognizer, context, "samples", counts,
                    // The clamped share counts the faces of people left out too.
                    [&](const Person& person, const std::vector<unsigned char>& faces, bool kept) {
                        samples.clear();
                        for (size_t at = 0; at < faces.size(); at += velmora::kNormFacePixels) {
                            const std::vector<double> features = recognizer.GaborFeatures(faces.data() + at);
                            samples.resize(samples.size() + features.size());
                            clamped += FeaturesToBytes(features.data(), features.size(),
                                                       samples.data() + samples.size() - features.size());
                            values += static_cast<int64_t>(features.size());
                        }
                        if (!kept)
                            return;
                        writer.AddClass(samples);
                        faceWriter.AddClass(faces);
                        names.push_back(person.name);
                    });
    writer.Finish();
    faceWriter.Finish();
    WriteNameList(NamesPathFor(options.output), names);
    if (writer.classCount() == 0)
        throw CliError(kExitNoFace, "no person in " + options.dataset + " has " + std::to_string(options.minImages) +
                                        " usable face" + (options.minImages == 1 ? "" : "s"));
    const long totalImages = counts.images, withoutFace = counts.withoutFace, unreadable = counts.unreadable,
               peopleTooFew = counts.peopleLeftOut;

    const double clampedShare = values > 0 ? static_cast<double>(clamped) / static_cast<double>(values) : 0.0;
    if (context.json) {
        PrintJson(context.out, {{"output", options.output},
                                {"names", NamesPathFor(options.output)},
                                {"faces", FacesPathFor(options.output)},
                                {"people", writer.classCount()},
                                {"samples", writer.sampleCount()},
                                {"sample_length", Recognizer::kFeatureLength},
                                {"images", totalImages},
                                {"images_without_face", withoutFace},
                                {"images_unreadable", unreadable},
                                {"people_left_out", peopleTooFew},
                                {"clamped_values", clamped},
                                {"clamped_share", clampedShare}});
    } else {
        char share[32];
        std::snprintf(share, sizeof share, "%.4f%%", 100.0 * clampedShare);
        context.out << "wrote " << options.output << ": " << writer.sampleCount() << " samples of "
                    << writer.classCount() << " people (" << Recognizer::kFeatureLength << " values each)\n"
                    << "wrote " << NamesPathFor(options.output) << " (the people's names) and "
                    << FacesPathFor(options.output) << " (their normalised faces)\n"
                    << "images without a face: " << withoutFace << " of " << totalImages;
        if (unreadable > 0)
            context.out << ", unreadable: " << unreadable;
        context.out << "; people left out (fewer than " << std::max(1, options.minImages)
                    << " faces): " << peopleTooFew << '\n'
                    << "clamped feature values: " << share << " (" << clamped << " of " << values
                    << " rounded magnitudes fell outside 0..255)\n";
    }
    if (writer.classCount() < kMinTrainingPeople)
        context.err << "velmora: note: training needs at least " << kMinTrainingPeople << " people; this file has "
                    << writer.classCount() << '\n';
    return kExitOk;
}

RegisteredCommand AddSamples(CLI::App& app, CommandContext& context)
{
    struct Args {
        SamplesOptions samples;
        std::string eyes;
    };
    auto args = std::make_shared<Args>();
    SamplesOptions& samples = args->samples;
    CLI::App* command = AddCommand(
        app, "samples", "Write a training sample file from a folder holding one folder of photos per person",
        context);
    command->add_option("DATASET_DIR", samples.dataset, "Folder of person folders")->required();
    command->add_option("-o,--output", samples.output, "Sample file to write")->required();
    command->add_option("--exclude", samples.excludeList, "File of person (folder) names to leave out, one per line");
    command->add_option("--min-images", samples.minImages, "Leave out people with fewer usable faces than this")
        ->check(CLI::Range(1, 1000000));
    command->add_option("--max-per-person", samples.maxPerPerson, "Use at most this many faces per person (0: all)")
        ->check(CLI::Range(0, 1000000));
    command->add_option("--eyes", args->eyes,
                        "Eye centres LX,LY,RX,RY used for every photo of a pre-aligned set, instead "
                        "of finding the faces");
    AddJobsOption(command, context);
    return {command, [args, &context] {
                args->samples.eyes = OptionalEyes(args->eyes);
                return RunSamples(args->samples, context);
            }};
}

} // namespace velmora_cli
