#include "ProgressBar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace velmora_cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
} // namespace

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

ProgressBar::ProgressBar(std::ostream& out, bool enabled, long total, std::string label)
    : m_out(out), m_enabled(enabled), m_total(total), m_label(std::move(label)),
      m_start(std::chrono::steady_clock::now()), m_lastDraw(m_start)
{
}

ProgressBar::~ProgressBar()
{
    Finish();
}

std::string ProgressBar::Render(long done, long total, const std::string& label, double elapsedSeconds,
                                int width)
{
    const long clamped = std::max(0L, total > 0 ? std::min(done, total) : done);
    const int filled = total > 0 ? static_cast<int>(static_cast<double>(width) * clamped / total) : 0;
    std::string bar = label + " [";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    char tail[96];
    if (total > 0) {
        // The remaining time is extrapolated from the rate so far.
        const double eta = clamped > 0 ? elapsedSeconds * (total - clamped) / clamped : 0.0;
        std::snprintf(tail, sizeof tail, "] %ld/%ld %3d%% %.0fs left", clamped, total,
                      static_cast<int>(100.0 * clamped / total), eta);
    } else {
        std::snprintf(tail, sizeof tail, "] %ld", clamped);
    }
    return bar + tail;
}

void ProgressBar::Update(long done)
{
    if (!m_enabled || m_finished)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_lastDraw < kRedrawInterval && done < m_total)
        return;
    m_lastDraw = now;
    m_drawn = true;
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    // Padding erases what a longer earlier line left behind.
    m_out << '\r' << Render(done, m_total, m_label, elapsed, kBarWidth) << "   " << std::flush;
}

void ProgressBar::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_enabled && m_drawn)
        m_out << "\r\033[K" << std::flush;
}

} // namespace velmora_cli
