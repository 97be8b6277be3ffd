#pragma once

#include "com_server.h"
#include "ini_file.h"
#include "korvex10_h.h"

#include <memory>
#include <string>
#include <vector>

namespace korvex {

// A cursor over one INI file: Path, Section and Key stay as assigned, and
// Value reads or writes the entry they name. SetValues, beside them, writes
// several keys of one section at once without moving the cursor.
//
// The files Path named before stay parsed, up to a limit: a host with
// several wallets on one thread moves the one cursor between them, and a
// file read again and parsed on every move costs what a lookup costs
// thousands of times over. Each kept file is checked against the disk on
// every access, as the current one is.
class IniFileHandler final : public comkit::AutomationObject<_clsKorvexINIFileHandler1A, IKorvexIniChanges> {
public:
    static constexpr const wchar_t* kProgId = L"KORVEX10.clsKorvexINIFileHandler1A";

    STDMETHODIMP get_Path(BSTR* path) override;
    STDMETHODIMP put_Path(BSTR path) override;
    STDMETHODIMP get_Section(BSTR* section) override;
    STDMETHODIMP put_Section(BSTR section) override;
    STDMETHODIMP get_Key(BSTR* key) override;
    STDMETHODIMP put_Key(BSTR key) override;
    STDMETHODIMP get_Value(VARIANT* value) override;
    STDMETHODIMP put_Value(VARIANT value) override;
    STDMETHODIMP EnumerateAllSections(VARIANT* list, VARIANT* count) override;
    STDMETHODIMP EnumerateCurrentSection(VARIANT* list, VARIANT* count) override;
    STDMETHODIMP SetValues(BSTR sSection, SAFEARRAY* saKeys, SAFEARRAY* saValues) override;

private:
    // The most files kept, the current one among them, and the most bytes
    // (as on disk) of the others together.
    static constexpr size_t kKeptFiles = 16;
    static constexpr ULONGLONG kKeptBytes = 256ull << 20;

    HRESULT requireFile() const;
    ini::IniFile& file() const { return *files_.front(); }
    HRESULT setPath(BSTR path);
    HRESULT readName(const std::wstring& name, BSTR* out) const;
    HRESULT assignName(std::wstring& name, BSTR given);
    HRESULT readValue(VARIANT* value);
    HRESULT writeValue(const VARIANT& value);
    HRESULT enumerate(bool allSections, VARIANT* list, VARIANT* count);
    HRESULT setValues(BSTR section, SAFEARRAY* keys, SAFEARRAY* values);

    std::vector<std::unique_ptr<ini::IniFile>> files_;  // the current one first, then the last used
    std::wstring section_;
    std::wstring key_;
};

}  // namespace korvex
