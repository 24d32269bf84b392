#include "image/Object.h"

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xffff, nullptr, nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const
{
    return &classCObject;
}

void CObject::Serialize(CArchive&) {}

void CObject::AssertValid() const {}

void CObject::Dump(std::ostream&) const {}

bool CObject::IsKindOf(const CRuntimeClass* runtimeClass) const
{
    return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
}

std::unique_ptr<CObject> CRuntimeClass::CreateObject() const
{
    if (m_pfnCreateObject == nullptr)
        return nullptr;
    return std::unique_ptr<CObject>(m_pfnCreateObject());
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const
{
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass)
        if (c == base)
            return true;
    return false;
}

std::unique_ptr<CObject> CRuntimeClass::CreateObject(const char* className)
{
    const CRuntimeClass* runtimeClass = FromName(className);
    return runtimeClass == nullptr ? nullptr : runtimeClass->CreateObject();
}
