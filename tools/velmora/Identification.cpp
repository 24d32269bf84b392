#include "Identification.h"

#include <algorithm>

#include "ExitCodes.h"
#include "common/ByteOrder.h"
#include "recognizer/Engine.h"

namespace velmora_cli {

std::vector<Candidate> RankPeople(const TemplateBuffer& probe,
                                  const std::vector<GalleryPerson>& people, CompareMode mode)
{
    if (!LooksLikeTemplate(probe))
        throw CliError(kExitFailure, "malformed probe template");
    const int32_t dimension = ReadInt32LE(probe.data() + 4);
    std::vector<Candidate> ranked;
    ranked.reserve(people.size());
    for (const GalleryPerson& person : people) {
        if (!LooksLikeTemplate(person.templ) || ReadInt32LE(person.templ.data() + 4) != dimension)
            throw CliError(kExitGallery, "the template of " + person.name +
                                             " does not match the probe's dimension; was the gallery built with "
                                             "another model?");
        const double score = velmora::engine::CompareTemplates(probe.data(), probe.size(), person.templ.data(),
                                                               person.templ.size(), static_cast<int>(mode));
        ranked.push_back({person.name, score});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score)
            return a.score > b.score;
        return a.name < b.name;
    });
    return ranked;
}

std::optional<std::string> Decide(const std::vector<Candidate>& ranked, std::optional<double> threshold)
{
    if (ranked.empty() || ranked.front().score < 0.0)
        return std::nullopt;
    if (threshold && ranked.front().score < *threshold)
        return std::nullopt;
    return ranked.front().name;
}

} // namespace velmora_cli
