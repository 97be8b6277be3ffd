// The in-process server around our automation classes: one table of
// classes per DLL, served by one class factory and one registration routine.
#pragma once

#include "com_error.h"
#include "typeinfo_dispatch.h"

#include <new>
#include <span>

namespace comkit {

struct ClassRow {
    const CLSID& clsid;
    const wchar_t* progId;
    const wchar_t* description;
    HRESULT (*create)(REFIID iid, void** object);
};

struct ServerTable {
    const GUID& libId;
    WORD libMajor;
    WORD libMinor;
    std::span<const ClassRow> classes;
    // Runs at thread detach, and for every thread at process detach when the
    // library is unloaded; under the loader lock, so it frees memory only.
    void (*detach)(bool wholeProcess);
};

// Defined once by each DLL.
const ServerTable& serverTable();

HMODULE moduleHandle();
void objectCreated();
void objectDestroyed();

// Reference counting, the interfaces an automation object answers, and
// rich error information, shared by every class of ours. Extra: interfaces
// of its own beside the automation one (vtable only, no dispatch).
template <class Interface, class... Extra>
class AutomationObject : public DispatchImpl<Interface>, public ISupportErrorInfo, public Extra... {
public:
    AutomationObject() { objectCreated(); }
    virtual ~AutomationObject() { objectDestroyed(); }
    AutomationObject(const AutomationObject&) = delete;
    AutomationObject& operator=(const AutomationObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, __uuidof(Interface))) {
            *object = static_cast<Interface*>(this);
        } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
            *object = static_cast<ISupportErrorInfo*>(this);
        } else if (!((IsEqualIID(iid, __uuidof(Extra)) && (*object = static_cast<Extra*>(this))) || ...)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, __uuidof(Interface)) || (IsEqualIID(iid, __uuidof(Extra)) || ...) ? S_OK : S_FALSE;
    }

    // Runs after construction (createObject); a failure discards the object.
    virtual HRESULT initialise() { return S_OK; }

protected:
    // The boundary of Derived's published members: the object stays alive
    // for the call, and a failure carries source and the interface.
    template <class Body>
    HRESULT call(const wchar_t* source, Body&& body) noexcept {
        return callOn<Interface>(source, body);
    }
    // The same for a member of one of the Extra interfaces.
    template <class On, class Body>
    HRESULT callOn(const wchar_t* source, Body&& body) noexcept {
        const ComPtr<IUnknown> self(static_cast<Interface*>(this));
        return boundary(EntryPoint{source, &__uuidof(On)}, body);
    }

private:
    LONG refs_ = 1;
};

template <class T>
HRESULT createObject(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<T> instance = adopt(new (std::nothrow) T());
    if (!instance) return E_OUTOFMEMORY;
    const HRESULT hr = instance->initialise();
    if (FAILED(hr)) return hr;
    return instance->QueryInterface(iid, object);
}

}  // namespace comkit
