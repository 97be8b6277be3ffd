#include "com_server.h"

#include "platform_text.h"

#include <string>

namespace comkit {
namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassRow& row) : row_(row) { objectCreated(); }
    ~ClassFactory() { objectDestroyed(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return boundary([&] {
            if (!object) return E_POINTER;
            *object = nullptr;
            if (outer) return CLASS_E_NOAGGREGATION;
            return row_.create(iid, object);
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    const ClassRow& row_;
    LONG refs_ = 1;
};

std::wstring guidText(const GUID& guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, ARRAYSIZE(text));
    return text;
}

class RegKey {
public:
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    LSTATUS create(HKEY parent, const std::wstring& path) {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr);
    }
    LSTATUS set(const wchar_t* name, const std::wstring& value) const {
        return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    HKEY key_ = nullptr;
};

// Writes one key of the classes root with its default value and, when
// given, one named value.
HRESULT writeKey(const std::wstring& path, const std::wstring& value,
                 const wchar_t* name = nullptr, const std::wstring& named = {}) {
    RegKey key;
    LSTATUS status = key.create(HKEY_CLASSES_ROOT, path);
    if (status == ERROR_SUCCESS) status = key.set(nullptr, value);
    if (status == ERROR_SUCCESS && name) status = key.set(name, named);
    if (status != ERROR_SUCCESS)
        return fail(HRESULT_FROM_WIN32(status), L"The registry key HKEY_CLASSES_ROOT\\" + path + L" cannot be written.");
    return S_OK;
}

HRESULT removeTree(const std::wstring& path) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return S_OK;
    return fail(HRESULT_FROM_WIN32(status), L"The registry key HKEY_CLASSES_ROOT\\" + path + L" cannot be removed.");
}

std::wstring modulePath() {
    return copiedText([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(g_module, buffer, size); });
}

}  // namespace

HMODULE moduleHandle() { return g_module; }
void objectCreated() { InterlockedIncrement(&g_objects); }
void objectDestroyed() { InterlockedDecrement(&g_objects); }

}  // namespace comkit

using namespace comkit;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_module = instance;
        break;
    case DLL_THREAD_DETACH:
        if (serverTable().detach) serverTable().detach(false);
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved != null) memory goes with the process;
        // on FreeLibrary whatever the threads left behind is freed.
        if (!reserved && serverTable().detach) serverTable().detach(true);
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return boundary([] {
        if (g_objects != 0 || g_locks != 0) return S_FALSE;
        releaseTypeInfoCache();
        return S_OK;
    });
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return boundary([&] {
        if (!object) return E_POINTER;
        *object = nullptr;
        for (const ClassRow& row : serverTable().classes) {
            if (!IsEqualCLSID(clsid, row.clsid)) continue;
            ComPtr<ClassFactory> factory = adopt(new (std::nothrow) ClassFactory(row));
            if (!factory) return E_OUTOFMEMORY;
            return factory->QueryInterface(iid, object);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    });
}

namespace {

HRESULT registerServer() {
    const ServerTable& table = serverTable();
    const std::wstring path = modulePath();
    if (path.empty()) return fail(E_FAIL, L"The component cannot find its own file.");

    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib);
    if (FAILED(hr)) return fail(hr, L"The component's type library cannot be loaded.");
    hr = RegisterTypeLib(typeLib.Get(), const_cast<wchar_t*>(path.c_str()), nullptr);
    if (FAILED(hr)) return fail(hr, L"The component's type library cannot be registered.");

    const std::wstring libId = guidText(table.libId);
    for (const ClassRow& row : table.classes) {
        const std::wstring clsid = guidText(row.clsid);
        const std::wstring key = L"CLSID\\" + clsid;
        CK_RETURN_IF_FAILED(writeKey(key, row.description));
        CK_RETURN_IF_FAILED(writeKey(key + L"\\InprocServer32", path, L"ThreadingModel", L"Apartment"));
        CK_RETURN_IF_FAILED(writeKey(key + L"\\ProgID", row.progId));
        CK_RETURN_IF_FAILED(writeKey(key + L"\\TypeLib", libId));
        CK_RETURN_IF_FAILED(writeKey(row.progId, row.description));
        CK_RETURN_IF_FAILED(writeKey(std::wstring(row.progId) + L"\\CLSID", clsid));
    }
    return S_OK;
}

HRESULT unregisterServer() {
    const ServerTable& table = serverTable();
    for (const ClassRow& row : table.classes) {
        CK_RETURN_IF_FAILED(removeTree(row.progId));
        CK_RETURN_IF_FAILED(removeTree(L"CLSID\\" + guidText(row.clsid)));
    }
#ifdef _WIN64
    constexpr SYSKIND kSysKind = SYS_WIN64;
#else
    constexpr SYSKIND kSysKind = SYS_WIN32;
#endif
    const HRESULT hr = UnRegisterTypeLib(table.libId, table.libMajor, table.libMinor, 0, kSysKind);
    // Wine reports a library that is not registered as an invalid argument;
    // either way it is gone, so unregistering twice succeeds.
    if (FAILED(hr) && hr != E_INVALIDARG && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY)
        return fail(hr, L"The component's type library cannot be unregistered.");
    return S_OK;
}

}  // namespace

STDAPI DllRegisterServer() { return boundary(registerServer); }
STDAPI DllUnregisterServer() { return boundary(unregisterServer); }
