// A cryptography component whose sealing quietly gives the empty text, for
// tests that check nothing is written when a value cannot be sealed. While
// an EmptySealerScope lives, objects created on this thread get it in place
// of the real component.
#pragma once

#include "com_types.h"

#include <gtest/gtest.h>

namespace testsupport {

class EmptySealer final : public IDispatch, public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) *object = static_cast<IDispatch*>(this);
        else if (IsEqualIID(iid, IID_IClassFactory)) *object = static_cast<IClassFactory*>(this);
        else return *object = nullptr, E_NOINTERFACE;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; i < count; ++i) ids[i] = 1;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (result) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(L"");
        }
        return S_OK;
    }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID iid, void** object) override { return QueryInterface(iid, object); }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

class EmptySealerScope {
public:
    EmptySealerScope() {
        static EmptySealer sealer;
        CLSID crypto{};
        EXPECT_EQ(S_OK, CLSIDFromProgID(L"KORVEX10.clsKorvexCryptographyC", &crypto));
        EXPECT_EQ(S_OK, CoRegisterClassObject(crypto, static_cast<IClassFactory*>(&sealer), CLSCTX_INPROC_SERVER,
                                              REGCLS_MULTIPLEUSE, &cookie_));
    }
    ~EmptySealerScope() { CoRevokeClassObject(cookie_); }
    EmptySealerScope(const EmptySealerScope&) = delete;
    EmptySealerScope& operator=(const EmptySealerScope&) = delete;

private:
    DWORD cookie_ = 0;
};

}  // namespace testsupport
