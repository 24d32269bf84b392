#include "LibraryMessages.h"

#include <velmora/Velmora.h>

namespace velmora_cli {

LibraryMessages::LibraryMessages(std::ostream& err) : m_err(err)
{
    VelmoraSetDetailedMessageHandler(&LibraryMessages::Forward, this);
}

LibraryMessages::~LibraryMessages()
{
    VelmoraSetMessageHandler(nullptr, nullptr);
}

void LibraryMessages::Forward(const char* text, const char* details, void* user)
{
    std::ostream& err = static_cast<LibraryMessages*>(user)->m_err;
    err << "velmora: library says: " << text;
    if (*details != '\0')
        err << " (" << details << ')';
    err << '\n';
}

} // namespace velmora_cli
