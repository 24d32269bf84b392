// The photo commands with one worker and with two (--jobs): the same outputs,
// byte for byte, and the same errors; bad --jobs values are refused.
#include "support/Common.h"
#include <map>

#include "Gallery.h"
#include "GreyImage.h"
#include "support/CliTestSupport.h"
#include "support/ScratchDir.h"
#include "support/TestData.h"

namespace fs = std::filesystem;
using namespace velmora_cli;
using namespace velmora_test;

TEST(CliJobs, BadValuesAreRefused)
{
    for (const char* jobs : {"0", "-1", "65", "99999999999999999999", "two"})
        EXPECT_TRUE(Exits(RunVelmora({"samples", "/nonexistent", "-o", "/nonexistent/s", "--jobs", jobs}), kExitUsage))
            << jobs;
}

// Four ORL people, a damaged photo and one without a face.
TEST(CliJobs, OutputsDoNotDependOnTheWorkers)
{
    VELMORA_REQUIRE_DATA("orl");
    ScratchDir dir;
    const std::string set = dir / "set";
    for (const std::string person : {"s1", "s2", "s3", "s4"}) {
        fs::create_directories(set + "/" + person);
        for (int k = 1; k <= 10; ++k)
            fs::create_symlink(DataDir() / "orl" / person / (std::to_string(k) + ".pgm"),
                               set + "/" + person + "/" + std::to_string(k) + ".pgm");
    }
    WriteFile(set + "/s2/11.pgm", "P5\n92 112\n255\ncut short");
    SaveGreyImage(set + "/s3/12.png", velmora_cli::GreyImage{92, 112, std::vector<unsigned char>(92 * 112, 128)});
    WriteFile(dir / "pairs.txt", "1\t2\ns1\t1\t2\ns2\t3\t4\ns1\t1\ts2\t3\ns3\t5\ts4\t6\n");

    std::map<std::string, std::string> seen[2]; // what each run gave: exit code and output, or file bytes
    for (int k = 0; k < 2; ++k) {
        const auto run = [&](const std::string& name, std::vector<std::string> args, bool timed = false) {
            args.insert(args.end(), {"--jobs", std::to_string(k + 1)});
            const ToolRun r = RunVelmora(args);
            seen[k][name] = std::to_string(r.code) + "\n" + (timed ? "" : r.out) + r.err;
        };
        const auto keep = [&](const std::string& file) { seen[k][file] = ReadFile(dir / file); };
        fs::remove(dir / "g.db");
        run("samples", {"samples", set, "-o", dir / "s"});
        run("at most 3", {"samples", set, "-o", dir / "m", "--max-per-person", "3"});
        for (const char* file : {"s", "s.names", "s.faces", "m", "m.faces"})
            keep(file);
        run("template", {"template", set + "/s1/1.pgm", set + "/s1/2.pgm", set + "/s2/3.pgm", "-o", dir / "t"});
        keep("t");
        run("unreadable", {"template", set + "/s1/1.pgm", set + "/s2/11.pgm", set + "/s3/12.png", "-o", dir / "u"});
        run("no face", {"template", set + "/s1/1.pgm", set + "/s3/12.png", set + "/s2/11.pgm", "-o", dir / "u"});
        run("enroll", {"enroll", "--gallery", dir / "g.db", "--folders", set, "--images", "1-5", "--json"});
        for (const GalleryPerson& p : Gallery(dir / "g.db", Gallery::Access::Read).People(true))
            seen[k]["gallery"] += p.name + std::string(p.templ.begin(), p.templ.end());
        run("identify", {"identify", "--gallery", dir / "g.db", "--folders", set, "--images", "6-10", "--top", "3"});
        run("orl", {"evaluate", "orl", set, "--adapt", "--csv", dir / "orl.csv"}, true);
        keep("orl.csv");
        run("lfw", {"evaluate", "lfw", set, dir / "pairs.txt", "--csv", dir / "lfw.csv"}, true);
        keep("lfw.csv");
    }
    for (const auto& [name, output] : seen[0])
        EXPECT_TRUE(output == seen[1][name]) << name << " with one worker:\n" << output.substr(0, 2000);
    EXPECT_TRUE(Has(seen[0]["samples"], "without a face: 1 of 42, unreadable: 1"));
    EXPECT_TRUE(Has(seen[0]["samples"], "skipped: cannot read an image from " + set + "/s2/11.pgm"));
    EXPECT_TRUE(Has(seen[0]["at most 3"], "12 samples of 4 people"));
    EXPECT_EQ(seen[0]["unreadable"].substr(0, 2), "3\n");
    EXPECT_TRUE(Has(seen[0]["no face"], "4\nvelmora: no face found in " + set + "/s3/12.png"));
    EXPECT_EQ(seen[0]["gallery"].size(), 4 * 2 + 4 * (8 + 30 * 200 * 8));
    for (const char* command : {"template", "enroll", "identify", "orl", "lfw"})
        EXPECT_EQ(seen[0][command].substr(0, 2), "0\n") << command << ": " << seen[0][command];
}
