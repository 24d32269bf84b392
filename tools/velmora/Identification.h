#pragma once
// Ranking the people of a gallery by how well a probe template matches theirs.
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Gallery.h"

namespace velmora_cli {

struct Candidate {
    std::string name;
    double score = 0.0;
};

// Every person scored with CompareTemplate in the given mode, best first (equal
// scores by name). Throws CliError (kExitGallery) when the probe's dimension
// differs from a person's.
std::vector<Candidate> RankPeople(const TemplateBuffer& probe,
                                  const std::vector<GalleryPerson>& people, CompareMode mode);

// The answer: the best person when the best score reaches the threshold (or
// when there is no threshold), else nothing ("unknown").
std::optional<std::string> Decide(const std::vector<Candidate>& ranked, std::optional<double> threshold);

} // namespace velmora_cli
