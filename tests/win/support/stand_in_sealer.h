// Stand-ins for the cryptography component, for tests of what the wallet
// does with what the component gives back. While a SealerScope lives,
// cryptography components created on this thread are the stand-in.
#pragma once

#include "com_types.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// Encrypt and Decrypt, each taking the text, the key and the flag; a
// stand-in says what one call gives back.
class StandInSealer : public IDispatch, public IClassFactory {
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
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; i < count; ++i) {
            const std::wstring name = names[i];
            ids[i] = name == L"Encrypt" ? kEncrypt : name == L"Decrypt" ? kDecrypt : DISPID_UNKNOWN;
            if (ids[i] == DISPID_UNKNOWN) {
                ADD_FAILURE() << "the cryptography stand-in was asked for another member";
                return DISP_E_UNKNOWNNAME;
            }
        }
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (!params || params->cArgs != 3 || !result) {
            ADD_FAILURE() << "the cryptography stand-in was called without its three arguments";
            return DISP_E_BADPARAMCOUNT;
        }
        const std::wstring text = answer(id == kEncrypt, params->rgvarg);
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return S_OK;
    }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID iid, void** object) override { return QueryInterface(iid, object); }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

protected:
    // args in the order of DISPPARAMS: the flag first, the text last.
    virtual std::wstring answer(bool sealing, VARIANT* args) = 0;

private:
    static constexpr DISPID kEncrypt = 1, kDecrypt = 2;
};

// Sealing and opening quietly give the empty text, as a component that
// cannot seal anything would.
class EmptySealer final : public StandInSealer {
protected:
    std::wstring answer(bool, VARIANT*) override { return {}; }
};

// Frees every string it receives by reference and leaves a new one with the
// same text in its place, as the contract allows. Sealing prefixes "r:",
// opening takes it off again.
class ReplacingSealer final : public StandInSealer {
public:
    // How many strings it has freed and replaced.
    int replaced() const { return replaced_; }

protected:
    std::wstring answer(bool sealing, VARIANT* args) override {
        std::wstring text;
        for (UINT i = 0; i < 3; ++i) {
            VARIANT& arg = args[i];
            if (arg.vt != (VT_BYREF | VT_BSTR)) continue;
            const std::wstring value(comkit::view(*arg.pbstrVal));
            if (i == 2) text = value;
            SysFreeString(*arg.pbstrVal);
            *arg.pbstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
            ++replaced_;
        }
        if (sealing) return L"r:" + text;
        return text.rfind(L"r:", 0) == 0 ? text.substr(2) : std::wstring();
    }

private:
    int replaced_ = 0;
};

// While it lives, cryptography components created on this thread are sealer.
class SealerScope : comkit::NoCopy {
public:
    explicit SealerScope(IClassFactory* sealer) {
        CLSID crypto{};
        EXPECT_EQ(S_OK, CLSIDFromProgID(L"KORVEX10.clsKorvexCryptographyC", &crypto));
        EXPECT_EQ(S_OK, CoRegisterClassObject(crypto, sealer, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_));
    }
    ~SealerScope() { CoRevokeClassObject(cookie_); }

private:
    DWORD cookie_ = 0;
};

}  // namespace testsupport
