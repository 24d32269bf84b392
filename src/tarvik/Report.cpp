#include "Report.h"

#include <cstdio>

#include <tarvik/Tarvik.h>

namespace {
TarvikMessageSink g_sink = nullptr;
} // namespace

void TarvikSetMessageSink(TarvikMessageSink sink)
{
    g_sink = sink;
}

namespace tarvik {

void Report(const std::string& text)
{
    if (g_sink != nullptr) {
        g_sink(text.c_str());
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace tarvik
