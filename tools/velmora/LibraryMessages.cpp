#include "LibraryMessages.h"

#include <velmora/Velmora.h>

namespace velmora_cli {

LibraryMessages::LibraryMessages(std::ostream& err) : m_err(err)
{
    VelmoraSetMessageHandler(&LibraryMessages::Forward, this);
}

LibraryMessages::~LibraryMessages()
{
    VelmoraSetMessageHandler(nullptr, nullptr);
}

void LibraryMessages::Forward(const char* text, void* user)
{
    static_cast<LibraryMessages*>(user)->m_err << "velmora: library says: " << (text ? text : "") << '\n';
}

} // namespace velmora_cli
