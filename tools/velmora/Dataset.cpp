#include "Dataset.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "ExitCodes.h"

namespace fs = std::filesystem;

namespace velmora_cli {

bool HasImageExtension(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".jpg" || ext == ".jpeg" || ext == ".png" || ext == ".bmp" || ext == ".pgm" || ext == ".pnm";
}

std::vector<Person> ListDataset(const std::string& folder, const std::set<std::string>& exclude)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw CliError(kExitInput, "folder not found: " + folder);
    std::vector<Person> people;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_directory(ec))
            continue;
        Person person;
        person.name = entry.path().filename().string();
        if (exclude.count(person.name) != 0)
            continue;
        for (const fs::directory_entry& file : fs::directory_iterator(entry.path(), ec))
            if (file.is_regular_file(ec) && HasImageExtension(file.path().string()))
                person.images.push_back(file.path().string());
        if (person.images.empty())
            continue;
        std::sort(person.images.begin(), person.images.end());
        people.push_back(std::move(person));
    }
    if (ec)
        throw CliError(kExitInput, "cannot list the folder " + folder + ": " + ec.message());
    std::sort(people.begin(), people.end(), [](const Person& a, const Person& b) { return a.name < b.name; });
    return people;
}

std::set<std::string> ReadNameList(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw CliError(kExitInput, "cannot read the name list " + path);
    std::set<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            names.insert(line);
    }
    return names;
}

} // namespace velmora_cli
