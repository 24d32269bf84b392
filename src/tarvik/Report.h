#pragma once
#include <string>

namespace tarvik {
// Hands a message to the sink the host installed (stderr by default), once per
// process for each text.
void Report(const std::string& text);
} // namespace tarvik
