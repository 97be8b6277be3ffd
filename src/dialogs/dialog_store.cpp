#include "dialog_store.h"

#include "com_error.h"
#include "sealing.h"
#include "ini_cursor.h"

#include <algorithm>

namespace cardkeep::dialogs {
using comkit::byRef;

HRESULT readOpened(outside::LateBound& ini, std::wstring& plain) {
    comkit::Bstr sealed;
    CK_RETURN_IF_FAILED(readText(ini, sealed));
    const comkit::Bstr opened = store::open(comkit::BstrRef(sealed));
    plain.assign(opened.view());
    return S_OK;
}

HRESULT sealForWriting(std::wstring_view plain, comkit::Bstr& sealed) {
    comkit::Bstr text(plain);
    if (!text.get() && !plain.empty()) return comkit::fail(E_OUTOFMEMORY, L"Out of memory.");
    sealed = store::seal(comkit::BstrRef(text));
    if (sealed.length() == 0 && !plain.empty())
        return comkit::fail(NTE_FAIL, L"A value could not be sealed, so nothing was written.");
    return S_OK;
}

HRESULT enumerateNames(outside::LateBound& ini, const wchar_t* member, std::vector<std::wstring>& names) {
    names.clear();
    comkit::Variant list;
    comkit::Variant count;
    count.get()->vt = VT_I4;
    count.get()->lVal = 0;
    comkit::Variant ignored;
    CK_RETURN_IF_FAILED(ini.call(member, {byRef(list), byRef(count)}, ignored));

    comkit::Variant number;
    HRESULT hr = VariantChangeType(number.get(), count.get(), 0, VT_I4);
    if (FAILED(hr)) return comkit::fail(hr, L"The INI file component gave a count that is not a number.");
    if (number.get()->lVal == 0) return S_OK;  // the list is not looked at

    const VARIANT* value = list.get();
    while (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal) value = value->pvarVal;
    SAFEARRAY* array = (value->vt & VT_BYREF) ? (value->pparray ? *value->pparray : nullptr) : value->parray;
    if (!(value->vt & VT_ARRAY) || !array || SafeArrayGetDim(array) != 1)
        return comkit::fail(DISP_E_TYPEMISMATCH, L"The INI file component gave a list that is not a list of names.");
    VARTYPE elementType = VT_EMPTY;
    CK_RETURN_IF_FAILED(SafeArrayGetVartype(array, &elementType));
    LONG lower = 0, upper = 0;
    CK_RETURN_IF_FAILED(SafeArrayGetLBound(array, 1, &lower));
    CK_RETURN_IF_FAILED(SafeArrayGetUBound(array, 1, &upper));
    for (LONG index = std::max<LONG>(1, lower); index <= upper; ++index) {
        comkit::Variant element;
        if (elementType == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &index, element.get());
        } else if (elementType == VT_BSTR) {
            BSTR name = nullptr;
            hr = SafeArrayGetElement(array, &index, &name);
            if (SUCCEEDED(hr)) {
                element.get()->vt = VT_BSTR;
                element.get()->bstrVal = name;
            }
        } else {
            hr = DISP_E_TYPEMISMATCH;
        }
        if (FAILED(hr)) return comkit::fail(hr, L"A name in the INI file component's list cannot be read.");
        comkit::Bstr name;
        CK_RETURN_IF_FAILED(comkit::toText(*element.get(), name));
        names.emplace_back(name.view());
    }
    return S_OK;
}

}  // namespace cardkeep::dialogs
