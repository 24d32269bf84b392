#pragma once
// A one-line progress bar for long commands. It draws only when enabled, which
// the tool decides from whether stderr is a terminal, so logs and pipes stay clean.
#include <chrono>
#include <ostream>
#include <string>

namespace velmora_cli {

bool StderrIsTerminal();

class ProgressBar {
public:
    ProgressBar(std::ostream& out, bool enabled, long total, std::string label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Sets the number of finished steps and redraws at most a few times a second.
    void Update(long done);
    // Clears the line; called by the destructor if not before.
    void Finish();

    // The text of the bar for the given state, without the leading carriage return.
    static std::string Render(long done, long total, const std::string& label, double elapsedSeconds,
                              int width);

private:
    std::ostream& m_out;
    bool m_enabled;
    long m_total;
    std::string m_label;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    bool m_drawn = false;
    bool m_finished = false;
};

} // namespace velmora_cli
