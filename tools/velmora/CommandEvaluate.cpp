#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include <stdlib.h>

#include "CommandOptions.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "FaceAugment.h"
#include "FoldTraining.h"
#include "Identification.h"
#include "Json.h"
#include "Metrics.h"
#include "ModelFiles.h"
#include "PairsFile.h"
#include "PhotoReading.h"
#include "PhotoSelection.h"
#include "ProgressBar.h"
#include "Recognizer.h"
#include "RocPlot.h"
#include "Training.h"
#include "recognizer/Engine.h"

namespace velmora_cli {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Fixed(double v, int digits)
{
    if (!std::isfinite(v))
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

std::string Percent(double share)
{
    return std::isfinite(share) ? Fixed(100.0 * share, 2) + "%" : "n/a";
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::ofstream OpenOutput(const std::string& path, const char* what)
{
    std::ofstream out(path, std::ios::trunc);
    if (!out)
        throw CliError(kExitInput, std::string("cannot write the ") + what + " " + path);
    return out;
}

// Makes templates of photos with the recognizer's current model, timing them.
class FaceTemplates {
public:
    FaceTemplates(Recognizer& recognizer, std::optional<EyePair> eyes, std::optional<EyePair> fallback, int jobs)
        : m_recognizer(recognizer), m_eyes(eyes), m_fallback(fallback), m_reader(jobs)
    {
    }

    // Makes the templates of these photos in batches, several times quicker than
    // one by one; Make then hands each out as it would have made it. onPhoto(i)
    // follows paths[i].
    void Prepare(const std::vector<std::string>& paths, const std::function<void(size_t)>& onPhoto)
    {
        const Clock::time_point start = Clock::now();
        m_prepared.clear();
        TemplateBatch batch(m_recognizer);
        std::map<std::string, std::optional<size_t>> made;
        std::set<std::string> seen;
        std::vector<bool> first;
        for (const std::string& path : paths)
            first.push_back(seen.insert(path).second);
        ReadPhotos(paths, first, [&](size_t i, PhotoRead& read) {
            if (first[i]) {
                m_prepared[paths[i]].faceFound = read.eyes.has_value();
                if (const std::optional<EyePair> eyes = read.eyes ? read.eyes : m_fallback)
                    made[paths[i]] = batch.Add(read.image, *eyes);
            }
            onPhoto(i);
        });
        for (auto& [path, index] : made)
            m_prepared[path].templ = std::move(batch.Templates().at(*index));
        m_seconds += SecondsSince(start);
    }

    // Nothing when no face is found (and no fallback eyes are given).
    std::optional<TemplateBuffer> Make(const std::string& path)
    {
        if (const auto prepared = m_prepared.find(path); prepared != m_prepared.end()) {
            m_withoutFace += prepared->second.faceFound ? 0 : 1;
            ++m_made;
            return prepared->second.templ;
        }
        const Clock::time_point start = Clock::now();
        GreyImage image = LoadGreyImage(path);
        std::optional<EyePair> eyes = FoundEyes(path, image);
        if (!eyes) {
            ++m_withoutFace;
            eyes = m_fallback;
        }
        std::optional<TemplateBuffer> t;
        if (eyes)
            t = m_recognizer.MakeTemplate(image, *eyes);
        m_seconds += SecondsSince(start);
        ++m_made;
        return t;
    }

    // Reads each wanted photo, with the given eyes or its face's, found before or
    // now by the workers (each photo is searched once), and hands every i in
    // order to onPhoto: unwanted ones unread.
    void ReadPhotos(const std::vector<std::string>& paths, const std::vector<bool>& wanted,
                    const std::function<void(size_t, PhotoRead&)>& onPhoto)
    {
        std::vector<PhotoWork> plan(paths.size(), PhotoWork::Skip);
        for (size_t i = 0; i < paths.size(); ++i)
            if (wanted[i])
                plan[i] = m_eyes || m_found.count(paths[i]) != 0 ? PhotoWork::Read : PhotoWork::Search;
        m_reader.ReadInOrder(
            paths, [&](size_t i) { return plan[i]; },
            [&](size_t i, PhotoRead& read) {
                if (read.error)
                    throw *read.error;
                if (plan[i] == PhotoWork::Search)
                    m_found[paths[i]] = read.eyes;
                else if (plan[i] == PhotoWork::Read)
                    read.eyes = m_eyes ? m_eyes : m_found[paths[i]];
                onPhoto(i, read);
            });
    }

    // The given eyes, or the face found in the photo; each photo is searched once.
    std::optional<EyePair> FoundEyes(const std::string& path, GreyImage& image)
    {
        if (m_eyes)
            return m_eyes;
        if (const auto found = m_found.find(path); found != m_found.end())
            return found->second;
        return m_found[path] = m_recognizer.FindOneFace(image);
    }
    const std::optional<EyePair>& fallback() const { return m_fallback; }

    long withoutFace() const { return m_withoutFace; }
    double SecondsPerPhoto() const { return m_made > 0 ? m_seconds / static_cast<double>(m_made) : 0.0; }

private:
    struct Prepared {
        bool faceFound = false;
        std::optional<TemplateBuffer> templ;
    };

    Recognizer& m_recognizer;
    std::map<std::string, Prepared> m_prepared;
    std::map<std::string, std::optional<EyePair>> m_found;
    std::optional<EyePair> m_eyes;
    std::optional<EyePair> m_fallback;
    PhotoReader m_reader;
    long m_withoutFace = 0;
    long m_made = 0;
    double m_seconds = 0.0;
};

// Extends the loaded model's discriminant stage with the enrolment photos'
// people, on top of the statistics of the people the model was trained on.
// Each photo joins as six faces (AugmentFace): with five photos a person
// otherwise gives the discriminant stage too little within-person variation
// (ORL rank-1 97.0% against 95.5% with the face and its mirror image alone,
// with templates of two vectors in mode max).
// Returns the faces used.
long AdaptToEnrolled(Recognizer& recognizer, FaceTemplates& templates, const std::vector<Person>& people,
                     const IncrementalSetup& setup, const std::string& statsPath)
{
    const int side = Recognizer::kNormFaceSide;
    const size_t length = static_cast<size_t>(side) * static_cast<size_t>(side);
    std::vector<std::string> photos;
    std::vector<size_t> owners;
    for (size_t p = 0; p < people.size(); ++p)
        for (const std::string& photo : people[p].images) {
            photos.push_back(photo);
            owners.push_back(p);
        }
    std::vector<unsigned char> faces;
    std::vector<int> perPerson(people.size(), 0);
    templates.ReadPhotos(photos, std::vector<bool>(photos.size(), true), [&](size_t i, PhotoRead& read) {
        const std::optional<EyePair> found = read.eyes ? read.eyes : templates.fallback();
        if (!found)
            return;
        const GreyImage face = recognizer.NormFace(read.image, *found);
        faces.resize(faces.size() + kAugmentedFaces * length);
        AugmentFace(face.pixels.data(), side, faces.data() + faces.size() - kAugmentedFaces * length);
        perPerson[owners[i]] += kAugmentedFaces;
    });
    std::vector<int> counts;
    std::copy_if(perPerson.begin(), perPerson.end(), std::back_inserter(counts), [](int n) { return n > 0; });
    if (faces.empty())
        throw CliError(kExitFailure, "no face found in the enrolment photos: there is nobody to adapt the model to");
    std::vector<unsigned char*> pointers;
    for (size_t at = 0; at < faces.size(); at += length)
        pointers.push_back(faces.data() + at);
    const ScratchFolder scratch("velmora-adapt");
    const enumTError result = recognizer.velmora().IncreaseTrain(
        pointers.data(), static_cast<int>(counts.size()), counts.data(), 0, false, setup.dim, 0, nullptr,
        statsPath.c_str(), scratch.File("adapted.model").c_str());
    if (result != T_OK)
        throw CliError(kExitFailure, "adding the enrolled people to the discriminant stage failed (error " +
                                         std::to_string(result) + "); " + statsPath +
                                         " must hold the statistics of the model's own training");
    return static_cast<long>(pointers.size());
}

Json MeanAndErrorJson(const MeanAndError& m)
{
    return {{"mean", m.mean}, {"standard_error", m.standardError}};
}

} // namespace

// ---------------------------------------------------------------- ORL: identification

namespace {

struct OrlProbe {
    std::string photo, expected, answer;
    double score = 0.0;
    bool face = false;
};

// What the reports of evaluate orl tell.
struct OrlRun {
    std::string modelPath;
    std::string statsPath;
    long adaptFaces = 0;
    size_t people = 0;
    std::vector<OrlProbe> probes;
    long correct = 0;
    double rank1 = 0.0;
    long enrolWithoutFace = 0;
    long probesWithoutFace = 0;
    double secondsPerPhoto = 0.0;
    double seconds = 0.0;
};

// The gallery, in memory: one template per person with a vector per enrolment photo.
std::vector<GalleryPerson> EnrolInMemory(const std::vector<Person>& enrolPhotos, FaceTemplates& templates,
                                         ProgressBar& progress, long& done)
{
    std::vector<GalleryPerson> gallery;
    for (const Person& person : enrolPhotos) {
        std::vector<TemplateBuffer> parts;
        for (const std::string& photo : person.images) {
            if (std::optional<TemplateBuffer> t = templates.Make(photo))
                parts.push_back(std::move(*t));
            progress.Update(++done);
        }
        if (parts.empty())
            continue;
        GalleryPerson p;
        p.name = person.name;
        p.templ = JoinTemplates(parts);
        p.vectors = static_cast<int32_t>(parts.size());
        gallery.push_back(std::move(p));
    }
    return gallery;
}

void IdentifyProbes(OrlRun& run, const std::vector<Person>& probePhotos, const std::vector<GalleryPerson>& gallery,
                    CompareMode mode, FaceTemplates& templates, ProgressBar& progress, long& done)
{
    for (const Person& person : probePhotos)
        for (const std::string& photo : person.images) {
            OrlProbe probe;
            probe.photo = photo;
            probe.expected = person.name;
            if (std::optional<TemplateBuffer> t = templates.Make(photo)) {
                probe.face = true;
                const std::vector<Candidate> ranked = RankPeople(*t, gallery, mode);
                if (!ranked.empty()) {
                    probe.answer = ranked.front().name;
                    probe.score = ranked.front().score;
                }
            }
            run.correct += probe.answer == probe.expected ? 1 : 0;
            run.probes.push_back(std::move(probe));
            progress.Update(++done);
        }
}

void WriteOrlCsv(const OrlRun& run, const std::string& path)
{
    std::ofstream csv = OpenOutput(path, "CSV file");
    csv << "probe,expected,answer,score,correct\n";
    for (const OrlProbe& p : run.probes)
        csv << CsvField(p.photo) << ',' << CsvField(p.expected) << ',' << CsvField(p.answer) << ','
            << (p.face ? Fixed(p.score, 6) : "") << ',' << (p.answer == p.expected ? 1 : 0) << '\n';
    if (!csv)
        throw CliError(kExitInput, "cannot write the CSV file " + path);
}

void ReportOrlJson(const OrlRun& run, const EvaluateOrlOptions& options, const CommandContext& context)
{
    Json doc = {{"protocol", "orl"}, {"model", run.modelPath}, {"mode", CompareModeName(options.mode)},
                {"vectors_per_photo", context.manyViews ? Recognizer::kViewVectors : 1}};
    if (options.adapt)
        doc["adapted_on"] = {{"statistics", run.statsPath}, {"faces", run.adaptFaces}};
    doc["enrolled_photos"] = options.enrolNumbers;
    doc["probe_photos"] = options.probeNumbers;
    doc["people"] = run.people;
    doc["probes"] = run.probes.size();
    doc["rank1_correct"] = run.correct;
    doc["rank1_rate"] = run.rank1;
    doc["enrolment_photos_without_face"] = run.enrolWithoutFace;
    doc["probes_without_face"] = run.probesWithoutFace;
    doc["seconds_per_photo"] = run.secondsPerPhoto;
    doc["seconds"] = run.seconds;
    if (!options.csv.empty())
        doc["csv"] = options.csv;
    PrintJson(context.out, doc);
}

void ReportOrlText(const OrlRun& run, const EvaluateOrlOptions& options, const CommandContext& context)
{
    context.out << "ORL identification: photos " << options.enrolNumbers << " of " << run.people
                << " people enrolled, photos " << options.probeNumbers << " probed (model " << run.modelPath
                << ", mode " << CompareModeName(options.mode) << (context.manyViews ? "" : ", one vector per photo")
                << (options.adapt ? ", adapted to the enrolled people" : "") << ")\n"
                << "rank-1: " << run.correct << " of " << run.probes.size() << " correct (" << Percent(run.rank1) << ")\n"
                << "photos without a face: " << run.enrolWithoutFace << " enrolment, " << run.probesWithoutFace
                << " probe"
                << (options.fallbackEyes ? " (fallback eyes used)" : " (left out of the gallery; a probe counts as wrong)")
                << "\n"
                << "time per photo (face finding and template): " << Fixed(1000.0 * run.secondsPerPhoto, 1)
                << " ms; " << Fixed(run.seconds, 1) << " s in all\n";
    if (!options.csv.empty())
        context.out << "wrote " << options.csv << '\n';
}

} // namespace

int RunEvaluateOrl(const EvaluateOrlOptions& options, const CommandContext& context)
{
    const Clock::time_point start = Clock::now();
    const NumberList enrolNumbers = NumberList::Parse(options.enrolNumbers);
    const NumberList probeNumbers = NumberList::Parse(options.probeNumbers);
    const std::vector<Person> enrolPhotos = SelectPhotos(options.folder, &enrolNumbers);
    const std::vector<Person> probePhotos = SelectPhotos(options.folder, &probeNumbers);
    if (enrolPhotos.empty() || probePhotos.empty())
        throw CliError(kExitInput, "no photos numbered " + (enrolPhotos.empty() ? options.enrolNumbers : options.probeNumbers) +
                                       " in the person folders of " + options.folder);
    long photoCount = 0;
    for (const auto* set : {&enrolPhotos, &probePhotos})
        for (const Person& p : *set)
            photoCount += static_cast<long>(p.images.size());

    OrlRun run;
    run.modelPath = ResolveModelPath(options.model);
    Recognizer recognizer(context.err);
    recognizer.SetManyViews(context.manyViews);
    run.statsPath = options.stats.empty() ? StatisticsPathFor(run.modelPath) : options.stats;
    // Made first: the adaptation and the templates search each photo once between them.
    FaceTemplates templates(recognizer, options.eyes, options.fallbackEyes, context.jobs);
    if (options.adapt) {
        const IncrementalSetup setup = PrepareIncremental(recognizer, run.modelPath, run.statsPath, 0);
        run.adaptFaces = AdaptToEnrolled(recognizer, templates, enrolPhotos, setup, run.statsPath);
    } else {
        recognizer.LoadModel(run.modelPath);
    }
    ProgressBar progress(context.err, context.progress, photoCount, "orl");
    long done = 0;
    std::vector<std::string> photos;
    for (const auto* set : {&enrolPhotos, &probePhotos})
        for (const Person& p : *set)
            photos.insert(photos.end(), p.images.begin(), p.images.end());
    templates.Prepare(photos, [&](size_t i) { progress.Update(static_cast<long>(i + 1)); });

    const std::vector<GalleryPerson> gallery = EnrolInMemory(enrolPhotos, templates, progress, done);
    run.people = gallery.size();
    // Counted before any fallback eyes stand in.
    run.enrolWithoutFace = templates.withoutFace();
    IdentifyProbes(run, probePhotos, gallery, options.mode, templates, progress, done);
    progress.Finish();
    run.probesWithoutFace = templates.withoutFace() - run.enrolWithoutFace;
    run.rank1 = static_cast<double>(run.correct) / static_cast<double>(run.probes.size());

    if (!options.csv.empty())
        WriteOrlCsv(run, options.csv);
    run.seconds = SecondsSince(start);
    run.secondsPerPhoto = templates.SecondsPerPhoto();
    if (context.json)
        ReportOrlJson(run, options, context);
    else
        ReportOrlText(run, options, context);
    return kExitOk;
}

// ---------------------------------------------------------------- LFW: verification

namespace {

struct LfwFoldResult {
    int fold = 0; // 1-based
    std::vector<ScoredPair> scores;
    // When calibrating: the same pairs scored in every mode, for a threshold per mode.
    std::map<CompareMode, std::vector<ScoredPair>> modeScores;
    long pairsWithoutTemplate = 0;
    TrainedFold trained;
    double accuracy = 0.0, threshold = 0.0;
    EqualError eer;
    double tar2 = 0.0, tar3 = 0.0;
};

struct LfwSummary {
    bool ownThreshold = false;
    std::vector<ScoredPair> pooled;
    MeanAndError accuracy, eer, tar2, tar3;
    EqualError pooledEer;
};

// What the reports tell.
struct LfwRun {
    bool perFoldTraining = false;
    TrainRecipe recipe = TrainRecipe::Train;
    std::string modelPath;
    std::vector<PairFold> folds;
    std::vector<LfwFoldResult> results;
    LfwSummary summary;
    long withoutFace = 0;
    double secondsPerPhoto = 0.0;
    double seconds = 0.0;
};

// What scoring a fold uses, made once for all folds.
struct LfwScoring {
    Recognizer& recognizer;
    TrainingSet& training;
    const std::optional<ScratchFolder>& scratch;
    FaceTemplates& templates;
    ProgressBar& progress;
    long done = 0;
};

TrainRecipe CheckLfwOptions(const EvaluateLfwOptions& options, bool perFoldTraining)
{
    if (perFoldTraining && !options.model.empty())
        throw CliError(kExitUsage, "evaluate lfw: give --model or --train-samples, not both");
    if (!perFoldTraining && !options.recipe.empty())
        throw CliError(kExitUsage, "evaluate lfw: --recipe goes with --train-samples");
    if (perFoldTraining && options.calibrate)
        throw CliError(kExitUsage, "evaluate lfw: --calibrate needs one fixed --model");
    return options.recipe == "train" ? TrainRecipe::Train : TrainRecipe::Refit;
}

// 0-based indices of the folds --folds names, all when it is empty.
std::vector<int> SelectLfwFolds(const std::vector<PairFold>& folds, const EvaluateLfwOptions& options)
{
    std::vector<int> selected;
    if (options.folds.empty()) {
        for (size_t k = 0; k < folds.size(); ++k)
            selected.push_back(static_cast<int>(k));
        return selected;
    }
    const NumberList list = NumberList::Parse(options.folds);
    for (size_t k = 0; k < folds.size(); ++k)
        if (list.Contains(static_cast<long>(k + 1)))
            selected.push_back(static_cast<int>(k));
    if (selected.empty())
        throw CliError(kExitUsage, "--folds " + options.folds + " names no fold of " + options.pairs + " (it has " +
                                       std::to_string(folds.size()) + ")");
    return selected;
}

// Every photo must be there before hours of work start. Returns the photos of
// the pairs, counted once per pair.
long CheckLfwPhotos(const std::vector<PairFold>& folds, const std::vector<int>& selected,
                    const EvaluateLfwOptions& options)
{
    long photoCount = 0;
    for (int k : selected)
        for (const FacePair& p : folds[k].pairs)
            for (const std::string& path :
                 {PairImagePath(options.folder, p.nameA, p.imageA), PairImagePath(options.folder, p.nameB, p.imageB)}) {
                std::error_code ec;
                if (!std::filesystem::is_regular_file(path, ec))
                    throw CliError(kExitInput, "photo not found: " + path + " (named in " + options.pairs + ")");
                ++photoCount;
            }
    return photoCount;
}

void TrainForFold(LfwScoring& scoring, const PairFold& fold, const EvaluateLfwOptions& options,
                  const CommandContext& context, TrainRecipe recipe, LfwFoldResult& r)
{
    const std::set<std::string> foldPeople = fold.People();
    if (!context.json || context.progress)
        context.err << "velmora: fold " << r.fold << ": training on the people of " << options.trainSamples
                    << " outside the fold\n";
    r.trained = TrainWithout(scoring.recognizer, scoring.training, foldPeople,
                             {recipe, options.refitDimensions, options.trainMirror, options.trainSingles, 0, ""},
                             scoring.scratch->path(), context.progress);
    if (context.progress)
        context.err << "\r\033[K" << std::flush;
}

// Scores the fold's pairs with the recognizer's current model. Each photo's
// template once per model; photos of one fold only meet its model.
void ScoreFoldPairs(LfwScoring& scoring, const PairFold& fold, const EvaluateLfwOptions& options,
                    LfwFoldResult& r)
{
    std::vector<std::string> foldPhotos;
    for (const FacePair& p : fold.pairs)
        for (const auto& [name, image] : {std::pair(p.nameA, p.imageA), std::pair(p.nameB, p.imageB)})
            foldPhotos.push_back(PairImagePath(options.folder, name, image));
    const long foldStart = scoring.done;
    scoring.templates.Prepare(foldPhotos,
                              [&](size_t i) { scoring.progress.Update(foldStart + static_cast<long>(i) + 1); });
    std::map<std::string, std::optional<TemplateBuffer>> cache;
    auto templateOf = [&](const std::string& name, int image) -> const std::optional<TemplateBuffer>& {
        const std::string path = PairImagePath(options.folder, name, image);
        auto found = cache.find(path);
        if (found == cache.end())
            found = cache.emplace(path, scoring.templates.Make(path)).first;
        scoring.progress.Update(++scoring.done);
        return found->second;
    };
    for (const FacePair& p : fold.pairs) {
        const std::optional<TemplateBuffer>& a = templateOf(p.nameA, p.imageA);
        const std::optional<TemplateBuffer>& b = templateOf(p.nameB, p.imageB);
        const auto scoreIn = [&](CompareMode mode) {
            // A photo without a face: the lowest score, so never "same".
            return a && b ? velmora::engine::CompareTemplates(a->data(), a->size(), b->data(), b->size(),
                                                              static_cast<int>(mode))
                          : 0.0;
        };
        if (!a || !b)
            ++r.pairsWithoutTemplate;
        const ScoredPair scored{scoreIn(options.mode), p.same};
        r.scores.push_back(scored);
        if (options.calibrate)
            for (const CompareMode mode : {CompareMode::Max, CompareMode::Mean, CompareMode::Line})
                r.modeScores[mode].push_back(mode == options.mode ? scored : ScoredPair{scoreIn(mode), p.same});
    }
}

// Fold k's threshold is the most accurate one on the other folds' pairs, each
// scored by a model that never saw that fold's people.
LfwSummary SummariseLfw(std::vector<LfwFoldResult>& results)
{
    LfwSummary summary;
    for (const LfwFoldResult& r : results)
        summary.pooled.insert(summary.pooled.end(), r.scores.begin(), r.scores.end());
    summary.ownThreshold = results.size() == 1;
    std::vector<double> accuracies, eers, tar2s, tar3s;
    for (LfwFoldResult& r : results) {
        r.eer = EqualErrorRate(r.scores);
        r.tar2 = TarAtFar(r.scores, 1e-2);
        r.tar3 = TarAtFar(r.scores, 1e-3);
        if (summary.ownThreshold) {
            r.threshold = r.eer.threshold;
        } else {
            std::vector<ScoredPair> others;
            for (const LfwFoldResult& o : results)
                if (o.fold != r.fold)
                    others.insert(others.end(), o.scores.begin(), o.scores.end());
            r.threshold = BestAccuracyThreshold(others);
        }
        r.accuracy = AccuracyAt(r.scores, r.threshold);
        accuracies.push_back(r.accuracy);
        eers.push_back(r.eer.rate);
        tar2s.push_back(r.tar2);
        tar3s.push_back(r.tar3);
    }
    summary.accuracy = MeanWithStandardError(accuracies);
    summary.eer = MeanWithStandardError(eers);
    summary.tar2 = MeanWithStandardError(tar2s);
    summary.tar3 = MeanWithStandardError(tar3s);
    summary.pooledEer = EqualErrorRate(summary.pooled);
    return summary;
}

void WriteLfwCsv(const LfwRun& run, const std::string& path)
{
    std::ofstream csv = OpenOutput(path, "CSV file");
    csv << "fold,pair,same,score,name_a,image_a,name_b,image_b\n";
    for (const LfwFoldResult& r : run.results)
        for (size_t i = 0; i < r.scores.size(); ++i) {
            const FacePair& p = run.folds[static_cast<size_t>(r.fold - 1)].pairs[i];
            csv << r.fold << ',' << (i + 1) << ',' << (p.same ? 1 : 0) << ',' << Fixed(r.scores[i].score, 9) << ','
                << CsvField(p.nameA) << ',' << p.imageA << ',' << CsvField(p.nameB) << ',' << p.imageB << '\n';
        }
    if (!csv)
        throw CliError(kExitInput, "cannot write the CSV file " + path);
}

void WriteLfwRoc(const LfwRun& run, const EvaluateLfwOptions& options)
{
    std::vector<RocSeries> series;
    for (const LfwFoldResult& r : run.results)
        series.push_back({"fold " + std::to_string(r.fold), RocCurve(r.scores), r.eer.rate});
    if (run.results.size() > 1)
        series.push_back({"all folds", RocCurve(run.summary.pooled), run.summary.pooledEer.rate});
    const std::string source = run.perFoldTraining ? std::string("per-fold ") + RecipeName(run.recipe)
                                                   : std::filesystem::path(run.modelPath).filename().string();
    WriteRocSvg(options.roc, "LFW verification: " + source, series);
}

void WriteLfwCalibration(const LfwRun& run, const EvaluateLfwOptions& options)
{
    std::map<CompareMode, std::vector<ScoredPair>> pooled;
    for (const LfwFoldResult& r : run.results)
        for (const auto& [mode, scores] : r.modeScores)
            pooled[mode].insert(pooled[mode].end(), scores.begin(), scores.end());
    Json byMode = Json::object();
    for (const auto& [mode, scores] : pooled)
        byMode[CompareModeName(mode)] = EqualErrorRate(scores).threshold;
    std::ofstream out = OpenOutput(CalibrationPathFor(run.modelPath), "calibration file");
    PrintJson(out, {{"threshold", run.summary.pooledEer.threshold},
                    {"thresholds", byMode},
                    {"equal_error_rate", run.summary.pooledEer.rate},
                    {"pairs", run.summary.pooled.size()},
                    {"pairs_file", std::filesystem::path(options.pairs).filename().string()},
                    {"folds", options.folds.empty() ? "all" : options.folds},
                    {"mode", CompareModeName(options.mode)}});
    if (!out)
        throw CliError(kExitInput, "cannot write the calibration file " + CalibrationPathFor(run.modelPath));
}

Json LfwFoldJson(const LfwRun& run, const LfwFoldResult& r)
{
    Json fold = {{"fold", r.fold},
                 {"pairs", r.scores.size()},
                 {"accuracy", r.accuracy},
                 {"threshold", r.threshold},
                 {"eer", r.eer.rate},
                 {"eer_threshold", r.eer.threshold},
                 {"tar_at_far_1e-2", r.tar2},
                 {"tar_at_far_1e-3", r.tar3},
                 {"pairs_without_template", r.pairsWithoutTemplate}};
    if (run.perFoldTraining) {
        fold["train_people"] = r.trained.people;
        fold["train_faces"] = r.trained.samples;
        fold["train_seconds"] = r.trained.seconds;
    }
    if (run.recipe == TrainRecipe::Refit)
        fold["refit_dimensions"] = r.trained.refitDimensions;
    return fold;
}

void ReportLfwJson(const LfwRun& run, const EvaluateLfwOptions& options, std::ostream& out)
{
    const LfwSummary& summary = run.summary;
    Json doc = {{"protocol", "lfw"}};
    if (run.perFoldTraining) {
        doc["train_samples"] = options.trainSamples;
        doc["recipe"] = RecipeName(run.recipe);
    } else {
        doc["model"] = run.modelPath;
    }
    doc["mode"] = CompareModeName(options.mode);
    doc["threshold_from"] = summary.ownThreshold ? "the fold's own equal-error threshold (one fold only)"
                                                 : "best accuracy on the other folds";
    doc["folds"] = Json::array();
    for (const LfwFoldResult& r : run.results)
        doc["folds"].push_back(LfwFoldJson(run, r));
    doc["summary"] = {{"accuracy", MeanAndErrorJson(summary.accuracy)},
                      {"eer", MeanAndErrorJson(summary.eer)},
                      {"tar_at_far_1e-2", MeanAndErrorJson(summary.tar2)},
                      {"tar_at_far_1e-3", MeanAndErrorJson(summary.tar3)},
                      {"pooled_eer", summary.pooledEer.rate},
                      {"pooled_eer_threshold", summary.pooledEer.threshold},
                      {"photos_without_face", run.withoutFace},
                      {"seconds_per_photo", run.secondsPerPhoto}};
    if (!options.csv.empty())
        doc["csv"] = options.csv;
    if (!options.roc.empty())
        doc["roc"] = options.roc;
    if (options.calibrate)
        doc["calibration"] = CalibrationPathFor(run.modelPath);
    doc["seconds"] = run.seconds;
    PrintJson(out, doc);
}

void ReportLfwText(const LfwRun& run, const EvaluateLfwOptions& options, std::ostream& out)
{
    const LfwSummary& summary = run.summary;
    const std::string method = run.perFoldTraining
                                   ? std::string("a model per fold, recipe ") + RecipeName(run.recipe) +
                                         ", trained on " + options.trainSamples + " without the fold's people"
                                   : "model " + run.modelPath;
    out << "LFW verification on " << options.pairs << ", " << method << ", mode " << CompareModeName(options.mode)
        << '\n'
        << "threshold of each fold: "
        << (summary.ownThreshold ? "its own equal-error threshold (only one fold selected)"
                                 : "the most accurate one on the other folds' pairs")
        << "\n\n";
    out << "fold  pairs  accuracy  threshold  EER      EER thr.  TAR@FAR1e-2  TAR@FAR1e-3";
    if (run.perFoldTraining)
        out << "  trained on";
    out << '\n';
    for (const LfwFoldResult& r : run.results) {
        char line[160];
        std::snprintf(line, sizeof line, "%-4d  %5zu  %-8s  %-9s  %-7s  %-8s  %-11s  %-11s", r.fold, r.scores.size(),
                      Percent(r.accuracy).c_str(), Fixed(r.threshold, 4).c_str(), Percent(r.eer.rate).c_str(),
                      Fixed(r.eer.threshold, 4).c_str(), Percent(r.tar2).c_str(), Percent(r.tar3).c_str());
        out << line;
        if (run.perFoldTraining)
            out << "  " << r.trained.people << " people, " << r.trained.samples << " faces, "
                << Fixed(r.trained.seconds, 0) << " s";
        out << '\n';
    }
    out << "\nmean over " << run.results.size() << (run.results.size() == 1 ? " fold" : " folds")
        << " (+- standard error): accuracy " << Percent(summary.accuracy.mean) << " +- "
        << Percent(summary.accuracy.standardError) << ", EER " << Percent(summary.eer.mean) << " +- "
        << Percent(summary.eer.standardError) << ", TAR at FAR 1e-2 " << Percent(summary.tar2.mean) << ", at 1e-3 "
        << Percent(summary.tar3.mean) << '\n'
        << "all pairs together: EER " << Percent(summary.pooledEer.rate) << " at threshold "
        << Fixed(summary.pooledEer.threshold, 4) << '\n'
        << "photos without a face found: " << run.withoutFace
        << (options.fallbackEyes ? " (fallback eyes used)" : " (their pairs score 0)")
        << "; time per photo (face finding and template): " << Fixed(1000.0 * run.secondsPerPhoto, 1) << " ms; "
        << Fixed(run.seconds, 1) << " s in all\n";
    if (!options.csv.empty())
        out << "wrote " << options.csv << '\n';
    if (!options.roc.empty())
        out << "wrote " << options.roc << '\n';
    if (options.calibrate)
        out << "wrote " << CalibrationPathFor(run.modelPath) << " (threshold "
            << Fixed(summary.pooledEer.threshold, 6) << ")\n";
}

} // namespace

int RunEvaluateLfw(const EvaluateLfwOptions& options, const CommandContext& context)
{
    const Clock::time_point start = Clock::now();
    LfwRun run;
    run.perFoldTraining = !options.trainSamples.empty();
    run.recipe = CheckLfwOptions(options, run.perFoldTraining);
    run.folds = ReadPairsFile(options.pairs);
    const std::vector<int> selected = SelectLfwFolds(run.folds, options);
    const long photoCount = CheckLfwPhotos(run.folds, selected, options);

    Recognizer recognizer(context.err);
    recognizer.SetManyViews(context.manyViews);
    TrainingSet training;
    std::optional<ScratchFolder> scratch;
    if (run.perFoldTraining) {
        training = LoadTrainingSet(options.trainSamples, run.recipe == TrainRecipe::Refit);
        recognizer.PrepareWithoutModel();
        scratch.emplace("velmora-evaluate");
    } else {
        run.modelPath = ResolveModelPath(options.model);
        recognizer.LoadModel(run.modelPath);
    }
    FaceTemplates templates(recognizer, options.eyes, options.fallbackEyes, context.jobs);
    ProgressBar progress(context.err, context.progress && !run.perFoldTraining, photoCount, "lfw");
    LfwScoring scoring{recognizer, training, scratch, templates, progress};
    for (int k : selected) {
        LfwFoldResult r;
        r.fold = k + 1;
        if (run.perFoldTraining)
            TrainForFold(scoring, run.folds[k], options, context, run.recipe, r);
        ScoreFoldPairs(scoring, run.folds[k], options, r);
        run.results.push_back(std::move(r));
    }
    progress.Finish();

    run.summary = SummariseLfw(run.results);
    run.withoutFace = templates.withoutFace();
    if (!options.csv.empty())
        WriteLfwCsv(run, options.csv);
    if (!options.roc.empty())
        WriteLfwRoc(run, options);
    if (options.calibrate)
        WriteLfwCalibration(run, options);

    run.seconds = SecondsSince(start);
    run.secondsPerPhoto = templates.SecondsPerPhoto();
    if (context.json)
        ReportLfwJson(run, options, context.out);
    else
        ReportLfwText(run, options, context.out);
    return kExitOk;
}

RegisteredCommand AddEvaluateOrl(CLI::App& evaluate, CommandContext& context)
{
    struct Args {
        EvaluateOrlOptions orl;
        std::string eyes, fallback, mode = "line";
    };
    auto args = std::make_shared<Args>();
    EvaluateOrlOptions& orl = args->orl;
    CLI::App* command = AddCommand(
        evaluate, "orl",
        "Rank-1 identification: enrol some photos of every person (in memory), identify the others", context);
    command->add_option("DIR", orl.folder, "Folder of person folders with numbered photos (ORL: s1..s40, 1.pgm..10.pgm)")
        ->required();
    command->add_option("--enroll", orl.enrolNumbers, "Photo numbers to enrol (default 1-5)");
    command->add_option("--probe", orl.probeNumbers, "Photo numbers to identify (default 6-10)");
    command->add_option("--mode", args->mode,
                        "Matching of a probe with a person's vectors: line (the default), max or mean")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    command->add_option("--csv", orl.csv, "Write every probe's answer and score to this CSV file");
    command->add_flag("--adapt", orl.adapt,
                      "First add the enrolled people to the model's discriminant stage (IncreaseTrain on the "
                      "statistics of the model's own training): each enrolment face, its mirror image and the "
                      "face moved by a pixel four ways");
    command->add_option("--stats", orl.stats,
                        "With --adapt: the statistics of the model's training (default: MODEL.stats, written by "
                        "'velmora train --stats')");
    AddEyesOption(command, args->eyes);
    command->add_option("--fallback-eyes", args->fallback,
                        "Eye centres for photos whose face is not found (else an enrolment photo is left out "
                        "and a probe counts as wrong)");
    AddModelOption(command, orl.model);
    AddSingleVectorOption(command, context);
    AddJobsOption(command, context);
    command->footer(std::string("Example:\n  velmora evaluate orl data/orl --csv orl.csv\n"
                                "A probe whose face is not found counts as wrong.\n\n") +
                    ExitCodeFooter());
    return {command, [args, &context] {
                args->orl.eyes = OptionalEyes(args->eyes);
                args->orl.fallbackEyes = OptionalEyes(args->fallback);
                args->orl.mode = ParseCompareMode(args->mode);
                return RunEvaluateOrl(args->orl, context);
            }};
}

RegisteredCommand AddEvaluateLfw(CLI::App& evaluate, CommandContext& context)
{
    struct Args {
        EvaluateLfwOptions lfw;
        std::string eyes, fallback, mode = "mean";
    };
    auto args = std::make_shared<Args>();
    EvaluateLfwOptions& lfw = args->lfw;
    CLI::App* command = AddCommand(
        evaluate, "lfw",
        "Verification on pairs: accuracy per fold (threshold from the other folds), EER, TAR at FAR 1e-2 and 1e-3",
        context);
    command->add_option("DIR", lfw.folder, "Photo folder: Name/Name_0001.jpg ..., or any folder per person whose file names end in the photo number (s7/3.pgm)")->required();
    command->add_option("PAIRS", lfw.pairs, "Pairs list (pairs_dev.txt format: folds of same then different pairs)")
        ->required();
    AddModelOption(command, lfw.model);
    AddSingleVectorOption(command, context);
    AddJobsOption(command, context);
    command->add_option("--train-samples", lfw.trainSamples,
                        "Instead of one model: for each fold, train on every person of this sample file (from "
                        "'velmora samples', with its .names file) who is not in the fold");
    command->add_option("--recipe", lfw.recipe,
                        "With --train-samples: refit (default: Train, then IncreaseTrain on the same faces without "
                        "earlier statistics; needs the .faces file) or train (Train alone)")
        ->check(CLI::IsMember({"train", "refit"}));
    command->add_option("--refit-dims", lfw.refitDimensions,
                        "With --recipe refit: principal components the discriminant stage is refit on (default 0: "
                        "all the model has)")
        ->check(CLI::Range(0, 100000));
    command->add_flag("--train-mirror", lfw.trainMirror, "With --recipe refit: as 'velmora train --mirror'");
    command->add_flag("--train-singles", lfw.trainSingles, "With --recipe refit: as 'velmora train --singles'");
    command->add_option("--folds", lfw.folds,
                        "Folds to evaluate, e.g. 1-5 or 5 (default all). With one fold its own equal-error "
                        "threshold is used and reported, which is how a model is calibrated");
    command->add_option("--mode", args->mode,
                        "Comparison mode: mean (the default), max or line (with --single-vector: all alike)")
        ->check(CLI::IsMember({"max", "mean", "line"}, CLI::ignore_case));
    command->add_option("--csv", lfw.csv, "Write every pair's score to this CSV file (fold, pair, same, score, ...)");
    command->add_option("--roc", lfw.roc, "Draw the ROC curves into this SVG file");
    command->add_flag("--calibrate", lfw.calibrate,
                      "Write the equal-error threshold of the evaluated pairs beside the model (MODEL.json), where "
                      "compare and identify find it");
    command->add_option("--eyes", args->eyes,
                        "Eye centres LX,LY,RX,RY for every photo instead of finding the face (aligned sets)");
    command->add_option("--fallback-eyes", args->fallback,
                        "Eye centres for photos whose face is not found (else their pairs score 0)");
    command->footer(std::string("Examples:\n"
                                "  velmora evaluate lfw data/lfw data/lfw/pairs_dev.txt --model m.model --csv s.csv "
                                "--roc roc.svg\n"
                                "  velmora evaluate lfw data/lfw data/lfw/pairs_dev.txt --train-samples lfw.samples "
                                "--recipe refit\n"
                                "  velmora evaluate lfw data/lfw data/lfw/pairs_dev.txt --model m.model --folds 5 "
                                "--calibrate\n"
                                "With one fixed model the thresholds of several folds are only fair when the model "
                                "was not trained on their people.\n"
                                "FAR 1e-3 on 300 different-person pairs means no false accept at all.\n\n") +
                    ExitCodeFooter());
    return {command, [args, &context] {
                args->lfw.eyes = OptionalEyes(args->eyes);
                args->lfw.fallbackEyes = OptionalEyes(args->fallback);
                args->lfw.mode = ParseCompareMode(args->mode);
                return RunEvaluateLfw(args->lfw, context);
            }};
}

} // namespace velmora_cli
