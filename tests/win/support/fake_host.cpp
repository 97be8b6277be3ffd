#include "fake_host.h"

#include "test_support.h"

namespace testsupport {

FakeHost::FakeHost(std::wstring product, std::wstring title, VARIANT major, VARIANT minor)
    : names_{L"ProductName", L"Title", L"Major", L"Minor"} {
    values_[L"ProductName"] = comkit::Variant::text(product);
    values_[L"Title"] = comkit::Variant::text(title);
    VariantCopy(values_[L"Major"].put(), &major);
    VariantCopy(values_[L"Minor"].put(), &minor);
}

FakeHost::~FakeHost() = default;

comkit::ComPtr<FakeHost> FakeHost::make(const std::wstring& product, const std::wstring& title, LONG major, LONG minor) {
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = b.vt = VT_I4;
    a.lVal = major;
    b.lVal = minor;
    return comkit::adopt(new FakeHost(product, title, a, b));
}

void FakeHost::set(const std::wstring& name, const VARIANT& value) {
    if (value.vt == VT_EMPTY) values_.erase(name);
    else VariantCopy(values_[name].put(), const_cast<VARIANT*>(&value));
}

STDMETHODIMP FakeHost::QueryInterface(REFIID iid, void** object) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeHost::Release() {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP FakeHost::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP FakeHost::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    ADD_FAILURE() << "the host's type information was asked for";
    return E_NOTIMPL;
}

STDMETHODIMP FakeHost::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    for (UINT i = 0; i < count; ++i) {
        const auto found = std::find_if(names_.begin(), names_.end(),
                                        [&](const std::wstring& n) { return _wcsicmp(n.c_str(), names[i]) == 0; });
        if (found == names_.end() || !values_.count(*found)) {
            ids[i] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        ids[i] = static_cast<DISPID>(found - names_.begin()) + 1;
    }
    return S_OK;
}

STDMETHODIMP FakeHost::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                              UINT*) {
    if (id < 1 || id > static_cast<DISPID>(names_.size()) || !(flags & DISPATCH_PROPERTYGET) ||
        (params && params->cArgs != 0)) {
        ADD_FAILURE() << "unexpected call on the host object: id " << id << " flags " << flags;
        return DISP_E_MEMBERNOTFOUND;
    }
    const std::wstring& name = names_[static_cast<size_t>(id - 1)];
    reads_.push_back(name);
    if (result) VariantCopy(result, values_[name].get());
    return S_OK;
}

}  // namespace testsupport
