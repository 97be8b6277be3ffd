#include "host_application.h"

#include "com_error.h"

#include <cmath>

namespace cardkeep {
namespace {

// The host's version parts must be whole numbers; they are written as
// plain decimals (Major 1 and Minor 0 give 1.0).
HRESULT wholeNumber(const comkit::Variant& value, const wchar_t* member, std::wstring& text) {
    VARIANT number;
    VariantInit(&number);
    HRESULT hr = VariantChangeType(&number, const_cast<VARIANT*>(value.get()), 0, VT_R8);
    const bool whole = SUCCEEDED(hr) && std::isfinite(number.dblVal) && std::floor(number.dblVal) == number.dblVal &&
                       std::fabs(number.dblVal) < 1e15;
    if (!whole)
        return comkit::fail(DISP_E_TYPEMISMATCH,
                            std::wstring(L"The host application's ") + member + L" is not a whole number.");
    text = std::to_wstring(static_cast<long long>(number.dblVal));
    return S_OK;
}

HRESULT memberText(outside::LateBound& app, const wchar_t* member, std::wstring& text) {
    comkit::Variant value;
    CK_RETURN_IF_FAILED(app.read(member, value));
    comkit::Bstr converted;
    if (FAILED(comkit::toText(*value.get(), converted)))
        return comkit::fail(DISP_E_TYPEMISMATCH, std::wstring(L"The host application's ") + member + L" is not text.");
    text.assign(converted.view());
    return S_OK;
}

// A product name or title is one folder of the chain under the root. A
// separator, a colon (a drive or a stream) or the names of this folder and
// its parent would put the wallet elsewhere, outside the root at worst, and
// a NUL would end the name early where the platform reads it.
HRESULT folderName(outside::LateBound& app, const wchar_t* member, std::wstring& text) {
    CK_RETURN_IF_FAILED(memberText(app, member, text));
    if (text == L"." || text == L".." || text.find_first_of(std::wstring_view(L"\\/:\0", 4)) != std::wstring::npos)
        return comkit::fail(E_INVALIDARG, std::wstring(L"The host application's ") + member +
                                              L" cannot name a folder of the wallet: it must not be \".\" or \"..\" "
                                              L"nor contain \\, / or :.");
    return S_OK;
}

}  // namespace

HRESULT applicationPath(outside::LateBound& app, int parts, std::wstring& path) {
    if (!app) return comkit::fail(E_POINTER, L"The wallet has no host application object (AppObject is not set).");
    std::wstring product, title, major, minor;
    CK_RETURN_IF_FAILED(folderName(app, L"ProductName", product));
    path = product;
    if (parts < 2) return S_OK;
    CK_RETURN_IF_FAILED(folderName(app, L"Title", title));
    path += L"\\" + title;
    if (parts < 3) return S_OK;
    comkit::Variant value;
    CK_RETURN_IF_FAILED(app.read(L"Major", value));
    CK_RETURN_IF_FAILED(wholeNumber(value, L"Major", major));
    CK_RETURN_IF_FAILED(app.read(L"Minor", value));
    CK_RETURN_IF_FAILED(wholeNumber(value, L"Minor", minor));
    path += L"\\" + major + L"." + minor;
    return S_OK;
}

}  // namespace cardkeep
