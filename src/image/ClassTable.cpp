// The library's table of serialisable classes. It is an explicit list rather than
// self-registration from static constructors: a class linked from a static archive
// would otherwise be missing whenever nothing names it directly, which is exactly
// when creation by name is needed.
#include <cstring>

#include "image/Image.h"
#include "image/Object.h"

namespace {
const CRuntimeClass* const kClasses[] = {
    &CObject::classCObject,
    &CImage::classCImage,
};
} // namespace

const CRuntimeClass* CRuntimeClass::FromName(const char* className)
{
    if (className == nullptr)
        return nullptr;
    for (const CRuntimeClass* c : kClasses)
        if (std::strcmp(c->m_lpszClassName, className) == 0)
            return c;
    return nullptr;
}
