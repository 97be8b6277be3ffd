// A C++ host of cardkeep, early bound through the header widl makes from
// the library's IDL (cardkeep_h.h, with the GUIDs in cardkeep_i.c).
#include "cardkeep_h.h"
#include "host_app.h"

#include <cstdio>

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    _clsWALLETA* wallet = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA,
                                  reinterpret_cast<void**>(&wallet));
    if (FAILED(hr)) return std::printf("cannot create the wallet: 0x%08lx\n", hr), 1;

    HostApp* app = new HostApp();
    hr = wallet->putref_AppObject(app);  // opens (or creates) the wallet
    app->Release();

    BSTR pocket = SysAllocString(L"Bank"), card = SysAllocString(L"PIN"), info = SysAllocString(L"1234");
    LONG stored = 0;
    BSTR back = nullptr;
    if (SUCCEEDED(hr)) hr = wallet->SetCard(&pocket, &card, &info, &stored);
    if (SUCCEEDED(hr)) hr = wallet->GetCard(&pocket, &card, &back);
    if (SUCCEEDED(hr)) std::printf("PIN: %ls (SetCard returned %ld)\n", back, stored);

    // A failure carries its description in the thread's error object.
    SysReAllocString(&pocket, L"no ] allowed");
    hr = wallet->SetCard(&pocket, &card, &info, &stored);
    IErrorInfo* error = nullptr;
    BSTR description = nullptr;
    if (FAILED(hr) && GetErrorInfo(0, &error) == S_OK) {
        error->GetDescription(&description);
        std::printf("error: %ls\n", description);
        error->Release();
    }

    SysFreeString(description);
    SysFreeString(back);
    SysFreeString(info);
    SysFreeString(card);
    SysFreeString(pocket);
    wallet->Release();
    CoUninitialize();
    return 0;
}
