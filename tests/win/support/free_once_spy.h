// A watch on the task allocator, where every BSTR lives, that counts
// strings freed twice: it shows whether each string that passes by
// reference is freed exactly once.
#pragma once

#include "com_types.h"

#include <gtest/gtest.h>

#include <set>

namespace testsupport {

// Counts blocks of the task allocator (where every BSTR lives) that are
// freed, or asked for their size as SysFreeString does first, after they
// were freed. The string cache is switched off so that every free reaches
// the allocator. Registered once for the process; begin() starts a count.
class FreeOnceSpy final : public IMallocSpy {
public:
    static FreeOnceSpy& begin() {
        static FreeOnceSpy* spy = [] {
            using NoCache = void(WINAPI*)();
            if (auto off = reinterpret_cast<NoCache>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")))
                off();
            auto* made = new FreeOnceSpy();  // the allocator may keep it past any scope
            EXPECT_EQ(S_OK, CoRegisterMallocSpy(made));
            return made;
        }();
        comkit::SrwGuard guard(spy->lock_);
        spy->twice_ = 0;
        spy->watched_ = 0;
        return *spy;
    }
    int freedTwice() const {
        comkit::SrwGuard guard(lock_);
        return twice_;
    }
    int watchedFrees() const {
        comkit::SrwGuard guard(lock_);
        return watched_;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *object = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* block) override {
        comkit::SrwGuard guard(lock_);
        freed_.erase(block);
        return block;
    }
    // A block freed before is counted and not passed on: the second free
    // would corrupt the heap and end the test run instead of failing it.
    STDMETHODIMP_(void*) PreFree(void* block, BOOL) override {
        comkit::SrwGuard guard(lock_);
        if (!block) return block;
        ++watched_;
        if (freed_.insert(block).second) return block;
        ++twice_;
        return nullptr;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** actual, BOOL) override {
        comkit::SrwGuard guard(lock_);
        if (freed_.count(block)) ++twice_;
        *actual = block;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override {
        comkit::SrwGuard guard(lock_);
        freed_.erase(block);
        return block;
    }
    // SysFreeString asks for the size first: of a freed block, the size of
    // a live block of the spy's own is given, which the heap can measure.
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override {
        comkit::SrwGuard guard(lock_);
        if (!freed_.count(block)) return block;
        ++twice_;
        return stand_in_;
    }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

private:
    FreeOnceSpy() = default;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    void* const stand_in_ = HeapAlloc(GetProcessHeap(), 0, 64);
    std::set<void*> freed_;
    int twice_ = 0;
    int watched_ = 0;
};

}  // namespace testsupport
