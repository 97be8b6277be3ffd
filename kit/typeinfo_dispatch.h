// IDispatch served from the type library embedded in our own module, so
// names, named arguments and the vtable reach one member code.
#pragma once

#include "com_error.h"
#include "com_types.h"

#include <vector>

namespace comkit {

// The module's type information for one interface, loaded once per process
// and shared by every object. Released by DllCanUnloadNow when it answers
// S_OK (never at process detach: that runs under the loader lock).
//
// interfaceTypeInfo gives the half that ITypeInfo::Invoke calls through:
// for a dual interface its vtable half. describedTypeInfo gives what the
// type library declares, for a dual interface its dispatch half: properties
// and methods with their results, which late-bound tools read from
// IDispatch::GetTypeInfo (the vtable half is reachable from it through
// GetRefTypeOfImplType(-1)).
HRESULT interfaceTypeInfo(REFIID iid, ITypeInfo** info);
HRESULT describedTypeInfo(REFIID iid, ITypeInfo** info);
void releaseTypeInfoCache();

// Script hosts pass variables by reference as VT_BYREF|VT_VARIANT, which the
// type library's Invoke refuses for a typed by-reference parameter. Rewrites
// such arguments, for parameters that are not variants themselves, into the
// form Invoke accepts; the rewritten arguments still point at the caller's
// strings, so nothing has to be copied back.
class ScriptArguments {
public:
    ScriptArguments(ITypeInfo* info, DISPID member, WORD flags, const DISPPARAMS* params);
    DISPPARAMS* get() { return &params_; }

private:
    DISPPARAMS params_{};
    std::vector<VARIANT> args_;
};

HRESULT invokeWithTypeInfo(void* instance, REFIID iid, DISPID member, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                           UINT* argErr);

template <class Interface>
class DispatchImpl : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        return boundary([&] {
            if (!info) return E_POINTER;
            *info = nullptr;
            if (index != 0) return DISP_E_BADINDEX;
            return describedTypeInfo(__uuidof(Interface), info);
        });
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return boundary([&] {
            ComPtr<ITypeInfo> info;
            const HRESULT hr = interfaceTypeInfo(__uuidof(Interface), &info);
            if (FAILED(hr)) return hr;
            return info->GetIDsOfNames(names, count, ids);
        });
    }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        return boundary([&] {
            return invokeWithTypeInfo(static_cast<Interface*>(this), __uuidof(Interface), member,
                                      flags, params, result, excep, argErr);
        });
    }
};

}  // namespace comkit
