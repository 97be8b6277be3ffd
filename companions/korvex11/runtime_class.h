#pragma once

#include "com_server.h"
#include "korvex11_h.h"

namespace korvex {

class RunTime final : public comkit::AutomationObject<_clsKorvex11RunTimeA> {
public:
    static constexpr const wchar_t* kProgId = L"KORVEX11.clsKorvex11RunTimeA";
    STDMETHODIMP EnvironGet(short mode, BSTR name, BSTR* value) override;
};

}  // namespace korvex
