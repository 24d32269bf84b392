#pragma once
// A minimal object root with run-time class information, dynamic creation by
// class name and serialisation through an archive.
#include <iosfwd>
#include <memory>

class CArchive;
class CObject;

struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    unsigned m_wSchema;
    // Null for classes that cannot be created dynamically.
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    std::unique_ptr<CObject> CreateObject() const;
    bool IsDerivedFrom(const CRuntimeClass* base) const;

    // Looks the name up among the library's serialisable classes; null when unknown.
    static const CRuntimeClass* FromName(const char* className);
    static std::unique_ptr<CObject> CreateObject(const char* className);
};

class CObject {
public:
    static const CRuntimeClass classCObject;

    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive& archive);
    virtual void AssertValid() const;
    virtual void Dump(std::ostream& out) const;

    bool IsKindOf(const CRuntimeClass* runtimeClass) const;

protected:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};
