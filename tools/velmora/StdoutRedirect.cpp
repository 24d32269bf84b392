#include "StdoutRedirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace velmora_cli {

StdoutRedirect::StdoutRedirect(bool toStderr)
{
    std::cout.flush();
    std::fflush(stdout);
    m_saved = dup(STDOUT_FILENO);
    if (m_saved < 0)
        return; // nowhere to restore from: leave stdout alone
    const int target = toStderr ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
    if (target < 0 || dup2(target, STDOUT_FILENO) < 0) {
        if (target >= 0)
            close(target);
        close(m_saved);
        m_saved = -1;
        return;
    }
    close(target);
}

StdoutRedirect::~StdoutRedirect()
{
    if (m_saved < 0)
        return;
    std::cout.flush();
    std::fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
}

} // namespace velmora_cli
