#include "typeinfo_dispatch.h"

#include "com_error.h"
#include "com_server.h"

#include <map>
#include <new>

namespace comkit {
namespace {

struct IidLess {
    bool operator()(const IID& a, const IID& b) const { return memcmp(&a, &b, sizeof(IID)) < 0; }
};

// Both halves of an interface's description: what the type library says
// (for a dual interface its dispatch half) and the half Invoke can call
// through (for a dual interface its vtable half; otherwise the same).
struct Halves {
    ITypeInfo* described;
    ITypeInfo* vtable;
};

SRWLOCK g_cacheLock = SRWLOCK_INIT;
ITypeLib* g_typeLib = nullptr;
std::map<IID, Halves, IidLess>* g_infos = nullptr;

HRESULT cachedTypeInfo(REFIID iid, bool vtableHalf, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    SrwGuard guard(g_cacheLock);
    if (!g_typeLib) {
        wchar_t path[MAX_PATH * 2];
        const DWORD n = GetModuleFileNameW(moduleHandle(), path, ARRAYSIZE(path));
        if (n == 0 || n >= ARRAYSIZE(path)) return fail(E_FAIL, L"The component cannot find its own file.");
        const HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &g_typeLib);
        if (FAILED(hr)) return fail(hr, L"The component's type library cannot be loaded.");
        g_infos = new (std::nothrow) std::map<IID, Halves, IidLess>();
        if (!g_infos) return fail(E_OUTOFMEMORY, L"Out of memory.");
    }
    auto found = g_infos->find(iid);
    if (found == g_infos->end()) {
        ComPtr<ITypeInfo> described;
        HRESULT hr = g_typeLib->GetTypeInfoOfGuid(iid, &described);
        if (FAILED(hr)) return fail(hr, L"The component's type library does not describe the interface.");
        ComPtr<ITypeInfo> vtable = described;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(described->GetTypeAttr(&attr))) {
            const bool dispatchHalf = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
            described->ReleaseTypeAttr(attr);
            HREFTYPE ref = 0;
            if (dispatchHalf && SUCCEEDED(described->GetRefTypeOfImplType(-1, &ref))) {
                ComPtr<ITypeInfo> half;
                if (SUCCEEDED(described->GetRefTypeInfo(ref, &half))) vtable = half;
            }
        }
        try {
            found = g_infos->emplace(iid, Halves{described.Get(), vtable.Get()}).first;
        } catch (const std::bad_alloc&) {
            return fail(E_OUTOFMEMORY, L"Out of memory.");
        }
        // The cache holds the references from here on.
        described.Detach();
        vtable.Detach();
    }
    *info = vtableHalf ? found->second.vtable : found->second.described;
    (*info)->AddRef();
    return S_OK;
}

}  // namespace

HRESULT interfaceTypeInfo(REFIID iid, ITypeInfo** info) { return cachedTypeInfo(iid, true, info); }

HRESULT describedTypeInfo(REFIID iid, ITypeInfo** info) { return cachedTypeInfo(iid, false, info); }

void releaseTypeInfoCache() {
    SrwGuard guard(g_cacheLock);
    if (g_infos) {
        for (auto& entry : *g_infos) {
            entry.second.described->Release();
            entry.second.vtable->Release();
        }
        delete g_infos;
        g_infos = nullptr;
    }
    if (g_typeLib) {
        g_typeLib->Release();
        g_typeLib = nullptr;
    }
}

namespace {

// Whether parameter index of the member invoked with flags is itself a
// by-reference variant, which takes a script's variable as it comes.
class VariantParameters {
public:
    VariantParameters(ITypeInfo* info, DISPID member, WORD flags) : info_(info) {
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) return;
        const WORD count = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < count && !desc_; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(i, &desc))) continue;
            if (desc->memid == member && (desc->invkind & flags)) desc_ = desc;
            else info->ReleaseFuncDesc(desc);
        }
    }
    ~VariantParameters() {
        if (desc_) info_->ReleaseFuncDesc(desc_);
    }
    VariantParameters(const VariantParameters&) = delete;
    VariantParameters& operator=(const VariantParameters&) = delete;

    bool isVariant(LONG index) const {
        if (!desc_ || index < 0 || index >= desc_->cParams) return false;
        const TYPEDESC& type = desc_->lprgelemdescParam[index].tdesc;
        return type.vt == VT_VARIANT || (type.vt == VT_PTR && type.lptdesc && type.lptdesc->vt == VT_VARIANT);
    }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

bool hasVariantReference(const DISPPARAMS* params) {
    for (UINT i = 0; i < params->cArgs; ++i)
        if (params->rgvarg[i].vt == (VT_BYREF | VT_VARIANT) && params->rgvarg[i].pvarVal) return true;
    return false;
}

}  // namespace

ScriptArguments::ScriptArguments(ITypeInfo* info, DISPID member, WORD flags, const DISPPARAMS* params) {
    if (!params) return;
    params_ = *params;
    if (!hasVariantReference(params)) return;
    const VariantParameters parameters(info, member, flags);
    args_.assign(params->rgvarg, params->rgvarg + params->cArgs);
    for (UINT j = 0; j < params->cArgs; ++j) {
        VARIANT& arg = args_[j];
        if (arg.vt != (VT_BYREF | VT_VARIANT) || !arg.pvarVal) continue;
        // Named arguments come first and say their parameter; the positional
        // ones follow in reverse order.
        const LONG index = j < params->cNamedArgs ? params->rgdispidNamedArgs[j]
                                                  : static_cast<LONG>(params->cArgs - 1 - j);
        if (parameters.isVariant(index)) continue;
        VARIANT* inner = arg.pvarVal;
        if (inner->vt == VT_BSTR) {
            // Points at the caller's own string, so the parameter stays a
            // true reference.
            arg.vt = VT_BYREF | VT_BSTR;
            arg.pbstrVal = &inner->bstrVal;
        } else if (!(inner->vt & VT_ARRAY)) {
            // Any other value: hand it to Invoke as it stands, which coerces
            // it to the parameter's type. Nothing is owned here.
            arg = *inner;
        }
    }
    params_.rgvarg = args_.data();
}

HRESULT invokeWithTypeInfo(void* instance, REFIID iid, DISPID member, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                           UINT* argErr) {
    ComPtr<ITypeInfo> info;
    HRESULT hr = interfaceTypeInfo(iid, &info);
    if (FAILED(hr)) return hr;
    ScriptArguments args(info.Get(), member, flags, params);
    DISPPARAMS empty{};
    return info->Invoke(instance, member, flags, params ? args.get() : &empty, result, excep, argErr);
}

}  // namespace comkit
