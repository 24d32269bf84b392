#pragma once
// Sends the process's standard output somewhere else while alive. The library's
// training prints progress counters there, which must not mix with results
// (a --json document, for one).

namespace velmora_cli {

class StdoutRedirect {
public:
    // toStderr: counters go to stderr (useful on a terminal); otherwise they are dropped.
    explicit StdoutRedirect(bool toStderr);
    ~StdoutRedirect();
    StdoutRedirect(const StdoutRedirect&) = delete;
    StdoutRedirect& operator=(const StdoutRedirect&) = delete;

private:
    int m_saved = -1;
};

} // namespace velmora_cli
