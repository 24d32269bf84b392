// The face gallery: its SQLite store, identification, photo selection, and the
// enroll / identify / gallery commands.
#include <sys/wait.h>
#include <unistd.h>

#include "support/Common.h"
#include <cstdio>

#include <sqlite3.h>

#include "ExitCodes.h"
#include "Gallery.h"
#include "Identification.h"
#include "ModelIdentity.h"
#include "PhotoSelection.h"
#include "support/CliTestSupport.h"

namespace fs = std::filesystem;
using namespace velmora_cli;
using namespace velmora_test;
using Access = Gallery::Access;

namespace {

const ModelIdentity kModel{"m.model", 1234, "fnv1a64:0000000000000001"};

// The first result's answer: a name, or null for "unknown".
Json Answer(const Json& identified)
{
    return identified.at("results").at(0).at("answer");
}

void RunSql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

} // namespace

TEST(GalleryStore, EnrolListRemoveRoundTrip)
{
    ScratchDir dir;
    const TemplateBuffer bob = TemplateOf({{0, 1, 0}});
    {
        Gallery g(dir / "g.db", Access::Create);
        EXPECT_FALSE(g.Model().has_value());
        const auto first = g.Enrol({{"Zoe Bob", bob}, {"Ann", TemplateOf({{1, 0, 0}, {0.9, 0.1, 0}})}}, kModel);
        EXPECT_TRUE(first.at(0).isNew);
        EXPECT_EQ(first.at(1).vectors, 2);
        // A known name gets more vectors, appended after the old ones.
        const auto second = g.Enrol({{"Ann", TemplateOf({{0.8, 0, 0.2}})}}, kModel);
        EXPECT_FALSE(second[0].isNew);
        EXPECT_EQ(second[0].added, 1);
        EXPECT_EQ(second[0].vectors, 3);
    }
    const auto people = Gallery(dir / "g.db", Access::Read).People(true);
    ASSERT_EQ(people.size(), 2u);
    EXPECT_EQ(people[0].name, "Ann"); // sorted by name
    EXPECT_EQ(people[0].templ, TemplateOf({{1, 0, 0}, {0.9, 0.1, 0}, {0.8, 0, 0.2}}));
    EXPECT_EQ(people[1].templ, bob);
    EXPECT_EQ(people[1].updated.size(), 19u); // "YYYY-MM-DD HH:MM:SS"
    Gallery g(dir / "g.db", Access::Write);
    // All or nothing: one unknown name keeps everybody.
    EXPECT_TRUE(Fails([&] { g.Remove({"Ann", "Nobody"}); }, kExitNotEnrolled));
    EXPECT_EQ(g.People(false).size(), 2u);
    EXPECT_TRUE(g.People(false)[0].templ.empty());
    // Vectors of another length do not join a gallery.
    EXPECT_TRUE(Fails([&] { g.Enrol({{"Cy", TemplateOf({{1, 2}})}}, kModel); }, kExitInput));
    EXPECT_TRUE(Fails([&] { g.Enrol({{"", bob}}, kModel); }, kExitUsage));
}

TEST(GalleryStore, AnotherModelIsRefusedUntilTheGalleryIsEmpty)
{
    ScratchDir dir;
    const ModelIdentity a{"m.model", 1234, "fnv1a64:00000000000000aa"}, b{"other.model", 1234, "fnv1a64:00000000000000bb"};
    Gallery g(dir / "g.db", Access::Create);
    g.Enrol({{"Ann", TemplateOf({{1, 0}})}}, a);
    const auto enrolBob = [&] { g.Enrol({{"Bob", TemplateOf({{0, 1}})}}, b); };
    EXPECT_TRUE(Fails(enrolBob, kExitGallery, "m.model"));
    EXPECT_TRUE(Fails(enrolBob, kExitGallery, "other.model"));
    EXPECT_EQ(g.People(false).size(), 1u); // the refused enrolment left nothing behind
    // Same size and hash under another file name is the same model.
    EXPECT_NO_THROW(g.RequireModel({"copy.model", a.size, a.hash}));
    g.Remove({"Ann"});
    EXPECT_NO_THROW(g.Enrol({{"Bob", TemplateOf({{0, 1, 0}})}}, b));
    EXPECT_TRUE(g.Model()->SameModel(b));
}

TEST(GalleryStore, DamagedForeignAndMissingFiles)
{
    ScratchDir dir;
    const auto open = [&](const std::string& name, Access access) {
        return [&dir, name, access] { Gallery(dir / name, access).People(true); };
    };
    EXPECT_TRUE(Fails(open("absent.db", Access::Read), kExitInput, "gallery not found"));
    EXPECT_TRUE(Fails(open("absent.db", Access::Write), kExitInput));
    EXPECT_TRUE(Fails(open("no/such/folder/g.db", Access::Create), kExitInput));
    EXPECT_TRUE(Fails([&] { Gallery(dir.path().string(), Access::Create); }, kExitInput));

    WriteFile(dir / "text.db", std::string(3000, 'x'));
    EXPECT_TRUE(Fails(open("text.db", Access::Create), kExitGallery, "damaged or not a SQLite database"));
    EXPECT_EQ(ReadFile(dir / "text.db"), std::string(3000, 'x')); // untouched
    RunSql(dir / "foreign.db", "CREATE TABLE songs(title TEXT)");
    EXPECT_TRUE(Fails(open("foreign.db", Access::Create), kExitGallery, "another program"));
    WriteFile(dir / "empty.db", "");
    EXPECT_TRUE(Fails(open("empty.db", Access::Read), kExitGallery, "not a velmora gallery"));
    EXPECT_NO_THROW(open("empty.db", Access::Create)()); // becomes one

    // A real gallery whose later pages are cut off or overwritten.
    {
        Gallery g(dir / "g.db", Access::Create);
        std::vector<std::pair<std::string, TemplateBuffer>> many;
        for (int i = 0; i < 60; ++i)
            many.emplace_back("person" + std::to_string(i), TemplateOf({std::vector<double>(200, i + 1.0)}));
        g.Enrol(many, kModel);
    }
    const std::string good = ReadFile(dir / "g.db");
    ASSERT_GT(good.size(), 40000u);
    WriteFile(dir / "cut.db", good.substr(0, good.size() / 2));
    EXPECT_TRUE(Fails(open("cut.db", Access::Read), kExitGallery, "damaged"));

    // Well-formed SQLite, but a template that does not match its header.
    RunSql(dir / "g.db", "UPDATE people SET template = x'0100000002000000' WHERE name = 'person3'");
    EXPECT_TRUE(Fails(open("g.db", Access::Read), kExitGallery, "person3"));
    RunSql(dir / "g.db", "PRAGMA user_version = 9");
    EXPECT_TRUE(Fails(open("g.db", Access::Read), kExitGallery, "newer"));
}

// Several processes create one gallery and write to it at the same time; every
// enrolment must arrive, and the shared person must hold every vector. A gallery
// held by another connection for longer than the busy timeout is given up on.
TEST(GalleryStore, ConcurrentWritersLoseNothingAndABusyGalleryIsGivenUp)
{
    ScratchDir dir;
    const std::string path = dir / "shared.db";
    constexpr int kWriters = 4, kRounds = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                for (int r = 0; r < kRounds; ++r) {
                    Gallery g(path, Access::Create);
                    g.Enrol({{"writer" + std::to_string(w) + "_" + std::to_string(r), TemplateOf({{1.0 * w, 1.0 * r}})},
                             {"shared", TemplateOf({{1.0 + w, 1.0 + r}})}},
                            kModel);
                    g.People(true); // readers interleave with the writers
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "writer %d: %s\n", w, e.what());
                _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto people = Gallery(path, Access::Read).People(true);
    ASSERT_EQ(people.size(), static_cast<size_t>(kWriters * kRounds + 1));
    EXPECT_EQ(people[0].name, "shared");
    EXPECT_EQ(people[0].vectors, kWriters * kRounds);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_TRUE(Fails([&] { Gallery(path, Access::Write, 200).Remove({"x"}); }, kExitGallery, "busy"));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

TEST(GalleryModelIdentity, HashIsFnv1aOfTheWholeFile)
{
    // Larger than any read chunk, its bytes varying from chunk to chunk; the value is from a
    // separate FNV-1a 64 in Python. (A small file's hash is checked in the enroll report.)
    ScratchDir dir;
    std::string big(200001, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 % 251);
    WriteFile(dir / "big.model", big);
    EXPECT_EQ(IdentifyModel(dir / "big.model").hash, "fnv1a64:34a6b11427350d31");
    EXPECT_TRUE(Fails([&] { IdentifyModel(dir / "absent.model"); }, kExitModel));
}

TEST(GalleryPhotoSelection, NumberListsAndPhotoNumbers)
{
    const NumberList list = NumberList::Parse("1-3,7,9-10");
    for (long n = -1; n <= 11; ++n)
        EXPECT_EQ(list.Contains(n), n == 1 || n == 2 || n == 3 || n == 7 || n == 9 || n == 10) << n;
    for (const char* bad : {"", "1-", "-3", "5-2", "1,,2", "1;2", "a", "1-3,", "1 2", "9999999999"})
        EXPECT_THROW(NumberList::Parse(bad), CliError) << bad;

    EXPECT_EQ(PhotoNumber("/x/s1/10.pgm"), 10);
    EXPECT_EQ(PhotoNumber("Ann_Lee_0003.jpg"), 3);
    EXPECT_EQ(PhotoNumber("Ann_Lee_0000.jpg"), 0);
    EXPECT_EQ(PhotoNumber("dir7/face.png"), std::nullopt);
    EXPECT_EQ(PhotoNumber("x_00000000000012.png"), 12); // leading zeros do not count
    EXPECT_EQ(PhotoNumber("x_123456789012.png"), std::nullopt);
}

TEST(GalleryPhotoSelection, PhotosComeInNumberOrder)
{
    ScratchDir dir;
    for (const char* folder : {"s2", "s1", "only_late"})
        fs::create_directories(dir.path() / folder);
    for (const char* name : {"s1/1.pgm", "s1/2.pgm", "s1/9.pgm", "s1/10.pgm", "s1/cover.jpg", "s2/3.pgm",
                             "only_late/8.pgm"})
        WriteFile(dir / name, "x");
    // Each person as "name: file file ...".
    const auto listed = [&](const NumberList* numbers) {
        std::vector<std::string> people;
        for (const Person& person : SelectPhotos(dir.path().string(), numbers)) {
            people.push_back(person.name + ":");
            for (const std::string& image : person.images)
                people.back() += " " + fs::path(image).filename().string();
        }
        return people;
    };
    const NumberList early = NumberList::Parse("1-3,10");
    // only_late has no photo numbered 1-3 or 10. Photos without a number come
    // first, then by number (9 before 10).
    EXPECT_EQ(listed(&early), (std::vector<std::string>{"s1: 1.pgm 2.pgm 10.pgm", "s2: 3.pgm"}));
    EXPECT_EQ(listed(nullptr), (std::vector<std::string>{"only_late: 8.pgm", "s1: cover.jpg 1.pgm 2.pgm 9.pgm 10.pgm",
                                                         "s2: 3.pgm"}));
}

TEST(GalleryIdentification, RanksByScoreAndAnswersUnknownBelowTheThreshold)
{
    // b's best vector is at 45 degrees to the probe and ties with a.
    const std::vector<GalleryPerson> people = {
        {"c", TemplateOf({{0, 1}}), 1, ""}, {"b", TemplateOf({{1, 1}, {-1, 0}}), 2, ""}, {"a", TemplateOf({{1, 1}}), 1, ""}};
    const double at45 = (std::sqrt(0.5) + 1.0) * 0.5;
    const auto ranked = RankPeople(TemplateOf({{1, 0}}), people, CompareMode::Max);
    const std::vector<Candidate> expected = {{"a", at45}, {"b", at45}, {"c", 0.5}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ranked.at(i).name, expected[i].name);
        EXPECT_NEAR(ranked.at(i).score, expected[i].score, 1e-15);
    }
    // Mean mode: b's mean vector (0, 0.5) is orthogonal to the probe.
    const auto mean = RankPeople(TemplateOf({{1, 0}}), people, CompareMode::Mean);
    EXPECT_EQ(mean[0].name, "a");
    EXPECT_NEAR(mean[1].score, 0.5, 1e-15);

    EXPECT_EQ(Decide(ranked, std::nullopt), "a");
    EXPECT_EQ(Decide(ranked, at45), "a");        // the threshold itself is reached
    EXPECT_EQ(Decide(ranked, 0.9), std::nullopt); // below it: unknown
    EXPECT_EQ(Decide({}, std::nullopt), std::nullopt);
    EXPECT_THROW(RankPeople(TemplateOf({{1, 0, 0}}), people, CompareMode::Max), CliError);
}

TEST(GalleryCommands, EnrollIdentifyListRemoveWithTemplateFilesAndTheirErrors)
{
    ScratchDir dir;
    WriteFile(dir / "a.model", "model A"); // templates are given as files: the model is only identified
    WriteFile(dir / "b.model", "model B");
    const std::string g = dir / "g.db";
    const auto tpl = [&](const std::string& name, const std::vector<std::vector<double>>& vectors) {
        WriteTemplateFile(dir / name, TemplateOf(vectors));
        return dir / name;
    };
    const auto with = [&](const char* command, const char* model, std::vector<std::string> rest) {
        rest.insert(rest.begin(), {command, "--gallery", g, "--model", dir / model});
        return rest;
    };
    Json doc = ToolJson(with("enroll", "a.model", {"Ann", tpl("ann1.tpl", {{1, 0, 0}}), tpl("ann2.tpl", {{1, 0.2, 0}})}));
    EXPECT_EQ(doc.at("people").at(0).at("vectors"), 2);
    // The model's identity: its size and the FNV-1a 64 hash of "model A" (by Python).
    EXPECT_EQ(doc.at("model"), (Json{{"name", "a.model"}, {"size", 7}, {"hash", "fnv1a64:6cc27ccdcd4b709d"}}));
    EXPECT_TRUE(Has(Tool(with("enrol", "a.model", {"Bob", tpl("bob.tpl", {{0, 1, 0}})})).out, "enrolled Bob: 1 vector"));

    // A probe near Ann; Bob second with cosine 0.
    doc = ToolJson(with("identify", "a.model", {tpl("p.tpl", {{1, 0.1, 0}}), "--top", "2", "--threshold", "0.9"}));
    EXPECT_EQ(Answer(doc), "Ann");
    const Json& candidates = doc.at("results").at(0).at("candidates");
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_NEAR(candidates[1].at("score").get<double>(), 0.5 + 0.5 * 0.1 / std::sqrt(1.01), 1e-12);
    // Someone unlike everybody: unknown below the threshold, in text too.
    EXPECT_TRUE(Has(Tool(with("identify", "a.model", {tpl("q.tpl", {{0, 0, 1}}), "--threshold", "0.6"})).out,
                    "unknown (best Ann 0.5000 is below 0.6000)"));
    // The calibration beside the model is the default threshold, its mode's when it has one:
    // the probe lies on the line through Ann's vectors (line score 1) and scores 0.9988 in mode max.
    WriteFile(dir / "a.model.json", "{\"threshold\": 0.5, \"thresholds\": {\"max\": 0.999}}");
    EXPECT_TRUE(Answer(ToolJson(with("identify", "a.model", {dir / "p.tpl", "--mode", "max"}))).is_null());
    EXPECT_EQ(Answer(ToolJson(with("identify", "a.model", {dir / "p.tpl"}))), "Ann");

    // Another model is refused.
    EXPECT_TRUE(Has(Tool(with("identify", "b.model", {dir / "p.tpl"}), kExitGallery).err,
                    "was built with the model a.model"));

    doc = ToolJson({"gallery", "list", "--gallery", g});
    const Json& people = doc.at("people");
    ASSERT_EQ(people.size(), 2u);
    EXPECT_EQ(people[0].at("name"), "Ann");
    EXPECT_EQ(people[0].at("vectors"), 2);

    EXPECT_TRUE(Has(Tool({"gallery", "remove", "--gallery", g, "Nobody"}, kExitNotEnrolled).err,
                    "Nobody is not in the gallery"));
    Tool({"gallery", "remove", "--gallery", g, "Ann"});
    const std::string listed = Tool({"gallery", "list", "--gallery", g}).out;
    EXPECT_TRUE(Has(listed, "1 person"));
    EXPECT_FALSE(Has(listed, "Ann"));

    // Argument and file errors, against a gallery yet to be made.
    const std::string fresh = dir / "new.db", model = dir / "a.model", probe = dir / "p.tpl";
    const std::vector<std::vector<std::string>> usageErrors = {
        {"enroll", "Ann", probe}, // no --gallery
        {"enroll", "--gallery", fresh, "--model", model, "Ann"},
        {"enroll", "--gallery", fresh, "--model", model, "--folders", dir.path().string(), "Ann", probe},
        {"enroll", "--gallery", fresh, "--model", model, "--folders", dir.path().string(), "--images", "3-1"},
        {"identify", "--gallery", fresh, "--model", model, probe, "--top", "0"},
        {"gallery"}, {"gallery", "remove", "--gallery", fresh}};
    for (const auto& args : usageErrors)
        Tool(args, kExitUsage);
    // Nothing was made by the failed commands; identify does not make galleries.
    EXPECT_TRUE(Has(Tool({"identify", "--gallery", fresh, "--model", model, probe}, kExitInput).err, "gallery not found"));
    EXPECT_FALSE(fs::exists(fresh));
    Tool({"enroll", "--gallery", fresh, "--model", model, "Ann", dir / "absent.png"}, kExitInput);
    Tool({"enroll", "--gallery", fresh, "--model", dir / "absent.model", "Ann", probe}, kExitModel);
}
