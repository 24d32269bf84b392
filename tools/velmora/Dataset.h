#pragma once
// A folder-per-person image set: every subfolder is one person, every image
// file in it one photo of that person.
#include <set>
#include <string>
#include <vector>

namespace velmora_cli {

struct Person {
    std::string name;                // the folder's name
    std::vector<std::string> images; // paths, sorted by file name
};

bool HasImageExtension(const std::string& path);

// People sorted by name; folders without images are left out, as are the
// names in `exclude`. Throws CliError (kExitInput) when the folder is missing.
std::vector<Person> ListDataset(const std::string& folder, const std::set<std::string>& exclude);

// Names from a text file, one per line; blank lines and lines starting with # are skipped.
std::set<std::string> ReadNameList(const std::string& path);

} // namespace velmora_cli
