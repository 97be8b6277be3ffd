// A host application object for the tests: answers ProductName, Title,
// Major and Minor by name, records the order it was asked in, and fails the
// test on any other call.
#pragma once

#include "com_types.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace testsupport {

class FakeHost final : public IDispatch {
public:
    FakeHost(std::wstring product, std::wstring title, VARIANT major, VARIANT minor);
    static comkit::ComPtr<FakeHost> make(const std::wstring& product, const std::wstring& title, LONG major, LONG minor);

    // Replaces one member's value (a VT_EMPTY value removes the member).
    void set(const std::wstring& name, const VARIANT& value);
    std::vector<std::wstring> reads() const { return reads_; }
    void clearReads() { reads_.clear(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

private:
    ~FakeHost();
    LONG refs_ = 1;
    std::vector<std::wstring> names_;
    std::map<std::wstring, comkit::Variant> values_;
    std::vector<std::wstring> reads_;
};

}  // namespace testsupport
