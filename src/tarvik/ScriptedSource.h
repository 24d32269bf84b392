#pragma once
#include <tarvik/DetectionSource.h>

namespace tarvik {
// The scripted source installed by a test, or an empty function.
const TarvikDetectionSource& ScriptedSource();
} // namespace tarvik
