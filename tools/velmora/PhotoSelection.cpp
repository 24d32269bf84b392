#include "PhotoSelection.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "ExitCodes.h"

namespace velmora_cli {

namespace {
// Longer runs of digits are no photo numbers anyone would type.
constexpr size_t kMaxDigits = 9;

bool ParseCount(const std::string& text, size_t& pos, long& value)
{
    const size_t start = pos;
    value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && pos - start < kMaxDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start && (pos == text.size() || !std::isdigit(static_cast<unsigned char>(text[pos])));
}
} // namespace

NumberList NumberList::Parse(const std::string& text)
{
    NumberList list;
    list.m_text = text;
    size_t pos = 0;
    auto bad = [&text]() {
        return CliError(kExitUsage, "a photo number list looks like 1-5 or 1,3,7-9, not '" + text + "'");
    };
    while (true) {
        long first = 0, last = 0;
        if (!ParseCount(text, pos, first))
            throw bad();
        last = first;
        if (pos < text.size() && text[pos] == '-') {
            ++pos;
            if (!ParseCount(text, pos, last) || last < first)
                throw bad();
        }
        list.m_ranges.emplace_back(first, last);
        if (pos == text.size())
            break;
        if (text[pos] != ',')
            throw bad();
        ++pos;
    }
    return list;
}

bool NumberList::Contains(long number) const
{
    for (const auto& [first, last] : m_ranges)
        if (number >= first && number <= last)
            return true;
    return false;
}

std::optional<long> PhotoNumber(const std::string& path)
{
    const std::string stem = std::filesystem::path(path).stem().string();
    size_t start = stem.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(stem[start - 1])))
        --start;
    // Leading zeros do not count against the length: Name_0003 is photo 3.
    size_t significant = start;
    while (significant + 1 < stem.size() && stem[significant] == '0')
        ++significant;
    if (start == stem.size() || stem.size() - significant > kMaxDigits)
        return std::nullopt;
    return std::stol(stem.substr(significant));
}

std::vector<Person> SelectPhotos(const std::string& folder, const NumberList* numbers)
{
    std::vector<Person> people = ListDataset(folder, {});
    std::vector<Person> selected;
    for (Person& person : people) {
        std::vector<std::pair<long, std::string>> photos;
        for (const std::string& path : person.images) {
            const std::optional<long> n = PhotoNumber(path);
            if (numbers != nullptr && (!n || !numbers->Contains(*n)))
                continue;
            photos.emplace_back(n.value_or(-1), path);
        }
        if (photos.empty())
            continue;
        std::sort(photos.begin(), photos.end());
        person.images.clear();
        for (auto& photo : photos)
            person.images.push_back(std::move(photo.second));
        selected.push_back(std::move(person));
    }
    return selected;
}

} // namespace velmora_cli
