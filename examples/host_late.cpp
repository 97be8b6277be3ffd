// A C++ host of cardkeep, late bound: created by its ProgID and called by
// member name through IDispatch, as a script host does.
#include "host_app.h"

#include <cstdio>

// Calls a member by name with arguments in their natural order.
static HRESULT call(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* args, UINT count,
                    VARIANT* result) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT reversed[3];
    for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed, flags & DISPATCH_PROPERTYPUTREF ? &put : nullptr, count,
                      flags & DISPATCH_PROPERTYPUTREF ? 1u : 0u};
    EXCEPINFO error{};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &error, nullptr);
    if (hr == DISP_E_EXCEPTION) {
        std::printf("error: %ls: %ls\n", error.bstrSource, error.bstrDescription);
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrHelpFile);
    }
    return hr;
}

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid;
    IDispatch* wallet = nullptr;
    HRESULT hr = CLSIDFromProgID(L"cardkeep.clsWALLETA", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&wallet));
    if (FAILED(hr)) return std::printf("cannot create the wallet: 0x%08lx\n", hr), 1;

    VARIANT app;
    app.vt = VT_DISPATCH;
    app.pdispVal = new HostApp();
    call(wallet, L"AppObject", DISPATCH_PROPERTYPUTREF, &app, 1, nullptr);  // opens the wallet
    VariantClear(&app);

    // The parameters are strings by reference: each call gets the host's own
    // variables, as a script passes them.
    BSTR pocket = SysAllocString(L"Bank"), card = SysAllocString(L"PIN"), info = SysAllocString(L"1234");
    VARIANT args[3];
    BSTR* vars[3] = {&pocket, &card, &info};
    for (int i = 0; i < 3; ++i) args[i].vt = VT_BYREF | VT_BSTR, args[i].pbstrVal = vars[i];
    VARIANT result;
    VariantInit(&result);
    call(wallet, L"SetCard", DISPATCH_METHOD, args, 3, &result);
    VariantClear(&result);
    call(wallet, L"GetCard", DISPATCH_METHOD, args, 2, &result);
    std::printf("PIN: %ls\n", result.bstrVal);
    VariantClear(&result);

    SysReAllocString(&pocket, L"no ] allowed");
    call(wallet, L"SetCard", DISPATCH_METHOD, args, 3, &result);  // prints the error

    SysFreeString(info);
    SysFreeString(card);
    SysFreeString(pocket);
    wallet->Release();
    CoUninitialize();
    return 0;
}
