#pragma once
// The tool's JSON is nlohmann's; ordered_json keeps fields in the order the
// commands set them.
#include <ostream>

#include <nlohmann/json.hpp>

#include "GreyImage.h"

namespace velmora_cli {

using Json = nlohmann::ordered_json;

// One document on one line. NaN and infinities print as null; bytes that are
// not UTF-8 (a path or name from an old file system) print as U+FFFD, as the
// document must stay valid JSON and the report must not throw half written.
inline void PrintJson(std::ostream& out, const Json& doc)
{
    out << doc.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

// Sets a face's "left_eye" and "right_eye" as {"x", "y"} objects.
inline void SetEyes(Json& face, const EyePair& eyes)
{
    face["left_eye"] = {{"x", eyes.leftX}, {"y", eyes.leftY}};
    face["right_eye"] = {{"x", eyes.rightX}, {"y", eyes.rightY}};
}

} // namespace velmora_cli
