#include "PhotoReading.h"

#include <memory>

#include "OrderedPipeline.h"
#include "Recognizer.h"

namespace velmora_cli {

PhotoRead ReadPhoto(FaceFinder& finder, const std::string& path, PhotoWork work)
{
    PhotoRead read;
    read.work = work;
    if (work == PhotoWork::Skip)
        return read;
    try {
        read.image = LoadGreyImage(path);
    } catch (const CliError& e) {
        read.error = e;
        return read;
    }
    if (work == PhotoWork::Search)
        read.eyes = finder.FindOneFace(read.image);
    return read;
}

PhotoReader::PhotoReader(int jobs) : m_jobs(jobs) {}

PhotoReader::~PhotoReader() = default;

void PhotoReader::ReadInOrder(const std::vector<std::string>& paths, const std::function<PhotoWork(size_t)>& plan,
                              const std::function<void(size_t, PhotoRead&)>& consume)
{
    size_t made = 0;
    RunOrdered(
        paths.size(), m_jobs,
        [&] {
            if (made == m_finders.size())
                m_finders.push_back(std::make_unique<FaceFinder>());
            FaceFinder* finder = m_finders[made++].get();
            return [&paths, &plan, finder](size_t i) { return ReadPhoto(*finder, paths[i], plan(i)); };
        },
        consume);
}

} // namespace velmora_cli
