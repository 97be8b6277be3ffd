// The four entry points of the build that runs, called as COM calls them:
// the class object, aggregation, and when the module may unload.
#include "surface.h"

using comkit::ComPtr;

namespace surface {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

// Stands in for a controlling outer object; only identity matters.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }
    LONG refs() const { return refs_; }

private:
    LONG refs_ = 1;
};

class EntryPoints : public ::testing::Test {
protected:
    // The build this program runs as: its own pointer size.
    static std::wstring ownBuild() { return dllPath(sizeof(void*) == 8); }
    static void SetUpTestSuite() { module_ = LoadLibraryW(ownBuild().c_str()); }
    static void TearDownTestSuite() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(module_) << "LoadLibraryW " << narrow(ownBuild()) << " failed";
        getClassObject_ = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllGetClassObject")));
        canUnload_ = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_TRUE(getClassObject_) << "DllGetClassObject cannot be found by name";
        ASSERT_TRUE(canUnload_) << "DllCanUnloadNow cannot be found by name";
        ASSERT_TRUE(GetProcAddress(module_, "DllRegisterServer")) << "DllRegisterServer cannot be found by name";
        ASSERT_TRUE(GetProcAddress(module_, "DllUnregisterServer")) << "DllUnregisterServer cannot be found by name";
        ASSERT_EQ(S_OK, canUnload_()) << "DllCanUnloadNow before anything is held (an earlier test leaked)";
    }
    void TearDown() override {
        if (canUnload_) {
            EXPECT_EQ(S_OK, canUnload_()) << "DllCanUnloadNow once everything is released";
        }
    }

    ComPtr<IClassFactory> factory() {
        ComPtr<IClassFactory> f;
        EXPECT_EQ(S_OK, getClassObject_(kClassId, IID_IClassFactory, reinterpret_cast<void**>(f.GetAddressOf())))
            << "DllGetClassObject for clsWALLETA";
        return f;
    }

    static HMODULE module_;
    GetClassObjectFn getClassObject_ = nullptr;
    CanUnloadFn canUnload_ = nullptr;
};

HMODULE EntryPoints::module_ = nullptr;

TEST_F(EntryPoints, ClassObjectOnlyForTheWalletClass) {
    GUID stranger{};
    ASSERT_EQ(S_OK, CoCreateGuid(&stranger));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(stranger, IID_IClassFactory, &out))
        << "DllGetClassObject for an unknown CLSID " << guidText(stranger);
    EXPECT_EQ(nullptr, out) << "DllGetClassObject leaves a pointer behind for an unknown CLSID";
    // The interface's IID is not a class.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(kInterfaceId, IID_IClassFactory, &out))
        << "DllGetClassObject for the interface IID";
    EXPECT_EQ(nullptr, out);

    ComPtr<IClassFactory> f = factory();
    ASSERT_TRUE(f) << "no class factory for clsWALLETA";
}

TEST_F(EntryPoints, FactoryRefusesAggregation) {
    ComPtr<IClassFactory> f = factory();
    ASSERT_TRUE(f);
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(&outer, IID_IUnknown, &out)) << "CreateInstance with an outer";
    EXPECT_EQ(nullptr, out) << "CreateInstance with an outer leaves a pointer behind";
    EXPECT_EQ(1, outer.refs()) << "the refused outer object keeps a reference";
}

TEST_F(EntryPoints, ModuleStaysWhileAFactoryOrALockIsHeld) {
    {
        ComPtr<IClassFactory> f = factory();
        ASSERT_TRUE(f);
        EXPECT_EQ(S_FALSE, canUnload_()) << "DllCanUnloadNow while a class factory is held";
        EXPECT_EQ(S_OK, f->LockServer(TRUE)) << "LockServer(TRUE)";
    }
    EXPECT_EQ(S_FALSE, canUnload_()) << "DllCanUnloadNow with the factory released but the server locked";
    {
        ComPtr<IClassFactory> f = factory();
        ASSERT_TRUE(f);
        EXPECT_EQ(S_OK, f->LockServer(FALSE)) << "LockServer(FALSE)";
        EXPECT_EQ(S_FALSE, canUnload_()) << "DllCanUnloadNow with the factory still held after unlocking";
    }
}

TEST_F(EntryPoints, ModuleStaysWhileAnObjectLives) {
    ComPtr<IDispatch> wallet;
    {
        ComPtr<IClassFactory> f = factory();
        ASSERT_TRUE(f);
        void* out = reinterpret_cast<void*>(1);
        GUID stranger{};
        ASSERT_EQ(S_OK, CoCreateGuid(&stranger));
        EXPECT_EQ(E_NOINTERFACE, f->CreateInstance(nullptr, stranger, &out)) << "CreateInstance for an unknown IID";
        EXPECT_EQ(nullptr, out) << "CreateInstance for an unknown IID leaves a pointer behind";
        ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(wallet.GetAddressOf())))
            << "CreateInstance of clsWALLETA: " << narrow(testsupport::errorDescription());
        ASSERT_TRUE(wallet);
    }
    EXPECT_EQ(S_FALSE, canUnload_()) << "DllCanUnloadNow while a wallet object lives";

    ComPtr<IUnknown> asInterface;
    EXPECT_EQ(S_OK, wallet->QueryInterface(kInterfaceId, reinterpret_cast<void**>(asInterface.GetAddressOf())))
        << "the object does not answer to _clsWALLETA's IID";
    UINT infos = 0;
    EXPECT_EQ(S_OK, wallet->GetTypeInfoCount(&infos));
    EXPECT_EQ(1u, infos) << "IDispatch::GetTypeInfoCount";
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, wallet->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) << "IDispatch::GetTypeInfo";
    {
        TypeAttr attr(info.Get());
        ASSERT_TRUE(attr);
        EXPECT_EQ(guidText(kInterfaceId), guidText(attr->guid)) << "the object's type info is not _clsWALLETA";
        // Late-bound tools read properties and methods from it: the dispatch
        // half of the dual interface, whose vtable half stays one step away.
        EXPECT_EQ(TKIND_DISPATCH, attr->typekind) << "IDispatch::GetTypeInfo gives the vtable half";
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtable;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(-1, &ref)) << "no vtable half behind the dispatch half";
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &vtable));
        TypeAttr vt(vtable.Get());
        ASSERT_TRUE(vt);
        EXPECT_EQ(TKIND_INTERFACE, vt->typekind);
        EXPECT_EQ(kMemberCount, vt->cFuncs);
    }
    info.Reset();
    asInterface.Reset();
    wallet.Reset();
}

}  // namespace
}  // namespace surface
