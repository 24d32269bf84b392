#pragma once
// Photos read and searched for their first face by worker threads, each with a
// face detector of its own, and handed over in order on the calling thread,
// which alone uses the library's module-wide state (face cutting, features,
// templates). Outputs therefore do not depend on the number of workers.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ExitCodes.h"
#include "GreyImage.h"

namespace velmora_cli {

class FaceFinder;

enum class PhotoWork {
    Skip,   // the photo will not be used
    Read,   // its eyes are known
    Search, // read it and find its first face
};

struct PhotoRead {
    PhotoWork work = PhotoWork::Skip; // what was done
    std::optional<CliError> error; // what reading the photo threw; its users decide whether that is fatal
    GreyImage image;
    std::optional<EyePair> eyes;   // the first face's, when searched and found
};

PhotoRead ReadPhoto(FaceFinder& finder, const std::string& path, PhotoWork work);

// The workers' face finders, kept from one run to the next: each reads its
// landmark model once.
class PhotoReader {
public:
    explicit PhotoReader(int jobs);
    ~PhotoReader();

    // Each paths[i] as plan(i) says, by `jobs` workers, handed to consume(i,
    // read) in the order of paths. plan runs on the workers' threads: it may
    // read only what does not change meanwhile, or atomics.
    void ReadInOrder(const std::vector<std::string>& paths, const std::function<PhotoWork(size_t)>& plan,
                     const std::function<void(size_t, PhotoRead&)>& consume);

private:
    int m_jobs;
    std::vector<std::unique_ptr<FaceFinder>> m_finders;
};

} // namespace velmora_cli
