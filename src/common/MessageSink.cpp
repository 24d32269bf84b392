#include "common/MessageSink.h"

#include <cstdio>

#include <velmora/Velmora.h>

namespace {
// At most one of the two handlers is installed at a time.
VelmoraMessageHandler g_messageHandler = nullptr;
VelmoraDetailedMessageHandler g_detailedHandler = nullptr;
void* g_messageUser = nullptr;
} // namespace

void VelmoraSetMessageHandler(VelmoraMessageHandler handler, void* user)
{
    g_messageHandler = handler;
    g_detailedHandler = nullptr;
    g_messageUser = user;
}

void VelmoraSetDetailedMessageHandler(VelmoraDetailedMessageHandler handler, void* user)
{
    g_detailedHandler = handler;
    g_messageHandler = nullptr;
    g_messageUser = user;
}

void ShowMessage(const char* text, const char* details)
{
    if (text == nullptr)
        text = "";
    if (details == nullptr)
        details = "";
    if (g_detailedHandler != nullptr) {
        g_detailedHandler(text, details, g_messageUser);
        return;
    }
    if (g_messageHandler != nullptr) {
        g_messageHandler(text, g_messageUser);
        return;
    }
    if (*details == '\0')
        std::fprintf(stderr, "%s\n", text);
    else
        std::fprintf(stderr, "%s (%s)\n", text, details);
    std::fflush(stderr);
}
