#pragma once
// Template files hold the raw template buffer: an 8-byte header (count and
// dimension, little-endian) followed by count x dimension doubles.
#include <string>
#include <vector>

namespace velmora_cli {

using TemplateBuffer = std::vector<unsigned char>;

// True when the bytes are exactly one well-formed template buffer.
bool LooksLikeTemplate(const TemplateBuffer& bytes);

// Throws CliError (kExitInput) when the file is missing or is no template.
TemplateBuffer ReadTemplateFile(const std::string& path);
// True when the file exists and is a template (not an image).
bool IsTemplateFile(const std::string& path);
void WriteTemplateFile(const std::string& path, const TemplateBuffer& buffer);

// Joins several one-or-more-vector templates of the same dimension into one
// template holding all their vectors, in order. Throws CliError on a mismatch.
TemplateBuffer JoinTemplates(const std::vector<TemplateBuffer>& parts);

} // namespace velmora_cli
