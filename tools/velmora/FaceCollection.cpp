#include "FaceCollection.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <filesystem>
#include <set>

#include "Dataset.h"
#include "ExitCodes.h"
#include "PhotoReading.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "Training.h"

namespace velmora_cli {

long CountImages(const std::vector<Person>& people, const std::string& dataset)
{
    long images = 0;
    for (const Person& p : people)
        images += static_cast<long>(p.images.size());
    if (images == 0)
        throw CliError(kExitInput, "no images (JPEG, PNG, BMP, PGM) in the person folders of " + dataset);
    return images;
}

void FindPeopleFaces(
    const std::vector<Person>& people, const DatasetOptions& options, Recognizer& recognizer,
    const CommandContext& context, const std::string& label, FaceCounts& counts,
    const std::function<void(const Person&, const std::vector<unsigned char>& faces, bool kept)>& onPerson)
{
    const auto tooFewPhotos = [&](const Person& p) { return static_cast<long>(p.images.size()) < options.minImages; };
    counts.images = CountImages(people, options.dataset);
    std::vector<std::string> paths;
    std::vector<size_t> owners;
    for (size_t p = 0; p < people.size(); ++p)
        if (!tooFewPhotos(people[p]))
            for (const std::string& path : people[p].images) {
                paths.push_back(path);
                owners.push_back(p);
            }

    // Set by the consumer alone, once a person has all the faces wanted: the
    // workers then spare that person's later photos, as one worker would.
    const std::unique_ptr<std::atomic<bool>[]> full(new std::atomic<bool>[people.size()]());
    ProgressBar progress(context.err, context.progress, counts.images, label);
    long done = 0;
    size_t current = 0; // the person whose photos come next
    std::vector<unsigned char> faces;
    int found = 0;
    const auto closePerson = [&] {
        const Person& person = people[current++];
        if (tooFewPhotos(person)) {
            done += static_cast<long>(person.images.size());
            progress.Update(done);
        }
        const bool kept = found > 0 && found >= options.minImages;
        counts.peopleLeftOut += kept ? 0 : 1;
        onPerson(person, faces, kept);
        faces.clear();
        found = 0;
    };
    PhotoReader(context.jobs).ReadInOrder(
        paths,
        [&](size_t i) {
            return full[owners[i]] ? PhotoWork::Skip : options.eyes ? PhotoWork::Read : PhotoWork::Search;
        },
        [&](size_t i, PhotoRead& read) {
            while (current < owners[i])
                closePerson();
            progress.Update(++done);
            if (options.maxPerPerson > 0 && found >= options.maxPerPerson)
                return;
            if (read.error) {
                // One damaged photo should not cost a whole data set.
                ++counts.unreadable;
                progress.Finish();
                context.err << "velmora: skipped: " << read.error->what() << '\n';
                return;
            }
            const std::optional<EyePair> eyes = options.eyes ? options.eyes : read.eyes;
            if (!eyes || eyes->rightX - eyes->leftX < 3) {
                ++counts.withoutFace;
                return;
            }
            const GreyImage face = recognizer.NormFace(read.image, *eyes);
            faces.insert(faces.end(), face.pixels.begin(), face.pixels.end());
            if (++found == options.maxPerPerson)
                full[owners[i]] = true;
        });
    while (current < people.size())
        closePerson();
    progress.Finish();
}

CollectedFaces CollectDatasetFaces(const DatasetOptions& options, Recognizer& recognizer,
                                   const CommandContext& context)
{
    const std::set<std::string> exclude =
        options.excludeList.empty() ? std::set<std::string>() : ReadNameList(options.excludeList);
    CollectedFaces result;
    result.faces.sizeA = Recognizer::kNormFaceSide;
    result.faces.sizeB = Recognizer::kNormFaceSide;
    FindPeopleFaces(ListDataset(options.dataset, exclude), options, recognizer, context, "faces", result,
                    [&](const Person& person, const std::vector<unsigned char>& faces, bool kept) {
                        if (!kept)
                            return;
                        AppendClass(result.faces, faces);
                        result.people.push_back(person.name);
                    });
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

namespace {

// The names file of a face file S.faces is S.names, written beside it by 'velmora samples'.
std::string NamesPathForFaceFile(const std::string& facesPath)
{
    const std::string suffix = ".faces";
    if (facesPath.size() > suffix.size() && facesPath.compare(facesPath.size() - suffix.size(), suffix.size(), suffix) == 0)
        return NamesPathFor(facesPath.substr(0, facesPath.size() - suffix.size()));
    return NamesPathFor(facesPath);
}

// The people and photo choices of a folder, applied to a face file's classes.
CollectedFaces SelectFromFaceFile(const DatasetOptions& options)
{
    CollectedFaces all = ReadFaceFile(options.dataset);
    if (options.excludeList.empty() && options.minImages <= 1 && options.maxPerPerson <= 0)
        return all;
    std::vector<std::string> names;
    if (!options.excludeList.empty()) {
        const std::string namesPath = NamesPathForFaceFile(options.dataset);
        names = ReadNameLines(namesPath);
        if (names.size() != all.faces.counts.size())
            throw CliError(kExitInput, namesPath + " does not name the " + std::to_string(all.faces.counts.size()) +
                                           " people of " + options.dataset);
    }
    const std::set<std::string> exclude =
        options.excludeList.empty() ? std::set<std::string>() : ReadNameList(options.excludeList);
    CollectedFaces kept;
    kept.images = all.images;
    kept.faces.sizeA = all.faces.sizeA;
    kept.faces.sizeB = all.faces.sizeB;
    const size_t length = static_cast<size_t>(all.faces.sampleLength());
    for (size_t c = 0; c < all.faces.counts.size(); ++c) {
        if (!names.empty() && exclude.count(names[c]) != 0)
            continue;
        const int32_t count = options.maxPerPerson > 0 ? std::min(all.faces.counts[c], options.maxPerPerson)
                                                        : all.faces.counts[c];
        if (count < options.minImages) {
            ++kept.peopleLeftOut;
            continue;
        }
        const unsigned char* first = all.faces.Sample(all.faces.firstSample[c]);
        AppendClass(kept.faces, std::vector<unsigned char>(first, first + count * length));
        if (!names.empty())
            kept.people.push_back(names[c]);
    }
    if (ClassCount(kept.faces) == 0)
        throw CliError(kExitInput, "no person of the face file " + options.dataset + " is left to train on");
    return kept;
}

} // namespace

CollectedFaces CollectFaces(const DatasetOptions& options, Recognizer& recognizer,
                            const CommandContext& context)
{
    std::error_code ec;
    if (std::filesystem::is_regular_file(options.dataset, ec))
        return SelectFromFaceFile(options);
    return CollectDatasetFaces(options, recognizer, context);
}

} // namespace velmora_cli
