#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Gallery.h"
#include "Identification.h"
#include "Json.h"
#include "ModelFiles.h"
#include "ModelIdentity.h"
#include "PhotoReading.h"
#include "PhotoSelection.h"
#include "ProgressBar.h"
#include "Recognizer.h"

namespace velmora_cli {

namespace {

// Turns photos (or template files, taken as they are) into templates, loading
// the model only when a photo needs it. Photos are read and searched by
// context.jobs workers, and their templates made in batches.
class TemplateMaker {
public:
    TemplateMaker(std::string modelPath, std::optional<EyePair> eyes, const CommandContext& context)
        : m_modelPath(std::move(modelPath)), m_eyes(eyes), m_err(context.err), m_manyViews(context.manyViews),
          m_jobs(context.jobs)
    {
    }

    // Reads the files and finds their faces, calling onFile after each. Throws
    // CliError for missing or unreadable files.
    void Queue(const std::vector<std::string>& paths, const std::function<void()>& onFile)
    {
        PhotoReader(m_jobs).ReadInOrder(
            paths,
            [&](size_t i) {
                return IsTemplateFile(paths[i]) ? PhotoWork::Skip : m_eyes ? PhotoWork::Read : PhotoWork::Search;
            },
            [&](size_t i, PhotoRead& read) {
                Queue(paths[i], read);
                onFile();
            });
    }

    // The template of the file queued n-th (from 0); nothing when the photo
    // shows no face.
    std::optional<TemplateBuffer> Take(size_t n)
    {
        Item& item = m_items.at(n);
        if (item.given)
            return std::move(item.given);
        if (!item.made)
            return std::nullopt;
        return std::move(m_batch->Templates().at(*item.made));
    }

private:
    struct Item {
        std::optional<TemplateBuffer> given;
        std::optional<size_t> made;
    };

    void Queue(const std::string& path, PhotoRead& read)
    {
        Item item;
        if (read.work == PhotoWork::Skip) {
            item.given = ReadTemplateFile(path);
        } else {
            if (read.error)
                throw *read.error;
            if (!m_recognizer) {
                m_recognizer.emplace(m_err);
                m_recognizer->SetManyViews(m_manyViews);
                m_recognizer->LoadModel(m_modelPath);
                m_batch.emplace(*m_recognizer);
            }
            const std::optional<EyePair> eyes = m_eyes ? m_eyes : read.eyes;
            if (eyes)
                item.made = m_batch->Add(read.image, *eyes);
        }
        m_items.push_back(std::move(item));
    }

    std::string m_modelPath;
    std::optional<EyePair> m_eyes;
    std::ostream& m_err;
    bool m_manyViews;
    int m_jobs;
    std::optional<Recognizer> m_recognizer;
    std::optional<TemplateBatch> m_batch;
    std::vector<Item> m_items;
};

struct PhotoGroup {
    std::string name;                 // person (enrol) or expected answer (identify; may be empty)
    std::vector<std::string> photos;
};

// The photos named on the command line, or the person folders of --folders.
std::vector<PhotoGroup> CollectPhotos(const std::string& folders, const std::string& numbers,
                                      const std::string& name, const std::vector<std::string>& images,
                                      const char* command)
{
    std::vector<PhotoGroup> groups;
    if (!folders.empty()) {
        if (!images.empty() || !name.empty())
            throw CliError(kExitUsage, std::string(command) + ": give either --folders or photos, not both");
        const std::optional<NumberList> list =
            numbers.empty() ? std::nullopt : std::optional<NumberList>(NumberList::Parse(numbers));
        for (Person& p : SelectPhotos(folders, list ? &*list : nullptr))
            groups.push_back({p.name, std::move(p.images)});
        if (groups.empty())
            throw CliError(kExitInput, "no photos" + (numbers.empty() ? "" : " numbered " + numbers) +
                                           " in the person folders of " + folders);
        return groups;
    }
    if (!numbers.empty())
        throw CliError(kExitUsage, std::string(command) + ": --images selects photos of --folders");
    if (images.empty())
        throw CliError(kExitUsage, std::string(command) + ": give photos, or --folders");
    groups.push_back({name, images});
    return groups;
}

std::vector<std::string> AllPhotos(const std::vector<PhotoGroup>& groups)
{
    std::vector<std::string> photos;
    for (const PhotoGroup& g : groups)
        photos.insert(photos.end(), g.photos.begin(), g.photos.end());
    return photos;
}

long CountPhotos(const std::vector<PhotoGroup>& groups)
{
    return static_cast<long>(AllPhotos(groups).size());
}

Json ModelJson(const ModelIdentity& model)
{
    return {{"name", model.name}, {"size", model.size}, {"hash", model.hash}};
}

std::string FormatScore(double score)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", score);
    return text;
}

} // namespace

int RunEnrol(const EnrolOptions& options, const CommandContext& context)
{
    if (options.folders.empty() && options.name.empty())
        throw CliError(kExitUsage, "enroll: give NAME and photos, or --folders");
    const std::vector<PhotoGroup> groups =
        CollectPhotos(options.folders, options.numbers, options.name, options.images, "enroll");
    const std::string modelPath = ResolveModelPath(options.model);
    const ModelIdentity model = IdentifyModel(modelPath);
    Gallery gallery(options.gallery, Gallery::Access::Create);
    gallery.RequireModel(model); // before the slow part

    TemplateMaker maker(modelPath, options.eyes, context);
    std::vector<std::pair<std::string, TemplateBuffer>> entries;
    std::vector<std::string> withoutFace;
    long done = 0;
    ProgressBar progress(context.err, context.progress && CountPhotos(groups) > 1, CountPhotos(groups), "enroll");
    maker.Queue(AllPhotos(groups), [&] { progress.Update(++done); });
    size_t next = 0;
    for (const PhotoGroup& group : groups) {
        std::vector<TemplateBuffer> parts;
        for (const std::string& photo : group.photos) {
            if (std::optional<TemplateBuffer> t = maker.Take(next++))
                parts.push_back(std::move(*t));
            else
                withoutFace.push_back(photo);
        }
        if (!parts.empty())
            entries.emplace_back(group.name, JoinTemplates(parts));
    }
    progress.Finish();
    for (const std::string& photo : withoutFace)
        context.err << "velmora: no face found in " << photo << " (skipped)\n";
    if (entries.empty())
        throw CliError(kExitNoFace, "no face found in any photo; nobody was enrolled");
    const std::vector<EnrolResult> results = gallery.Enrol(entries, model);

    if (context.json) {
        Json people = Json::array();
        for (const EnrolResult& r : results)
            people.push_back({{"name", r.name}, {"added", r.added}, {"vectors", r.vectors}, {"new", r.isNew}});
        PrintJson(context.out, {{"gallery", options.gallery},
                                {"model", ModelJson(model)},
                                {"people", people},
                                {"without_face", withoutFace}});
    } else {
        int32_t added = 0;
        for (const EnrolResult& r : results) {
            added += r.added;
            context.out << (r.isNew ? "enrolled " : "added to ") << r.name << ": " << r.added
                        << (r.added == 1 ? " vector" : " vectors");
            if (!r.isNew)
                context.out << ", " << r.vectors << " in all";
            context.out << '\n';
        }
        context.out << results.size() << (results.size() == 1 ? " person, " : " people, ") << added
                    << (added == 1 ? " vector" : " vectors") << " written to " << options.gallery << '\n';
    }
    return withoutFace.empty() ? kExitOk : kExitNoFace;
}

namespace {

struct IdentifyOutcome {
    std::string photo;
    std::string expected;
    bool face = false;
    std::vector<Candidate> ranked;
    std::optional<std::string> answer;
};

// What the reports of identify tell.
struct IdentifyRun {
    ModelIdentity model;
    size_t people = 0;
    bool truthKnown = false;
    std::optional<double> threshold;
    std::string thresholdSource = "--threshold";
    std::vector<IdentifyOutcome> outcomes;
    long withoutFace = 0, unknown = 0, topCorrect = 0, answeredCorrect = 0;
    size_t shown = 1; // candidates listed per probe
};

// --threshold, else the model's calibrated one, else none (every probe gets its best match).
void ChooseThreshold(IdentifyRun& run, const IdentifyOptions& options, const std::string& modelPath,
                     const CommandContext& context)
{
    run.threshold = options.threshold;
    if (run.threshold)
        return;
    if (const std::optional<Calibration> c = ReadCalibration(modelPath)) {
        run.threshold = c->ThresholdFor(CompareModeName(options.mode));
        run.thresholdSource = c->source;
    } else {
        context.err << "velmora: note: the model has no calibrated threshold (" << CalibrationPathFor(modelPath)
                    << "), so every probe gets its best match; give --threshold to answer 'unknown'\n";
    }
}

void IdentifyPhotos(IdentifyRun& run, const std::vector<PhotoGroup>& groups, const std::vector<GalleryPerson>& people,
                    const IdentifyOptions& options, const std::string& modelPath, const CommandContext& context)
{
    TemplateMaker maker(modelPath, options.eyes, context);
    ProgressBar progress(context.err, context.progress && CountPhotos(groups) > 1, CountPhotos(groups), "identify");
    long queued = 0;
    maker.Queue(AllPhotos(groups), [&] { progress.Update(++queued); });
    for (const PhotoGroup& group : groups)
        for (const std::string& photo : group.photos) {
            IdentifyOutcome o;
            o.photo = photo;
            o.expected = group.name;
            if (std::optional<TemplateBuffer> probe = maker.Take(run.outcomes.size())) {
                o.face = true;
                o.ranked = RankPeople(*probe, people, options.mode);
                o.answer = Decide(o.ranked, run.threshold);
            }
            run.outcomes.push_back(std::move(o));
        }
    progress.Finish();
}

void CountOutcomes(IdentifyRun& run)
{
    for (const IdentifyOutcome& o : run.outcomes) {
        run.withoutFace += o.face ? 0 : 1;
        run.unknown += o.face && !o.answer ? 1 : 0;
        if (o.face && !o.ranked.empty() && o.ranked.front().name == o.expected)
            ++run.topCorrect;
        if (o.answer && *o.answer == o.expected)
            ++run.answeredCorrect;
    }
}

void ReportIdentifyJson(const IdentifyRun& run, const IdentifyOptions& options, std::ostream& out)
{
    Json results = Json::array();
    for (const IdentifyOutcome& o : run.outcomes) {
        Json result = {{"image", o.photo}};
        if (run.truthKnown)
            result["expected"] = o.expected;
        result["face_found"] = o.face;
        result["answer"] = o.answer ? Json(*o.answer) : Json();
        result["candidates"] = Json::array();
        for (size_t i = 0; i < o.ranked.size() && i < run.shown; ++i)
            result["candidates"].push_back({{"name", o.ranked[i].name}, {"score", o.ranked[i].score}});
        results.push_back(result);
    }
    Json summary = {{"probes", run.outcomes.size()}, {"unknown", run.unknown}, {"without_face", run.withoutFace}};
    if (run.truthKnown) {
        summary["rank1_correct"] = run.topCorrect;
        summary["answered_correct"] = run.answeredCorrect;
        summary["rank1_rate"] =
            run.outcomes.empty() ? 0.0 : static_cast<double>(run.topCorrect) / run.outcomes.size();
    }
    PrintJson(out, {{"gallery", options.gallery},
                    {"model", ModelJson(run.model)},
                    {"mode", CompareModeName(options.mode)},
                    {"people", run.people},
                    {"threshold", run.threshold ? Json(*run.threshold) : Json()},
                    {"results", results},
                    {"summary", summary}});
}

void ReportIdentifyOutcomeText(const IdentifyRun& run, const IdentifyOutcome& o, std::ostream& out)
{
    out << o.photo << ": ";
    if (!o.face) {
        out << "no face found\n";
        return;
    }
    if (o.answer)
        out << *o.answer << " (score " << FormatScore(o.ranked.front().score) << ")";
    else if (o.ranked.empty())
        out << "unknown (the gallery is empty)";
    else
        out << "unknown (best " << o.ranked.front().name << " " << FormatScore(o.ranked.front().score)
            << " is below " << FormatScore(*run.threshold) << ")";
    if (run.truthKnown && !o.ranked.empty() && o.ranked.front().name != o.expected)
        out << "  [expected " << o.expected << "]";
    out << '\n';
    if (run.shown > 1)
        for (size_t i = 0; i < o.ranked.size() && i < run.shown; ++i)
            out << "  " << (i + 1) << ". " << o.ranked[i].name << "  " << FormatScore(o.ranked[i].score) << '\n';
}

void ReportIdentifyText(const IdentifyRun& run, const IdentifyOptions& options, std::ostream& out)
{
    for (const IdentifyOutcome& o : run.outcomes)
        ReportIdentifyOutcomeText(run, o, out);
    if (run.threshold)
        out << "threshold " << FormatScore(*run.threshold) << " from " << run.thresholdSource << ", mode "
            << CompareModeName(options.mode) << '\n';
    if (run.truthKnown) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.2f%%",
                      run.outcomes.empty() ? 0.0 : 100.0 * static_cast<double>(run.topCorrect) / run.outcomes.size());
        out << "rank-1: " << run.topCorrect << " of " << run.outcomes.size() << " correct (" << rate << ")";
        if (run.threshold)
            out << "; answered correctly above the threshold: " << run.answeredCorrect << "; unknown: " << run.unknown;
        out << "; without a face: " << run.withoutFace << '\n';
    }
}

} // namespace

int RunIdentify(const IdentifyOptions& options, const CommandContext& context)
{
    const std::vector<PhotoGroup> groups =
        CollectPhotos(options.folders, options.numbers, "", options.images, "identify");
    IdentifyRun run;
    run.truthKnown = !options.folders.empty();
    const std::string modelPath = ResolveModelPath(options.model);
    run.model = IdentifyModel(modelPath);
    std::vector<GalleryPerson> people;
    {
        const Gallery gallery(options.gallery, Gallery::Access::Read);
        gallery.RequireModel(run.model);
        people = gallery.People(true);
    }
    if (people.empty())
        context.err << "velmora: note: the gallery " << options.gallery << " has nobody in it\n";
    run.people = people.size();

    ChooseThreshold(run, options, modelPath, context);
    IdentifyPhotos(run, groups, people, options, modelPath, context);
    CountOutcomes(run);
    run.shown = static_cast<size_t>(std::max(1, options.top));
    if (context.json)
        ReportIdentifyJson(run, options, context.out);
    else
        ReportIdentifyText(run, options, context.out);
    return run.withoutFace == 0 ? kExitOk : kExitNoFace;
}

int RunGalleryList(const std::string& galleryPath, const CommandContext& context)
{
    const Gallery gallery(galleryPath, Gallery::Access::Read);
    const std::optional<ModelIdentity> model = gallery.Model();
    const std::vector<GalleryPerson> people = gallery.People(false);
    if (context.json) {
        Json list = Json::array();
        for (const GalleryPerson& p : people)
            list.push_back({{"name", p.name}, {"vectors", p.vectors}, {"updated", p.updated}});
        PrintJson(context.out,
                  {{"gallery", galleryPath}, {"model", model ? ModelJson(*model) : Json()}, {"people", list}});
    } else {
        context.out << galleryPath << ": " << people.size() << (people.size() == 1 ? " person" : " people");
        if (model)
            context.out << ", model " << model->Describe();
        context.out << '\n';
        for (const GalleryPerson& p : people)
            context.out << p.name << '\t' << p.vectors << (p.vectors == 1 ? " vector" : " vectors") << '\t'
                        << p.updated << '\n';
    }
    return kExitOk;
}

int RunGalleryRemove(const std::string& galleryPath, const std::vector<std::string>& names,
                     const CommandContext& context)
{
    Gallery gallery(galleryPath, Gallery::Access::Write);
    gallery.Remove(names);
    if (context.json) {
        PrintJson(context.out, {{"gallery", galleryPath}, {"removed", names}});
    } else {
        for (const std::string& n : names)
            context.out << "removed " << n << '\n';
    }
    return kExitOk;
}

RegisteredCommand AddEnrol(CLI::App& app, CommandContext& context)
{
    struct Args {
        EnrolOptions enrol;
        std::string eyes;
    };
    auto args = std::make_shared<Args>();
    EnrolOptions& enrol = args->enrol;
    CLI::App* command = AddCommand(
        app, "enroll", "Add people to a gallery: photos of one person, or one folder of photos per person", context);
    command->alias("enrol");
    command->add_option("--gallery", enrol.gallery, "Gallery file (SQLite; made when missing)")->required();
    command->add_option("NAME", enrol.name, "The person the photos show (a known name adds vectors)");
    command->add_option("IMAGE", enrol.images, "Photos of that person (or template files)");
    command->add_option("--folders", enrol.folders,
                        "Instead of NAME and photos: enrol every subfolder of this folder as one person, "
                        "named after the folder");
    command->add_option("--images", enrol.numbers,
                        "With --folders: the photo numbers to use, e.g. 1-5 or 1,3,7-9 (the number that "
                        "ends a file name: 3.pgm, Ann_Lee_0003.jpg)");
    AddEyesOption(command, args->eyes);
    AddModelOption(command, enrol.model);
    AddSingleVectorOption(command, context);
    AddJobsOption(command, context);
    command->footer(std::string("Examples:\n"
                                "  velmora enroll --gallery staff.db \"Ann Lee\" ann1.jpg ann2.jpg\n"
                                "  velmora enroll --gallery orl.db --folders data/orl --images 1-5\n"
                                "One template per person holds two vectors per photo (one with --single-vector). A photo without a face is "
                                "skipped (exit code 4).\nThe gallery remembers its model and refuses "
                                "another one.\n\n") +
                    ExitCodeFooter());
    return {command, [args, &context] {
                args->enrol.eyes = OptionalEyes(args->eyes);
                return RunEnrol(args->enrol, context);
            }};
}

RegisteredCommand AddIdentify(CLI::App& app, CommandContext& context)
{
    struct Args {
        IdentifyOptions identify;
        std::string eyes;
        std::string mode = "line";
    };
    auto args = std::make_shared<Args>();
    IdentifyOptions& identify = args->identify;
    CLI::App* command =
        AddCommand(app, "identify", "Tell who is in photos: the best matching people of a gallery", context);
    command->add_option("--gallery", identify.gallery, "Gallery file made by 'velmora enroll'")->required();
    command->add_option("IMAGE", identify.images, "Photos (or template files) to identify");
    command->add_option("--folders", identify.folders,
                        "Instead of photos: the photos of every person folder of this folder; the "
                        "folder's name is the right answer, and the rank-1 rate is reported");
    command->add_option("--images", identify.numbers, "With --folders: the photo numbers to use, e.g. 6-10");
    command->add_option("--top", identify.top, "Show the N best matching people (default 1)")
        ->check(CLI::Range(1, 1000000));
    command
        ->add_option("--mode", args->mode,
                     "How a probe is matched with a person's vectors: line (nearest feature line, the default: "
                     "it draws on every pair of a person's views), max (best vector) or mean (their mean)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    command->add_option("--threshold", identify.threshold,
                        "Answer 'unknown' below this score instead of the model's calibrated threshold")
        ->check(CLI::Range(0.0, 1.0));
    AddEyesOption(command, args->eyes);
    AddModelOption(command, identify.model);
    AddSingleVectorOption(command, context);
    AddJobsOption(command, context);
    command->footer(std::string("Examples:\n"
                                "  velmora identify --gallery staff.db visitor.jpg --top 3\n"
                                "  velmora identify --gallery orl.db --folders data/orl --images 6-10\n"
                                "The answer is the best person when the score reaches the threshold, "
                                "else 'unknown'.\n\n") +
                    ExitCodeFooter());
    return {command, [args, &context] {
                args->identify.eyes = OptionalEyes(args->eyes);
                args->identify.mode = ParseCompareMode(args->mode);
                return RunIdentify(args->identify, context);
            }};
}

RegisteredCommand AddGalleryList(CLI::App& gallery, CommandContext& context)
{
    auto path = std::make_shared<std::string>();
    CLI::App* command = AddCommand(gallery, "list", "List the people of a gallery", context);
    command->add_option("--gallery", *path, "Gallery file")->required();
    return {command, [path, &context] { return RunGalleryList(*path, context); }};
}

RegisteredCommand AddGalleryRemove(CLI::App& gallery, CommandContext& context)
{
    struct Args {
        std::string gallery;
        std::vector<std::string> names;
    };
    auto args = std::make_shared<Args>();
    CLI::App* command = AddCommand(gallery, "remove", "Remove people from a gallery (all or none)", context);
    command->add_option("--gallery", args->gallery, "Gallery file")->required();
    command->add_option("NAME", args->names, "The people to remove")->required();
    return {command, [args, &context] { return RunGalleryRemove(args->gallery, args->names, context); }};
}

} // namespace velmora_cli
