#pragma once
#include <string>

// Stands in for the modal message box: hands the text to the host's handler,
// or writes it to stderr when the host installed none.
void ShowMessage(const char* text);
inline void ShowMessage(const std::string& text) { ShowMessage(text.c_str()); }
