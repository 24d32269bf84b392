#include "common/MessageSink.h"

#include <cstdio>

#include <velmora/Velmora.h>

namespace {
VelmoraMessageHandler g_messageHandler = nullptr;
void* g_messageUser = nullptr;
} // namespace

void VelmoraSetMessageHandler(VelmoraMessageHandler handler, void* user)
{
    g_messageHandler = handler;
    g_messageUser = user;
}

void ShowMessage(const char* text)
{
    if (text == nullptr)
        text = "";
    if (g_messageHandler != nullptr) {
        g_messageHandler(text, g_messageUser);
        return;
    }
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}
