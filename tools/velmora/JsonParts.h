#pragma once
// JSON pieces several commands share.
#include "GreyImage.h"
#include "Json.h"

namespace velmora_cli {

inline void WritePoint(JsonWriter& w, const char* key, int x, int y)
{
    w.Key(key).BeginObject().Key("x").Integer(x).Key("y").Integer(y).EndObject();
}

inline void WriteEyes(JsonWriter& w, const EyePair& eyes)
{
    WritePoint(w, "left_eye", eyes.leftX, eyes.leftY);
    WritePoint(w, "right_eye", eyes.rightX, eyes.rightY);
}

inline std::string EyesText(const EyePair& eyes)
{
    return "left eye (" + std::to_string(eyes.leftX) + ", " + std::to_string(eyes.leftY) + "), right eye (" +
           std::to_string(eyes.rightX) + ", " + std::to_string(eyes.rightY) + ")";
}

} // namespace velmora_cli
