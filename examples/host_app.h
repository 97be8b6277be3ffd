// The application object a C++ host hands the wallet: an IDispatch that
// answers ProductName, Title, Major and Minor by name.
#pragma once

#include <windows.h>
#include <oleauto.h>

class HostApp final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IDispatch) return *out = nullptr, E_NOINTERFACE;
        *out = this;
        return AddRef(), S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const wchar_t* const members[] = {L"ProductName", L"Title", L"Major", L"Minor"};
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (int m = 0; m < 4; ++m)
                if (_wcsicmp(names[i], members[m]) == 0) ids[i] = m + 1;
            if (ids[i] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
        }
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!result) return S_OK;
        switch (id) {
        case 1: result->vt = VT_BSTR, result->bstrVal = SysAllocString(L"Notes"); return S_OK;
        case 2: result->vt = VT_BSTR, result->bstrVal = SysAllocString(L"Notes Desk"); return S_OK;
        case 3: result->vt = VT_I4, result->lVal = 1; return S_OK;
        case 4: result->vt = VT_I4, result->lVal = 4; return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    LONG refs_ = 1;
};
