#include "PairsFile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Dataset.h"
#include "ExitCodes.h"
#include "PhotoSelection.h"

namespace velmora_cli {

namespace {

// Larger lists than this are no pair lists.
constexpr long kMaxFolds = 1000;
constexpr long kMaxPairsPerKind = 1000000;

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    if (!line.empty() && line.back() == '\t')
        fields.emplace_back();
    return fields;
}

bool ParseCount(const std::string& text, long limit, long& value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stol(text);
    return value >= 1 && value <= limit;
}

} // namespace

std::set<std::string> PairFold::People() const
{
    std::set<std::string> people;
    for (const FacePair& p : pairs) {
        people.insert(p.nameA);
        people.insert(p.nameB);
    }
    return people;
}

std::vector<PairFold> ReadPairsFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw CliError(kExitInput, "cannot read the pairs file " + path);
    long lineNumber = 0;
    auto bad = [&](const std::string& why) {
        return CliError(kExitInput, path + ":" + std::to_string(lineNumber) + ": " + why);
    };
    auto nextLine = [&](std::string& line) {
        if (!std::getline(in, line))
            throw bad("the file ends early");
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    };
    std::string line;
    nextLine(line);
    std::istringstream headerFields(line);
    std::string foldsText, perKindText, extra;
    headerFields >> foldsText >> perKindText >> extra;
    long folds = 0, perKind = 0;
    if (!extra.empty() || !ParseCount(foldsText, kMaxFolds, folds) || !ParseCount(perKindText, kMaxPairsPerKind, perKind))
        throw bad("the first line must hold the number of folds and of pairs of each kind per fold, e.g. 5<TAB>300");

    std::vector<PairFold> result(static_cast<size_t>(folds));
    for (PairFold& fold : result) {
        for (long i = 0; i < 2 * perKind; ++i) {
            nextLine(line);
            const std::vector<std::string> f = SplitTabs(line);
            const bool same = i < perKind;
            FacePair pair;
            pair.same = same;
            long a = 0, b = 0;
            if (same && f.size() == 3 && !f[0].empty() && ParseCount(f[1], 99999, a) && ParseCount(f[2], 99999, b)) {
                pair.nameA = pair.nameB = f[0];
            } else if (!same && f.size() == 4 && !f[0].empty() && !f[2].empty() && ParseCount(f[1], 99999, a) &&
                       ParseCount(f[3], 99999, b)) {
                pair.nameA = f[0];
                pair.nameB = f[2];
            } else {
                throw bad(same ? "expected a same-person pair: Name<TAB>i<TAB>j"
                               : "expected a different-person pair: Name1<TAB>i<TAB>Name2<TAB>j");
            }
            if (pair.nameA.find('/') != std::string::npos || pair.nameB.find('/') != std::string::npos ||
                pair.nameA == ".." || pair.nameB == "..")
                throw bad("a name must not be a path");
            pair.imageA = static_cast<int>(a);
            pair.imageB = static_cast<int>(b);
            fold.pairs.push_back(pair);
        }
    }
    return result;
}

std::string PairImagePath(const std::string& folder, const std::string& name, int image)
{
    char file[32];
    std::snprintf(file, sizeof file, "_%04d.jpg", image);
    const std::filesystem::path person = std::filesystem::path(folder) / name;
    const std::filesystem::path lfwName = person / (name + file);
    std::error_code ec;
    if (std::filesystem::is_regular_file(lfwName, ec))
        return lfwName.string();
    // Sets named otherwise (s7/3.pgm): the photo whose name ends in the number,
    // the lowest name first when several do, as `--images` picks them.
    std::string found;
    for (std::filesystem::directory_iterator it(person, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        if (it->is_regular_file(ec) && PhotoNumber(path) == image && HasImageExtension(path) && (found.empty() || path < found))
            found = path;
    }
    return found.empty() ? lfwName.string() : found;
}

} // namespace velmora_cli
