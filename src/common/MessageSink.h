#pragma once
#include <sstream>
#include <string>

// Stands in for the modal message box: hands the fixed text, with the values
// behind it when there are any, to the host's handler, or writes both to stderr.
void ShowMessage(const char* text, const char* details = "");
inline void ShowMessage(const char* text, const std::string& details)
{
    ShowMessage(text, details.c_str());
}

// The details sentence of a message from its pieces, numbers written as the
// stream writes them: Details("asked for ", n, " vectors"). Messages often
// report exhausted memory, so a sentence that cannot be made is left empty
// rather than thrown.
template <typename... Pieces>
std::string Details(const Pieces&... pieces) noexcept
{
    try {
        std::ostringstream out;
        (out << ... << pieces);
        return out.str();
    } catch (...) {
        return std::string();
    }
}
