// The host application object a benchmark hands the wallet: the four
// members the wallet asks for (ProductName, Title, Major, Minor), answered
// from fixed values.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cwchar>
#include <string>

class BenchHost final : public IDispatch {
public:
    BenchHost(std::wstring product, std::wstring title, LONG major, LONG minor)
        : product_(std::move(product)), title_(std::move(title)), major_(major), minor_(minor) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const wchar_t* const members[] = {L"ProductName", L"Title", L"Major", L"Minor"};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (int m = 0; m < 4; ++m)
                if (_wcsicmp(names[i], members[m]) == 0) ids[i] = m + 1;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!result) return E_POINTER;
        VariantInit(result);
        switch (id) {
        case 1: result->vt = VT_BSTR; result->bstrVal = SysAllocString(product_.c_str()); return S_OK;
        case 2: result->vt = VT_BSTR; result->bstrVal = SysAllocString(title_.c_str()); return S_OK;
        case 3: result->vt = VT_I4; result->lVal = major_; return S_OK;
        case 4: result->vt = VT_I4; result->lVal = minor_; return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    ~BenchHost() = default;
    const std::wstring product_, title_;
    const LONG major_, minor_;
    LONG refs_ = 1;
};
