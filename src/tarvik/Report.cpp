#include "Report.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

#include <tarvik/Tarvik.h>

namespace {
// Detectors on several threads read the sink while a host may set it.
std::atomic<TarvikMessageSink> g_sink{nullptr};
} // namespace

void TarvikSetMessageSink(TarvikMessageSink sink)
{
    g_sink.store(sink);
}

namespace tarvik {

void Report(const std::string& text)
{
    // A host with a detector per thread would otherwise hear of one missing
    // file once per detector.
    static std::mutex mutex;
    static std::set<std::string> said;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!said.insert(text).second)
        return;
    if (const TarvikMessageSink sink = g_sink.load()) {
        sink(text.c_str());
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace tarvik
