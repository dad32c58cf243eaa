// CObject: the root class, with run-time class information (class name and
// base class) for the classes that declare it.
#pragma once

#include <cstring>

class CArchive;

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;

    // True when this class is `base` or derives from it.
    bool IsDerivedFrom(const CRuntimeClass* base) const {
        for (const CRuntimeClass* current = this; current != nullptr; current = current->m_pBaseClass) {
            if (current == base) return true;
        }
        return false;
    }
};

// Declares run-time class information in a class body; the class is neither
// dynamically creatable nor serializable.
#define KAVEX_DECLARE_DYNAMIC(className)                   \
public:                                                    \
    static const CRuntimeClass class##className;           \
    const CRuntimeClass* GetRuntimeClass() const override; \
                                                           \
private:

#define KAVEX_IMPLEMENT_DYNAMIC(className, baseClassName)                                                 \
    const CRuntimeClass className::class##className = {#className, &baseClassName::class##baseClassName}; \
    const CRuntimeClass* className::GetRuntimeClass() const { return &class##className; }

#define KAVEX_RUNTIME_CLASS(className) (&className::class##className)

class CObject {
public:
    static const CRuntimeClass classCObject;

    virtual const CRuntimeClass* GetRuntimeClass() const { return &classCObject; }
    virtual ~CObject() = default;
    // Serialization hook; no class of this module stores itself.
    virtual void Serialize(CArchive& /*archive*/) {}

    bool IsKindOf(const CRuntimeClass* runtimeClass) const {
        return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
    }

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

inline const CRuntimeClass CObject::classCObject = {"CObject", nullptr};
