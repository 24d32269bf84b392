#include "ScriptedSource.h"

#include <utility>

namespace {
TarvikDetectionSource& Slot()
{
    static TarvikDetectionSource source;
    return source;
}
} // namespace

void TarvikSetDetectionSource(TarvikDetectionSource source)
{
    Slot() = std::move(source);
}

namespace tarvik {

const TarvikDetectionSource& ScriptedSource()
{
    return Slot();
}

} // namespace tarvik
