#pragma once
// While alive, sends the library's messages to the tool's error stream,
// prefixed so a reader can tell them from the tool's own words.
#include <ostream>

namespace velmora_cli {

class LibraryMessages {
public:
    explicit LibraryMessages(std::ostream& err);
    ~LibraryMessages();
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

private:
    static void Forward(const char* text, const char* details, void* user);
    std::ostream& m_err;
};

} // namespace velmora_cli
