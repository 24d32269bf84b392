#pragma once
// Picking photos of a folder-per-person set by their number, as in "images
// 1-5 of every person": the number is the run of digits that ends a file's
// name before its extension (3.pgm -> 3, Ann_Lee_0012.jpg -> 12).
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Dataset.h"

namespace velmora_cli {

class NumberList {
public:
    // "1-5", "6-10", "1,3,7-9"; throws CliError (kExitUsage) on anything else.
    static NumberList Parse(const std::string& text);
    bool Contains(long number) const;
    const std::string& text() const { return m_text; }

private:
    std::vector<std::pair<long, long>> m_ranges;
    std::string m_text;
};

// The photo's number, or nothing when its name does not end in digits.
std::optional<long> PhotoNumber(const std::string& path);

// People of the folder (sorted by name), each with the photos whose number is
// in `numbers` (every photo when null), ordered by number, then by name.
// People left without a photo are dropped.
std::vector<Person> SelectPhotos(const std::string& folder, const NumberList* numbers);

} // namespace velmora_cli
