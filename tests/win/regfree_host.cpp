// A host of cardkeep that nothing registered for: regfree.sh runs it in a
// prefix where none of our classes, ProgIDs or type libraries is in the
// registry, from a folder holding the unpacked zip.
//
//   regfree_host manifest           its own manifest (regfree_host.exe.manifest)
//                                   names the cardkeep assembly
//   regfree_host actctx MANIFEST    no manifest of its own: an activation context
//                                   made from the assembly manifest, as a plugin does
//   regfree_host none               neither
//
// It finds the wallet's class by its ProgID, creates every class of the
// three DLLs by its ProgID, finds each one's type library by identifier and
// version (LoadRegTypeLib, as a host that reads a library's types does),
// stores a card, reads it back, and reads it again from a thread in another
// apartment (through a proxy of the wallet's interface). It prints what it
// found and did.
// Exit code: 0 all done; 2 neither the wallet's ProgID nor its CLSID is
// known; 1 any other failure.
#include "cardkeep_h.h"
#include "com_types.h"
#include "host_app.h"

#include <cstdio>
#include <string>
#include <utility>

namespace {

using comkit::Bstr;
using comkit::ComPtr;

constexpr wchar_t kWalletProgId[] = L"cardkeep.clsWALLETA";
// The wallet makes these three itself as soon as it is created.
constexpr const wchar_t* kCompanionProgIds[] = {L"KORVEX11.clsKorvex11RunTimeA",
                                                L"KORVEX10.clsKorvexINIFileHandler1A",
                                                L"KORVEX10.clsKorvexCryptographyC"};
constexpr int kDone = 0, kFailed = 1, kNoClass = 2;

struct ActCtxHandle {
    static constexpr HANDLE none = nullptr;
    static bool valid(HANDLE value) { return value != INVALID_HANDLE_VALUE && value != nullptr; }
    static void release(HANDLE value) { ReleaseActCtx(value); }
};
using ActCtx = comkit::Owned<HANDLE, ActCtxHandle>;

// Keeps an activation context active on this thread while it lives.
class Activation : comkit::NoCopy {
public:
    explicit Activation(HANDLE context) { active_ = ActivateActCtx(context, &cookie_); }
    ~Activation() {
        if (active_) DeactivateActCtx(0, cookie_);
    }
    bool active() const { return active_; }

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

class ComApartment : comkit::NoCopy {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }

private:
    HRESULT hr_;
};

bool failed(HRESULT hr, const wchar_t* what) {
    if (SUCCEEDED(hr)) return false;
    std::wprintf(L"FAIL: %ls: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    return true;
}

// The object's own type library (from its type information) found again by
// its identifier and version, as registration or a manifest publishes it.
bool typeLibFound(IDispatch* object, const wchar_t* progId) {
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> own;
    UINT index = 0;
    if (failed(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), progId) ||
        failed(info->GetContainingTypeLib(&own, &index), progId))
        return false;
    TLIBATTR* attr = nullptr;
    if (failed(own->GetLibAttr(&attr), progId)) return false;
    const GUID libId = attr->guid;
    const WORD major = attr->wMajorVerNum, minor = attr->wMinorVerNum;
    own->ReleaseTLibAttr(attr);
    ComPtr<ITypeLib> found;
    const HRESULT hr = LoadRegTypeLib(libId, major, minor, LOCALE_NEUTRAL, &found);
    std::wprintf(L"type library of %ls, %u.%u: %ls (0x%08lx)\n", progId, major, minor,
                 SUCCEEDED(hr) ? L"found" : L"not found", static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

bool createdWithTypeLib(const wchar_t* progId) {
    CLSID clsid{};
    ComPtr<IDispatch> object;
    if (failed(CLSIDFromProgID(progId, &clsid), progId) ||
        failed(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)), progId))
        return false;
    return typeLibFound(object.Get(), progId);
}

// A worker thread of the host, in the multithreaded apartment, reads the
// card through a proxy of the wallet's interface: the proxy is found
// through the interface's entry, registered or in the manifest.
struct WorkerCall {
    IStream* marshalled = nullptr;  // released by the unmarshalling
    HRESULT hr = E_FAIL;
    Bstr card;
};

DWORD WINAPI readCardInWorker(void* parameter) {
    auto& call = *static_cast<WorkerCall*>(parameter);
    call.hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(call.hr)) return 0;
    {
        ComPtr<_clsWALLETA> proxy;
        call.hr = CoGetInterfaceAndReleaseStream(std::exchange(call.marshalled, nullptr), IID__clsWALLETA, &proxy);
        comkit::Variant pocket = comkit::Variant::text(L"Bank"), card = comkit::Variant::text(L"PIN");
        if (SUCCEEDED(call.hr)) call.hr = proxy->GetCard(&pocket.get()->bstrVal, &card.get()->bstrVal, call.card.put());
    }
    CoUninitialize();
    return 0;
}

bool readFromWorker(_clsWALLETA* wallet) {
    WorkerCall call;
    if (failed(CoMarshalInterThreadInterfaceInStream(IID__clsWALLETA, wallet, &call.marshalled), L"marshalling"))
        return false;
    comkit::UniqueHandle thread(CreateThread(nullptr, 0, readCardInWorker, &call, 0, nullptr));
    if (!thread) return std::wprintf(L"FAIL: CreateThread: error %lu\n", GetLastError()), false;
    // This apartment serves the worker's calls while it waits.
    HANDLE handles[] = {thread.get()};
    DWORD index = 0;
    if (failed(CoWaitForMultipleHandles(0, INFINITE, 1, handles, &index), L"waiting for the worker")) return false;
    if (call.marshalled) call.marshalled->Release();
    if (failed(call.hr, L"GetCard from another apartment")) return false;
    std::wprintf(L"GetCard from another apartment: %ls\n", call.card.get() ? call.card.get() : L"");
    return call.card.view() == L"1234";
}

int useWallet() {
    CLSID clsid{};
    const HRESULT hr = CLSIDFromProgID(kWalletProgId, &clsid);
    if (FAILED(hr)) {
        std::wprintf(L"no class %ls: 0x%08lx\n", kWalletProgId, static_cast<unsigned long>(hr));
        ComPtr<IUnknown> object;
        const HRESULT created =
            CoCreateInstance(CLSID_clsWALLETA, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
        std::wprintf(L"by its CLSID: 0x%08lx\n", static_cast<unsigned long>(created));
        return SUCCEEDED(created) ? kFailed : kNoClass;
    }
    bool ok = createdWithTypeLib(kWalletProgId);
    for (const wchar_t* progId : kCompanionProgIds) ok = createdWithTypeLib(progId) && ok;

    ComPtr<_clsWALLETA> wallet;
    if (failed(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__clsWALLETA, &wallet), L"the wallet"))
        return kFailed;
    ComPtr<IDispatch> app = comkit::adopt<IDispatch>(new HostApp());
    if (failed(wallet->putref_AppObject(app.Get()), L"AppObject")) return kFailed;
    // The parameters are the host's string variables, passed by reference.
    comkit::Variant pocket = comkit::Variant::text(L"Bank"), card = comkit::Variant::text(L"PIN"),
                    info = comkit::Variant::text(L"1234");
    LONG stored = 0;
    Bstr back;
    if (failed(wallet->SetCard(&pocket.get()->bstrVal, &card.get()->bstrVal, &info.get()->bstrVal, &stored),
               L"SetCard") ||
        failed(wallet->GetCard(&pocket.get()->bstrVal, &card.get()->bstrVal, back.put()), L"GetCard"))
        return kFailed;
    std::wprintf(L"SetCard returned %ld, GetCard: %ls\n", stored, back.get() ? back.get() : L"");
    ok = ok && stored == 1 && back.view() == L"1234";
    ok = readFromWorker(wallet.Get()) && ok;
    return ok ? kDone : kFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!(mode == L"manifest" || mode == L"none" || (mode == L"actctx" && argc > 2))) {
        std::fwprintf(stderr, L"usage: regfree_host manifest | actctx ASSEMBLY-MANIFEST | none\n");
        return kFailed;
    }
    ComApartment apartment;
    if (mode != L"actctx") return useWallet();

    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.lpSource = argv[2];
    ActCtx context(CreateActCtxW(&request));
    if (!context) {
        std::wprintf(L"FAIL: CreateActCtxW(%ls): error %lu\n", argv[2], GetLastError());
        return kFailed;
    }
    Activation activation(context.get());
    if (!activation.active()) {
        std::wprintf(L"FAIL: ActivateActCtx: error %lu\n", GetLastError());
        return kFailed;
    }
    return useWallet();
}
