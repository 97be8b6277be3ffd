#include "late_bound.h"

#include "com_error.h"

#include <dispex.h>

#include <type_traits>
#include <vector>

namespace outside {

using comkit::ComPtr;
using comkit::fail;

HRESULT create(const wchar_t* progId, ComPtr<IDispatch>& object) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        const std::wstring reason = comkit::takeErrorInfo().description;
        std::wstring text = L"The component " + std::wstring(progId) + L" cannot be created";
        text += reason.empty() ? L"." : L": " + reason;
        return fail(hr, text);
    }
    return S_OK;
}

HRESULT LateBound::id(const wchar_t* name, DISPID& dispid) {
    if (!object_) return fail(E_POINTER, std::wstring(L"There is no object to call ") + name + L" on.");
    if (auto found = ids_.find(name); found != ids_.end()) {
        dispid = found->second;
        return S_OK;
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) {
        // Script objects may answer names only through IDispatchEx.
        ComPtr<IDispatchEx> ex;
        if (SUCCEEDED(object_.As(&ex))) {
            comkit::Bstr wanted(name);
            const HRESULT exHr = ex->GetDispID(wanted.get(), fdexNameCaseInsensitive, &dispid);
            if (SUCCEEDED(exHr)) hr = exHr;
        }
    }
    if (FAILED(hr)) return fail(hr, std::wstring(L"The object has no member named ") + name + L".");
    ids_.emplace(name, dispid);
    return S_OK;
}

HRESULT LateBound::invoke(const wchar_t* name, WORD flags, DISPPARAMS& params, VARIANT* result) {
    DISPID dispid = DISPID_UNKNOWN;
    CK_RETURN_IF_FAILED(id(name, dispid));
    EXCEPINFO excep{};
    UINT argErr = 0;
    HRESULT hr = object_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr);
    if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_PROPERTYGET) {
        // A script's Function will not be read as a property, and a JScript
        // property will not be called: ask for either.
        hr = object_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                             &params, result, &excep, &argErr);
    }
    if (hr == DISP_E_EXCEPTION) {
        if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
        comkit::Bstr description, source, help;
        *description.put() = excep.bstrDescription;
        *source.put() = excep.bstrSource;
        *help.put() = excep.bstrHelpFile;
        hr = excep.scode ? excep.scode : (excep.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, excep.wCode) : E_FAIL);
        if (description.length()) return fail(hr, description.view());
        return comkit::passOn(hr);
    }
    if (FAILED(hr)) return comkit::passOn(hr);
    return S_OK;
}

HRESULT LateBound::read(const wchar_t* name, comkit::Variant& result) {
    DISPPARAMS none{};
    return invoke(name, DISPATCH_PROPERTYGET, none, result.put());
}

HRESULT LateBound::assign(const wchar_t* name, const VARIANT& value) {
    VARIANT arg = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    const bool object = value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN;
    return invoke(name, object ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, params, nullptr);
}

HRESULT LateBound::assignText(const wchar_t* name, std::wstring_view text) {
    comkit::Variant value = comkit::Variant::text(text);
    return assign(name, *value.get());
}

HRESULT LateBound::call(const wchar_t* name, std::initializer_list<VARIANT> args, comkit::Variant& result) {
    // Each argument goes as a copy of its own. For an [in, out] parameter
    // given by value, the platform's type-library dispatch frees the value
    // in the argument list and leaves another there: had that been the
    // caller's own string, the caller would free it a second time. A copy
    // of a by-reference argument is the same reference, so the callee still
    // writes to the caller's variable.
    static_assert(sizeof(comkit::Variant) == sizeof(VARIANT) && std::is_standard_layout_v<comkit::Variant>);
    std::vector<comkit::Variant> reversed(args.size());
    size_t at = reversed.size();
    for (const VARIANT& arg : args) {
        const HRESULT copied = VariantCopy(reversed[--at].put(), const_cast<VARIANT*>(&arg));
        if (FAILED(copied)) return fail(copied, L"An argument cannot be copied.");
    }
    DISPPARAMS params{reinterpret_cast<VARIANT*>(reversed.data()), nullptr, static_cast<UINT>(reversed.size()), 0};
    return invoke(name, DISPATCH_METHOD, params, result.put());
}

}  // namespace outside
