#include "ini_handler.h"

#include "fault_points.h"
#include "platform_text.h"
#include "win_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace korvex {
namespace {

using comkit::Bstr;
using comkit::fail;

using comkit::copyOut;
using comkit::view;

// Dates are stored as local time text that sorts and reads the same in
// every locale.
HRESULT dateText(DATE date, std::wstring& text) {
    SYSTEMTIME t{};
    if (!VariantTimeToSystemTime(date, &t)) return fail(E_INVALIDARG, L"The date is out of range.");
    wchar_t buffer[32];
    swprintf(buffer, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    text = buffer;
    return S_OK;
}

HRESULT valueText(const VARIANT& value, std::wstring& text) {
    const VARIANT* v = &value;
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    const VARTYPE type = v->vt & ~VT_BYREF;
    if (type == VT_DATE) return dateText((v->vt & VT_BYREF) ? *v->pdate : v->date, text);
    if ((v->vt & VT_ARRAY) || type == VT_DISPATCH || type == VT_UNKNOWN || type == VT_NULL || type == VT_ERROR)
        return fail(DISP_E_TYPEMISMATCH, L"A value must be text, a number, a date or a Boolean.");
    Bstr converted;
    CK_RETURN_IF_FAILED(comkit::toText(*v, converted));
    text.assign(converted.view());
    return S_OK;
}

// Stores a result into an argument passed by reference, whatever form the
// caller's variable takes (a variant, or a typed reference).
HRESULT assignOut(VARIANT* target, VARIANT& value) {
    if (!target) return E_POINTER;
    if (target->vt == (VT_BYREF | VT_VARIANT) && target->pvarVal) target = target->pvarVal;
    if (!(target->vt & VT_BYREF)) {
        VariantClear(target);
        *target = value;
        VariantInit(&value);
        return S_OK;
    }
    const VARTYPE type = target->vt & ~VT_BYREF;
    if ((type & VT_ARRAY) && (value.vt & VT_ARRAY) && type == value.vt) {
        if (*target->pparray) SafeArrayDestroy(*target->pparray);
        *target->pparray = value.parray;
        VariantInit(&value);
        return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = (type & VT_ARRAY) ? DISP_E_TYPEMISMATCH : VariantChangeType(&converted, &value, 0, type);
    if (FAILED(hr)) return fail(hr, L"The result cannot be stored in the variable passed.");
    switch (type) {
    case VT_I4: *target->plVal = converted.lVal; break;
    case VT_I2: *target->piVal = converted.iVal; break;
    case VT_R8: *target->pdblVal = converted.dblVal; break;
    case VT_BSTR:
        SysFreeString(*target->pbstrVal);
        *target->pbstrVal = converted.bstrVal;
        VariantInit(&converted);
        break;
    default:
        VariantClear(&converted);
        return fail(DISP_E_TYPEMISMATCH, L"The result cannot be stored in the variable passed.");
    }
    return S_OK;
}

// Names at indices 1 through the upper bound, as automation callers count.
HRESULT nameList(const std::vector<std::u16string>& names, VARIANT& list) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(names.size() + 1), 0};
    comkit::SafeArray array(SafeArrayCreate(VT_VARIANT, 1, &bound));
    if (!array.get()) return fail(E_OUTOFMEMORY, L"Out of memory.");
    VARIANT* items = nullptr;
    HRESULT hr = SafeArrayAccessData(array.get(), reinterpret_cast<void**>(&items));
    if (FAILED(hr)) return fail(hr, L"The list cannot be filled.");
    for (size_t i = 0; i < names.size(); ++i) {
        const std::wstring_view name = ini::wide(names[i]);
        items[i + 1].vt = VT_BSTR;
        items[i + 1].bstrVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    }
    SafeArrayUnaccessData(array.get());
    VariantInit(&list);
    list.vt = VT_ARRAY | VT_VARIANT;
    list.parray = array.detach();
    return S_OK;
}

// The texts of a one-dimensional array of strings, in order.
HRESULT textsOf(SAFEARRAY* array, std::vector<std::wstring>& texts) {
    VARTYPE type = VT_EMPTY;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &type)) || type != VT_BSTR)
        return fail(E_INVALIDARG, L"SetValues takes its keys and values as lists of texts.");
    LONG lower = 0, upper = -1;
    CK_RETURN_IF_FAILED(SafeArrayGetLBound(array, 1, &lower));
    CK_RETURN_IF_FAILED(SafeArrayGetUBound(array, 1, &upper));
    BSTR* items = nullptr;
    CK_RETURN_IF_FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&items)));
    for (LONG i = 0; i + lower <= upper; ++i) texts.emplace_back(view(items[i]));
    SafeArrayUnaccessData(array);
    return S_OK;
}

}  // namespace

HRESULT IniFileHandler::requireFile() const {
    if (!files_.empty()) return S_OK;
    return fail(E_UNEXPECTED, L"The INI file's Path must be assigned before it is used.");
}

HRESULT IniFileHandler::setPath(BSTR path) {
    const std::wstring given(view(path));
    if (given.empty() || given.find(L'\0') != std::wstring::npos)
        return fail(E_INVALIDARG, L"The INI file's Path must be a file name.");
    std::wstring full = comkit::copiedText(
        [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(given.c_str(), size, buffer, nullptr); });
    if (full.empty()) return fail(HRESULT_FROM_WIN32(GetLastError()), L"The path " + given + L" is not valid.");
    const auto found =
        std::find_if(files_.begin(), files_.end(), [&](const auto& file) { return file->path() == full; });
    if (!files_.empty() && found == files_.begin()) return S_OK;
    if (!files_.empty()) file().setAside();
    if (found != files_.end()) std::rotate(files_.begin(), found, found + 1);
    else files_.insert(files_.begin(), std::make_unique<ini::IniFile>(std::move(full)));
    ULONGLONG others = 0;
    size_t kept = 1;
    for (; kept < files_.size() && kept < kKeptFiles; ++kept) {
        others += files_[kept]->heldBytes();
        if (others > kKeptBytes) break;
    }
    files_.resize(kept);
    return S_OK;
}

HRESULT IniFileHandler::readName(const std::wstring& name, BSTR* out) const {
    if (out) *out = nullptr;
    CK_RETURN_IF_FAILED(requireFile());
    return copyOut(name, out);
}

HRESULT IniFileHandler::assignName(std::wstring& name, BSTR given) {
    CK_RETURN_IF_FAILED(requireFile());
    name.assign(view(given));
    return S_OK;
}

HRESULT IniFileHandler::readValue(VARIANT* value) {
    CK_RETURN_IF_FAILED(requireFile());
    CK_FAULT_POINT(L"Value");
    std::u16string text;
    CK_RETURN_IF_FAILED(file().read(ini::u16(section_), ini::u16(key_), text));
    const std::wstring_view wide = ini::wide(text);
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return S_OK;
}

HRESULT IniFileHandler::writeValue(const VARIANT& value) {
    CK_RETURN_IF_FAILED(requireFile());
    std::wstring text;
    CK_RETURN_IF_FAILED(valueText(value, text));
    return file().write(ini::u16(section_), ini::u16(key_), ini::u16(text));
}

HRESULT IniFileHandler::setValues(BSTR section, SAFEARRAY* keys, SAFEARRAY* values) {
    CK_RETURN_IF_FAILED(requireFile());
    std::vector<std::wstring> keyTexts, valueTexts;
    CK_RETURN_IF_FAILED(textsOf(keys, keyTexts));
    CK_RETURN_IF_FAILED(textsOf(values, valueTexts));
    if (keyTexts.size() != valueTexts.size()) return fail(E_INVALIDARG, L"SetValues takes one value for each key.");
    std::vector<ini::KeyChange> changes;
    for (size_t i = 0; i < keyTexts.size(); ++i) changes.push_back({ini::u16(keyTexts[i]), ini::u16(valueTexts[i])});
    return file().write(ini::u16(view(section)), changes);
}

HRESULT IniFileHandler::enumerate(bool allSections, VARIANT* list, VARIANT* count) {
    if (!list || !count) return E_POINTER;
    CK_RETURN_IF_FAILED(requireFile());
    std::vector<std::u16string> names;
    if (allSections) CK_RETURN_IF_FAILED(file().sections(names));
    else CK_RETURN_IF_FAILED(file().keys(ini::u16(section_), names));
    VARIANT array;
    CK_RETURN_IF_FAILED(nameList(names, array));
    comkit::Variant arrayOwner;
    *arrayOwner.put() = array;
    comkit::Variant number;
    number.get()->vt = VT_I4;
    number.get()->lVal = static_cast<LONG>(names.size());
    CK_RETURN_IF_FAILED(assignOut(list, *arrayOwner.get()));
    return assignOut(count, *number.get());
}

STDMETHODIMP IniFileHandler::get_Path(BSTR* path) {
    return call(kProgId, [&] { return copyOut(files_.empty() ? std::wstring() : file().path(), path); });
}
STDMETHODIMP IniFileHandler::put_Path(BSTR path) {
    return call(kProgId, [&] { return setPath(path); });
}
// Assigning a section or key only moves the cursor; names are checked when
// a value is written, so reading a name the file cannot hold just finds nothing.
STDMETHODIMP IniFileHandler::get_Section(BSTR* section) {
    return call(kProgId, [&] { return readName(section_, section); });
}
STDMETHODIMP IniFileHandler::put_Section(BSTR section) {
    return call(kProgId, [&] { return assignName(section_, section); });
}
STDMETHODIMP IniFileHandler::get_Key(BSTR* key) {
    return call(kProgId, [&] { return readName(key_, key); });
}
STDMETHODIMP IniFileHandler::put_Key(BSTR key) {
    return call(kProgId, [&] { return assignName(key_, key); });
}
STDMETHODIMP IniFileHandler::get_Value(VARIANT* value) {
    return call(kProgId, [&] {
        if (!value) return E_POINTER;
        VariantInit(value);
        return readValue(value);
    });
}
STDMETHODIMP IniFileHandler::put_Value(VARIANT value) {
    return call(kProgId, [&] { return writeValue(value); });
}
STDMETHODIMP IniFileHandler::EnumerateAllSections(VARIANT* list, VARIANT* count) {
    return call(kProgId, [&] { return enumerate(true, list, count); });
}
STDMETHODIMP IniFileHandler::EnumerateCurrentSection(VARIANT* list, VARIANT* count) {
    return call(kProgId, [&] { return enumerate(false, list, count); });
}
STDMETHODIMP IniFileHandler::SetValues(BSTR sSection, SAFEARRAY* saKeys, SAFEARRAY* saValues) {
    return callOn<IKorvexIniChanges>(kProgId, [&] { return setValues(sSection, saKeys, saValues); });
}

}  // namespace korvex
