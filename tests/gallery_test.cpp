// The face gallery: its SQLite store, identification, photo selection, and the
// enroll / identify / gallery commands.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "ExitCodes.h"
#include "Gallery.h"
#include "Identification.h"
#include "Json.h"
#include "ModelIdentity.h"
#include "PhotoSelection.h"
#include "support/CliTestSupport.h"
#include "support/SyntheticPeople.h"

namespace fs = std::filesystem;
using namespace velmora_cli;
using velmora_test::ReadFileBytes;
using velmora_test::RunVelmora;
using velmora_test::TemplateOf;
using velmora_test::ToolRun;
using velmora_test::ToolTempDir;
using velmora_test::WriteFileBytes;

namespace {

ModelIdentity FakeModel(const std::string& hash)
{
    ModelIdentity m;
    m.name = "m.model";
    m.size = 1234;
    m.hash = hash;
    return m;
}

ExitCode CodeOf(const std::function<void()>& action, std::string* message = nullptr)
{
    try {
        action();
    } catch (const CliError& e) {
        if (message != nullptr)
            *message = e.what();
        return e.code();
    }
    return kExitOk;
}

void RunSql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

} // namespace

// ---------------------------------------------------------------- store

TEST(GalleryStore, EnrolListRemoveRoundTrip)
{
    ToolTempDir dir;
    const ModelIdentity model = FakeModel("fnv1a64:0000000000000001");
    const TemplateBuffer ann1 = TemplateOf({{1, 0, 0}, {0.9, 0.1, 0}});
    const TemplateBuffer bob = TemplateOf({{0, 1, 0}});
    const TemplateBuffer ann2 = TemplateOf({{0.8, 0, 0.2}});
    {
        Gallery g(dir / "g.db", Gallery::Access::Create);
        EXPECT_FALSE(g.Model().has_value());
        const auto first = g.Enrol({{"Zoe Bob", bob}, {"Ann", ann1}}, model);
        ASSERT_EQ(first.size(), 2u);
        EXPECT_TRUE(first[0].isNew);
        EXPECT_EQ(first[1].vectors, 2);
        // A known name gets more vectors, appended after the old ones.
        const auto second = g.Enrol({{"Ann", ann2}}, model);
        EXPECT_FALSE(second[0].isNew);
        EXPECT_EQ(second[0].added, 1);
        EXPECT_EQ(second[0].vectors, 3);
    }
    {
        const Gallery g(dir / "g.db", Gallery::Access::Read);
        ASSERT_TRUE(g.Model().has_value());
        EXPECT_TRUE(g.Model()->SameModel(model));
        EXPECT_EQ(g.Model()->name, "m.model");
        const auto people = g.People(true);
        ASSERT_EQ(people.size(), 2u);
        EXPECT_EQ(people[0].name, "Ann"); // sorted by name
        EXPECT_EQ(people[0].vectors, 3);
        EXPECT_EQ(people[0].templ, TemplateOf({{1, 0, 0}, {0.9, 0.1, 0}, {0.8, 0, 0.2}}));
        EXPECT_EQ(people[1].templ, bob);
        EXPECT_EQ(people[1].updated.size(), 19u); // "YYYY-MM-DD HH:MM:SS"
        EXPECT_TRUE(g.People(false)[0].templ.empty());
    }
    Gallery g(dir / "g.db", Gallery::Access::Write);
    // All or nothing: one unknown name keeps everybody.
    EXPECT_EQ(CodeOf([&] { g.Remove({"Ann", "Nobody"}); }), kExitNotEnrolled);
    EXPECT_EQ(g.People(false).size(), 2u);
    g.Remove({"Ann"});
    const auto left = g.People(false);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "Zoe Bob");
    // Vectors of another length do not join a gallery.
    EXPECT_EQ(CodeOf([&] { g.Enrol({{"Cy", TemplateOf({{1, 2}})}}, model); }), kExitInput);
    EXPECT_EQ(CodeOf([&] { g.Enrol({{"", bob}}, model); }), kExitUsage);
}

TEST(GalleryStore, AnotherModelIsRefusedUntilTheGalleryIsEmpty)
{
    ToolTempDir dir;
    const ModelIdentity a = FakeModel("fnv1a64:00000000000000aa");
    ModelIdentity b = FakeModel("fnv1a64:00000000000000bb");
    b.name = "other.model";
    Gallery g(dir / "g.db", Gallery::Access::Create);
    g.Enrol({{"Ann", TemplateOf({{1, 0}})}}, a);
    std::string message;
    EXPECT_EQ(CodeOf([&] { g.Enrol({{"Bob", TemplateOf({{0, 1}})}}, b); }, &message), kExitGallery);
    EXPECT_NE(message.find("m.model"), std::string::npos) << message;
    EXPECT_NE(message.find("other.model"), std::string::npos) << message;
    EXPECT_EQ(CodeOf([&] { g.RequireModel(b); }), kExitGallery);
    EXPECT_EQ(g.People(false).size(), 1u); // the refused enrolment left nothing behind
    // Same size and hash under another file name is the same model.
    ModelIdentity renamed = a;
    renamed.name = "copy.model";
    EXPECT_EQ(CodeOf([&] { g.RequireModel(renamed); }), kExitOk);
    g.Remove({"Ann"});
    EXPECT_EQ(CodeOf([&] { g.Enrol({{"Bob", TemplateOf({{0, 1, 0}})}}, b); }), kExitOk);
    EXPECT_TRUE(g.Model()->SameModel(b));
}

TEST(GalleryStore, DamagedForeignAndMissingFiles)
{
    ToolTempDir dir;
    std::string message;
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "absent.db", Gallery::Access::Read); }, &message), kExitInput);
    EXPECT_NE(message.find("gallery not found"), std::string::npos);
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "absent.db", Gallery::Access::Write); }), kExitInput);
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "no/such/folder/g.db", Gallery::Access::Create); }), kExitInput);
    EXPECT_EQ(CodeOf([&] { Gallery(dir.path().string(), Gallery::Access::Create); }), kExitInput);

    WriteFileBytes(dir / "text.db", std::string(3000, 'x'));
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "text.db", Gallery::Access::Create); }, &message), kExitGallery);
    EXPECT_NE(message.find("damaged or not a SQLite database"), std::string::npos) << message;
    EXPECT_EQ(ReadFileBytes(dir / "text.db"), std::string(3000, 'x')); // untouched

    RunSql(dir / "foreign.db", "CREATE TABLE songs(title TEXT)");
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "foreign.db", Gallery::Access::Create); }, &message), kExitGallery);
    EXPECT_NE(message.find("another program"), std::string::npos) << message;

    WriteFileBytes(dir / "empty.db", "");
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "empty.db", Gallery::Access::Read); }, &message), kExitGallery);
    EXPECT_NE(message.find("not a velmora gallery"), std::string::npos) << message;
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "empty.db", Gallery::Access::Create); }), kExitOk); // becomes one

    // A real gallery whose later pages are cut off or overwritten.
    {
        Gallery g(dir / "g.db", Gallery::Access::Create);
        std::vector<std::pair<std::string, TemplateBuffer>> many;
        for (int i = 0; i < 60; ++i)
            many.emplace_back("person" + std::to_string(i), TemplateOf({std::vector<double>(200, i + 1.0)}));
        g.Enrol(many, FakeModel("fnv1a64:0000000000000001"));
    }
    const std::string good = ReadFileBytes(dir / "g.db");
    ASSERT_GT(good.size(), 40000u);
    WriteFileBytes(dir / "cut.db", good.substr(0, good.size() / 2));
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "cut.db", Gallery::Access::Read).People(true); }, &message), kExitGallery);
    EXPECT_NE(message.find("damaged"), std::string::npos) << message;
    std::string scribbled = good;
    for (size_t i = 4096; i < scribbled.size(); i += 7)
        scribbled[i] = static_cast<char>(0xA5);
    WriteFileBytes(dir / "scribbled.db", scribbled);
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "scribbled.db", Gallery::Access::Read).People(true); }), kExitGallery);

    // Well-formed SQLite, but a template that does not match its header.
    RunSql(dir / "g.db", "UPDATE people SET template = x'0100000002000000' WHERE name = 'person3'");
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "g.db", Gallery::Access::Read).People(true); }, &message), kExitGallery);
    EXPECT_NE(message.find("person3"), std::string::npos) << message;
    RunSql(dir / "g.db", "PRAGMA user_version = 9");
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "g.db", Gallery::Access::Read); }, &message), kExitGallery);
    EXPECT_NE(message.find("newer"), std::string::npos) << message;
}

// Several processes create one gallery and write to it at the same time; every
// enrolment must arrive, and the shared person must hold every vector.
TEST(GalleryStore, ConcurrentWritersLoseNothing)
{
    ToolTempDir dir;
    const std::string path = dir / "shared.db";
    constexpr int kWriters = 4, kRounds = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                for (int r = 0; r < kRounds; ++r) {
                    Gallery g(path, Gallery::Access::Create);
                    g.Enrol({{"writer" + std::to_string(w) + "_" + std::to_string(r), TemplateOf({{1.0 * w, 1.0 * r}})},
                             {"shared", TemplateOf({{1.0 + w, 1.0 + r}})}},
                            FakeModel("fnv1a64:0000000000000001"));
                    g.People(true); // readers interleave with the writers
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "writer %d: %s\n", w, e.what());
                status = 1;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const Gallery g(path, Gallery::Access::Read);
    const auto people = g.People(true);
    ASSERT_EQ(people.size(), static_cast<size_t>(kWriters * kRounds + 1));
    const auto shared = std::find_if(people.begin(), people.end(), [](const GalleryPerson& p) { return p.name == "shared"; });
    ASSERT_NE(shared, people.end());
    EXPECT_EQ(shared->vectors, kWriters * kRounds);
    // Each writer's own vectors kept their order within the shared template.
    std::vector<int> lastRound(kWriters, 0);
    for (int v = 0; v < shared->vectors; ++v) {
        const int w = static_cast<int>(ReadDoubleLE(shared->templ.data() + 8 + 16 * v)) - 1;
        const int r = static_cast<int>(ReadDoubleLE(shared->templ.data() + 16 + 16 * v));
        ASSERT_GE(w, 0);
        ASSERT_LT(w, kWriters);
        EXPECT_EQ(r, lastRound[w] + 1);
        lastRound[w] = r;
    }
}

TEST(GalleryStore, BusyGalleryGivesUpAfterTheTimeout)
{
    ToolTempDir dir;
    Gallery holder(dir / "g.db", Gallery::Access::Create);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "g.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::string message;
    EXPECT_EQ(CodeOf([&] { Gallery(dir / "g.db", Gallery::Access::Write, 200).Remove({"x"}); }, &message),
              kExitGallery);
    EXPECT_NE(message.find("busy"), std::string::npos) << message;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// ---------------------------------------------------------------- model identity

TEST(GalleryModelIdentity, HashIsFnv1aOfTheWholeFile)
{
    // Published FNV-1a 64 test values.
    const auto fnv = [](const std::string& s) {
        return Fnv1a64(reinterpret_cast<const unsigned char*>(s.data()), s.size(), kFnvOffset);
    };
    EXPECT_EQ(fnv(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnv("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv("foobar"), 0x85944171f73967e8ull);

    ToolTempDir dir;
    WriteFileBytes(dir / "small.model", "foobar");
    const ModelIdentity small = IdentifyModel(dir / "small.model");
    EXPECT_EQ(small.hash, "fnv1a64:85944171f73967e8");
    EXPECT_EQ(small.size, 6);
    EXPECT_EQ(small.name, "small.model");
    // Larger than one read chunk: the same as hashing it in one go.
    std::string big(200001, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 % 251);
    WriteFileBytes(dir / "big.model", big);
    char expected[17];
    std::snprintf(expected, sizeof expected, "%016llx", static_cast<unsigned long long>(fnv(big)));
    EXPECT_EQ(IdentifyModel(dir / "big.model").hash, std::string("fnv1a64:") + expected);
    big[100000] ^= 1;
    WriteFileBytes(dir / "big2.model", big);
    EXPECT_FALSE(IdentifyModel(dir / "big2.model").SameModel(IdentifyModel(dir / "big.model")));
    EXPECT_THROW(IdentifyModel(dir / "absent.model"), CliError);
}

// ---------------------------------------------------------------- selection and ranking

TEST(GalleryPhotoSelection, NumberListsAndPhotoNumbers)
{
    const NumberList list = NumberList::Parse("1-3,7,9-10");
    for (long n : {1, 2, 3, 7, 9, 10})
        EXPECT_TRUE(list.Contains(n)) << n;
    for (long n : {0, 4, 6, 8, 11, -1})
        EXPECT_FALSE(list.Contains(n)) << n;
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
    ToolTempDir dir;
    fs::create_directories(dir.path() / "s2");
    fs::create_directories(dir.path() / "s1");
    fs::create_directories(dir.path() / "only_late");
    for (const char* name : {"s1/1.pgm", "s1/2.pgm", "s1/9.pgm", "s1/10.pgm", "s1/cover.jpg", "s2/3.pgm",
                             "only_late/8.pgm"})
        WriteFileBytes(dir / name, "x");
    const NumberList early = NumberList::Parse("1-3,10");
    const auto people = SelectPhotos(dir.path().string(), &early);
    ASSERT_EQ(people.size(), 2u); // only_late has no photo numbered 1-3 or 10
    EXPECT_EQ(people[0].name, "s1");
    ASSERT_EQ(people[0].images.size(), 3u);
    EXPECT_EQ(fs::path(people[0].images[0]).filename(), "1.pgm");
    EXPECT_EQ(fs::path(people[0].images[2]).filename(), "10.pgm");
    const auto all = SelectPhotos(dir.path().string(), nullptr);
    ASSERT_EQ(all.size(), 3u);
    // Photos without a number come first, then by number (9 before 10).
    const auto& s1 = all[1].images;
    ASSERT_EQ(s1.size(), 5u);
    EXPECT_EQ(fs::path(s1[0]).filename(), "cover.jpg");
    EXPECT_EQ(fs::path(s1[3]).filename(), "9.pgm");
    EXPECT_EQ(fs::path(s1[4]).filename(), "10.pgm");
}

TEST(GalleryIdentification, RanksByScoreAndAnswersUnknownBelowTheThreshold)
{
    const CVelmora matcher;
    std::vector<GalleryPerson> people(3);
    people[0].name = "c";
    people[0].templ = TemplateOf({{0, 1}});
    people[1].name = "b";
    people[1].templ = TemplateOf({{1, 1}, {-1, 0}}); // best vector at 45 degrees
    people[2].name = "a";
    people[2].templ = TemplateOf({{1, 1}});          // ties with b
    const auto ranked = RankPeople(matcher, TemplateOf({{1, 0}}), people, CompareMode::Max);
    ASSERT_EQ(ranked.size(), 3u);
    const double at45 = (std::sqrt(0.5) + 1.0) * 0.5;
    EXPECT_EQ(ranked[0].name, "a");
    EXPECT_EQ(ranked[1].name, "b");
    EXPECT_NEAR(ranked[0].score, at45, 1e-15);
    EXPECT_NEAR(ranked[1].score, at45, 1e-15);
    EXPECT_EQ(ranked[2].name, "c");
    EXPECT_NEAR(ranked[2].score, 0.5, 1e-15);
    // Mean mode: b's mean vector (0, 0.5) is orthogonal to the probe.
    const auto mean = RankPeople(matcher, TemplateOf({{1, 0}}), people, CompareMode::Mean);
    EXPECT_EQ(mean[0].name, "a");
    EXPECT_NEAR(mean[1].score, 0.5, 1e-15);

    EXPECT_EQ(Decide(ranked, std::nullopt), "a");
    EXPECT_EQ(Decide(ranked, at45), "a");        // the threshold itself is reached
    EXPECT_EQ(Decide(ranked, 0.9), std::nullopt); // below it: unknown
    EXPECT_EQ(Decide({}, std::nullopt), std::nullopt);
    EXPECT_THROW(RankPeople(matcher, TemplateOf({{1, 0, 0}}), people, CompareMode::Max), CliError);
}

// ---------------------------------------------------------------- commands

namespace {

struct TemplateGallery {
    ToolTempDir& dir;
    std::string model;
    std::string Template(const std::string& name, const std::vector<std::vector<double>>& vectors)
    {
        WriteTemplateFile(dir / name, TemplateOf(vectors));
        return dir / name;
    }
};

} // namespace

TEST(GalleryCommands, EnrollIdentifyListRemoveWithTemplateFiles)
{
    ToolTempDir dir;
    WriteFileBytes(dir / "a.model", "model A"); // templates are given as files: the model is only identified
    WriteFileBytes(dir / "b.model", "model B");
    TemplateGallery t{dir, dir / "a.model"};
    const std::string g = dir / "g.db";
    ToolRun r = RunVelmora({"enroll", "--gallery", g, "--model", t.model, "Ann", t.Template("ann1.tpl", {{1, 0, 0}}),
                            t.Template("ann2.tpl", {{1, 0.2, 0}}), "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    JsonValue doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("people")->AsArray()[0].Find("vectors")->AsNumber(), 2);
    EXPECT_EQ(doc.Find("model")->Find("hash")->AsString(), IdentifyModel(t.model).hash);
    r = RunVelmora({"enrol", "--gallery", g, "--model", t.model, "Bob", t.Template("bob.tpl", {{0, 1, 0}})});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("enrolled Bob: 1 vector"), std::string::npos) << r.out;

    // A probe near Ann; Bob second with cosine 0.
    r = RunVelmora({"identify", "--gallery", g, "--model", t.model, t.Template("p.tpl", {{1, 0.1, 0}}), "--top", "2",
                    "--threshold", "0.9", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    doc = JsonValue::Parse(r.out);
    const JsonValue& result = doc.Find("results")->AsArray().at(0);
    EXPECT_EQ(result.Find("answer")->AsString(), "Ann");
    ASSERT_EQ(result.Find("candidates")->AsArray().size(), 2u);
    EXPECT_NEAR(result.Find("candidates")->AsArray()[1].Find("score")->AsNumber(), 0.5 + 0.5 * 0.1 / std::sqrt(1.01),
                1e-12);
    EXPECT_EQ(doc.Find("threshold")->AsNumber(), 0.9);

    // Someone unlike everybody: unknown below the threshold, in text too.
    r = RunVelmora({"identify", "--gallery", g, "--model", t.model, t.Template("q.tpl", {{0, 0, 1}}), "--threshold",
                    "0.6"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("unknown (best Ann 0.5000 is below 0.6000)"), std::string::npos) << r.out;
    // The calibration beside the model is the default threshold.
    WriteFileBytes(dir / "a.model.json", "{\"threshold\": 0.999}");
    r = RunVelmora({"identify", "--gallery", g, "--model", t.model, dir / "p.tpl", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(JsonValue::Parse(r.out).Find("results")->AsArray()[0].Find("answer")->IsNull());

    // Another model is refused by both commands.
    r = RunVelmora({"identify", "--gallery", g, "--model", dir / "b.model", dir / "p.tpl"});
    EXPECT_EQ(r.code, kExitGallery);
    EXPECT_NE(r.err.find("was built with the model a.model"), std::string::npos) << r.err;
    r = RunVelmora({"enroll", "--gallery", g, "--model", dir / "b.model", "Cy", dir / "p.tpl"});
    EXPECT_EQ(r.code, kExitGallery);

    r = RunVelmora({"gallery", "list", "--gallery", g, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    doc = JsonValue::Parse(r.out);
    ASSERT_EQ(doc.Find("people")->AsArray().size(), 2u);
    EXPECT_EQ(doc.Find("people")->AsArray()[0].Find("name")->AsString(), "Ann");
    EXPECT_EQ(doc.Find("people")->AsArray()[0].Find("vectors")->AsNumber(), 2);
    EXPECT_EQ(doc.Find("model")->Find("name")->AsString(), "a.model");

    r = RunVelmora({"gallery", "remove", "--gallery", g, "Nobody"});
    EXPECT_EQ(r.code, kExitNotEnrolled);
    EXPECT_NE(r.err.find("Nobody is not in the gallery"), std::string::npos) << r.err;
    r = RunVelmora({"gallery", "remove", "--gallery", g, "Ann"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    r = RunVelmora({"gallery", "list", "--gallery", g});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("1 person"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Ann"), std::string::npos) << r.out;
}

TEST(GalleryCommands, ArgumentAndFileErrors)
{
    ToolTempDir dir;
    WriteFileBytes(dir / "a.model", "model A");
    WriteTemplateFile(dir / "p.tpl", TemplateOf({{1, 0}}));
    const std::string model = dir / "a.model";
    EXPECT_EQ(RunVelmora({"enroll", "Ann", dir / "p.tpl"}).code, kExitUsage);                  // no --gallery
    EXPECT_EQ(RunVelmora({"enroll", "--gallery", dir / "g.db", "--model", model, "Ann"}).code, kExitUsage);
    EXPECT_EQ(RunVelmora({"enroll", "--gallery", dir / "g.db", "--model", model, "--folders", dir.path().string(),
                          "Ann", dir / "p.tpl"}).code,
              kExitUsage);
    EXPECT_EQ(RunVelmora({"enroll", "--gallery", dir / "g.db", "--model", model, "--folders", dir.path().string(),
                          "--images", "3-1"}).code,
              kExitUsage);
    EXPECT_EQ(RunVelmora({"identify", "--gallery", dir / "g.db", "--model", model, dir / "p.tpl", "--top", "0"}).code,
              kExitUsage);
    EXPECT_EQ(RunVelmora({"gallery"}).code, kExitUsage);
    EXPECT_EQ(RunVelmora({"gallery", "remove", "--gallery", dir / "g.db"}).code, kExitUsage);
    // Nothing was made by the failed commands; identify does not make galleries.
    ToolRun r = RunVelmora({"identify", "--gallery", dir / "g.db", "--model", model, dir / "p.tpl"});
    EXPECT_EQ(r.code, kExitInput);
    EXPECT_NE(r.err.find("gallery not found"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "g.db"));
    r = RunVelmora({"enroll", "--gallery", dir / "g.db", "--model", model, "Ann", dir / "absent.png"});
    EXPECT_EQ(r.code, kExitInput);
    r = RunVelmora({"enroll", "--gallery", dir / "g.db", "--model", dir / "absent.model", "Ann", dir / "p.tpl"});
    EXPECT_EQ(r.code, kExitModel);

    WriteFileBytes(dir / "junk.db", std::string(5000, 'j'));
    r = RunVelmora({"gallery", "list", "--gallery", dir / "junk.db"});
    EXPECT_EQ(r.code, kExitGallery);
    EXPECT_NE(r.err.find("damaged or not a SQLite database"), std::string::npos) << r.err;
    r = RunVelmora({"enroll", "--gallery", dir / "junk.db", "--model", model, "Ann", dir / "p.tpl"});
    EXPECT_EQ(r.code, kExitGallery);
    EXPECT_EQ(ReadFileBytes(dir / "junk.db"), std::string(5000, 'j'));

    for (const char* command : {"enroll", "identify"}) {
        r = RunVelmora({command, "--help"});
        EXPECT_EQ(r.code, kExitOk);
        EXPECT_NE(r.out.find("--folders"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Examples"), std::string::npos) << r.out;
    }
    r = RunVelmora({"gallery", "list", "--help"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find("--gallery"), std::string::npos) << r.out;
}

// Real photos: a model trained on synthetic people, one command to enrol a
// folder per person and one to identify their other photos.
TEST(GalleryCommands, FoldersOfPhotosWithATrainedModel)
{
    ToolTempDir dir;
    velmora_test::WriteSyntheticSet(dir.path() / "train", 0, 210, 3);
    ToolRun r = RunVelmora({"samples", dir / "train", "-o", dir / "s.samples", "--eyes", velmora_test::kSynthEyes});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    r = RunVelmora({"train", dir / "s.samples", "-o", dir / "m.model"});
    ASSERT_EQ(r.code, kExitOk) << r.err;

    // 12 new people with 4 photos; the eyes are given, as for a pre-aligned set.
    velmora_test::WriteSyntheticSet(dir.path() / "people", 500, 12, 4);
    const std::string g = dir / "g.db";
    r = RunVelmora({"enroll", "--gallery", g, "--model", dir / "m.model", "--folders", dir / "people", "--images", "1-2",
                    "--eyes", velmora_test::kSynthEyes, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    JsonValue doc = JsonValue::Parse(r.out);
    ASSERT_EQ(doc.Find("people")->AsArray().size(), 12u);
    EXPECT_EQ(doc.Find("people")->AsArray()[0].Find("vectors")->AsNumber(), 2);

    r = RunVelmora({"identify", "--gallery", g, "--model", dir / "m.model", "--folders", dir / "people", "--images",
                    "3-4", "--eyes", velmora_test::kSynthEyes, "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    doc = JsonValue::Parse(r.out);
    EXPECT_EQ(doc.Find("summary")->Find("probes")->AsNumber(), 24);
    EXPECT_GE(doc.Find("summary")->Find("rank1_correct")->AsNumber(), 22);
    EXPECT_TRUE(doc.Find("threshold")->IsNull()); // no calibration: every probe gets its best match

    // A stranger against a strict threshold is unknown; at threshold 0 everyone is somebody.
    velmora_test::WriteSyntheticSet(dir.path() / "stranger", 900, 1, 1);
    const std::string stranger = dir / "stranger/person1900/1.png";
    r = RunVelmora({"identify", "--gallery", g, "--model", dir / "m.model", stranger, "--eyes",
                    velmora_test::kSynthEyes, "--threshold", "0.999", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(JsonValue::Parse(r.out).Find("results")->AsArray()[0].Find("answer")->IsNull());
    r = RunVelmora({"identify", "--gallery", g, "--model", dir / "m.model", stranger, "--eyes",
                    velmora_test::kSynthEyes, "--threshold", "0", "--json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(JsonValue::Parse(r.out).Find("results")->AsArray()[0].Find("answer")->type(), JsonValue::Type::String);

    // Without given eyes a blank photo has no face: reported, exit code 4; enrol skips it.
    GreyImage blank;
    blank.width = 96;
    blank.height = 112;
    blank.pixels.assign(96 * 112, 128);
    SaveGreyImage(dir / "blank.png", blank);
    r = RunVelmora({"identify", "--gallery", g, "--model", dir / "m.model", dir / "blank.png", "--json"});
    EXPECT_EQ(r.code, kExitNoFace);
    EXPECT_FALSE(JsonValue::Parse(r.out).Find("results")->AsArray()[0].Find("face_found")->AsBool());
    r = RunVelmora({"enroll", "--gallery", g, "--model", dir / "m.model", "Ann", dir / "blank.png"});
    EXPECT_EQ(r.code, kExitNoFace);
    EXPECT_NE(r.err.find("nobody was enrolled"), std::string::npos) << r.err;
    r = RunVelmora({"template", stranger, "-o", dir / "s.tpl", "--eyes", velmora_test::kSynthEyes, "--model",
                    dir / "m.model"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    r = RunVelmora({"enroll", "--gallery", g, "--model", dir / "m.model", "Ann", dir / "blank.png", dir / "s.tpl"});
    EXPECT_EQ(r.code, kExitNoFace) << r.err; // done, but a photo was skipped
    EXPECT_NE(r.err.find("no face found in " + (dir / "blank.png")), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("enrolled Ann: 1 vector"), std::string::npos) << r.out;
}
