#pragma once
// Installs a message handler for the lifetime of the object and records every text.
#include <string>
#include <vector>

#include <velmora/Velmora.h>

namespace velmora_test {

class MessageCapture {
public:
    MessageCapture() { VelmoraSetMessageHandler(&MessageCapture::Record, this); }
    ~MessageCapture() { VelmoraSetMessageHandler(nullptr, nullptr); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    const std::vector<std::string>& texts() const { return m_texts; }
    void clear() { m_texts.clear(); }

private:
    static void Record(const char* text, void* user)
    {
        static_cast<MessageCapture*>(user)->m_texts.emplace_back(text);
    }
    std::vector<std::string> m_texts;
};

} // namespace velmora_test
