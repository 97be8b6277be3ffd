// Owning wrappers for the platform's resources, written once and used
// everywhere so that no code path has to remember a SysFreeString,
// VariantClear, CloseHandle or Release of its own.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <string_view>
#include <utility>

namespace comkit {

// A base for a class that owns something and so must not be copied.
struct NoCopy {
    NoCopy() = default;
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

using Microsoft::WRL::ComPtr;

// Takes over a reference the caller already owns (a new object's first).
// MinGW's ComPtr::Attach adds a reference of its own, unlike the platform's,
// so it must not be used for that.
template <class T>
ComPtr<T> adopt(T* owned) {
    ComPtr<T> pointer;
    *pointer.GetAddressOf() = owned;
    return pointer;
}

class BstrRef;

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text)
        : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(b_);
            b_ = std::exchange(other.b_, nullptr);
        }
        return *this;
    }

    BSTR get() const { return b_; }
    // Hands the address to a function that fills it; frees what was held.
    BSTR* put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR detach() { return std::exchange(b_, nullptr); }
    UINT length() const { return SysStringLen(b_); }
    std::wstring_view view() const { return {b_ ? b_ : L"", length()}; }

private:
    friend class BstrRef;
    BSTR b_ = nullptr;
};

// A string variable handed to another component by reference
// (VT_BYREF|VT_BSTR). The callee may free the string and leave another one
// in the variable; whoever owns the variable then owns the new string, so
// each string is freed exactly once. It is made only from the owner's own
// variable (a Bstr, or a host's by-reference parameter), never from a copy
// of the pointer, which the callee would leave dangling beside its owner.
class BstrRef {
public:
    explicit BstrRef(Bstr& owner) : variable_(&owner.b_) {}
    // The host's variable: what the callee leaves there is the host's.
    explicit BstrRef(BSTR* hostVariable) : variable_(hostVariable) {}

    BSTR get() const { return *variable_; }
    std::wstring_view view() const { return {*variable_ ? *variable_ : L"", SysStringLen(*variable_)}; }
    VARIANT argument() const {
        VARIANT reference;
        VariantInit(&reference);
        reference.vt = VT_BYREF | VT_BSTR;
        reference.pbstrVal = variable_;
        return reference;
    }

private:
    BSTR* variable_;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&v_);
            v_ = other.v_;
            VariantInit(&other.v_);
        }
        return *this;
    }

    static Variant text(std::wstring_view s) {
        Variant v;
        v.v_.vt = VT_BSTR;
        v.v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        return v;
    }
    static Variant i2(SHORT n) {
        Variant v;
        v.v_.vt = VT_I2;
        v.v_.iVal = n;
        return v;
    }
    static Variant date(DATE d) {
        Variant v;
        v.v_.vt = VT_DATE;
        v.v_.date = d;
        return v;
    }

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* put() {
        VariantClear(&v_);
        return &v_;
    }
    VARTYPE vt() const { return v_.vt; }
    // Moves the value into a caller-owned VARIANT (a retval).
    void detachTo(VARIANT* out) {
        *out = v_;
        VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// A caller's variable handed to a late-bound call by reference, as a script
// passes its variables (VT_BYREF|VT_VARIANT) or a flag (VT_BYREF|VT_BOOL);
// strings go as BstrRef::argument(). The argument only points at the
// variable: what the callee leaves there stays its owner's to free.
inline VARIANT byRef(Variant& variable) {
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = variable.get();
    return reference;
}
inline VARIANT byRef(VARIANT_BOOL& flag) {
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = VT_BYREF | VT_BOOL;
    reference.pboolVal = &flag;
    return reference;
}

// Converts any scalar variant (through references) to text, the way
// automation callers convert results to strings.
HRESULT toText(const VARIANT& value, Bstr& text);

// A caller's string as text (a null BSTR is the empty text).
inline std::wstring_view view(BSTR text) { return {text ? text : L"", SysStringLen(text)}; }

// Hands a copy of text to a caller's out-parameter.
HRESULT copyOut(std::wstring_view text, BSTR* out);

// Keeps a copy of a caller's string (a text property's put).
inline HRESULT copyIn(BSTR text, std::wstring& into) {
    into.assign(view(text));
    return S_OK;
}

// The sole owner of a platform handle: released once, by Traits::release,
// on every way out. Traits says which values are no handle at all
// (valid) and what an empty owner holds (none).
template <class T, class Traits>
class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(other.detach()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    bool valid() const { return Traits::valid(value_); }
    explicit operator bool() const { return valid(); }
    T get() const { return value_; }
    void reset(T value = Traits::none) {
        if (valid()) Traits::release(value_);
        value_ = value;
    }
    // Hands the handle on; the owner is empty afterwards.
    T detach() { return std::exchange(value_, Traits::none); }

private:
    T value_ = Traits::none;
};

// Traits of a handle whose empty value is a null pointer.
template <class T, auto Release>
struct PointerHandle {
    static constexpr T none = nullptr;
    static bool valid(T value) { return value != nullptr; }
    static void release(T value) { Release(value); }
};

// A kernel object's handle: both invalid values of the platform count as
// "no handle".
struct KernelHandle {
    static constexpr HANDLE none = nullptr;
    static bool valid(HANDLE value) { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void release(HANDLE value) { CloseHandle(value); }
};
using UniqueHandle = Owned<HANDLE, KernelHandle>;

// A SAFEARRAY that is destroyed unless handed on (detach).
using SafeArray = Owned<SAFEARRAY*, PointerHandle<SAFEARRAY*, SafeArrayDestroy>>;

// Holds a slim reader/writer lock for one scope, exclusively or shared.
template <void(WINAPI* Acquire)(PSRWLOCK), void(WINAPI* Release)(PSRWLOCK)>
class SrwHold {
public:
    explicit SrwHold(SRWLOCK& lock) : lock_(lock) { Acquire(&lock_); }
    ~SrwHold() { Release(&lock_); }
    SrwHold(const SrwHold&) = delete;
    SrwHold& operator=(const SrwHold&) = delete;

private:
    SRWLOCK& lock_;
};
using SrwGuard = SrwHold<AcquireSRWLockExclusive, ReleaseSRWLockExclusive>;
using SrwSharedGuard = SrwHold<AcquireSRWLockShared, ReleaseSRWLockShared>;

// Owns a mutex that a wait acquired, until it goes.
class MutexHold : NoCopy {
public:
    MutexHold() = default;
    ~MutexHold() {
        if (mutex_) ReleaseMutex(mutex_);
    }
    void own(HANDLE mutex) { mutex_ = mutex; }

private:
    HANDLE mutex_ = nullptr;
};

// Holds a byte-range lock of a file until it goes. A process that dies
// lets go of its locks with its handles.
class FileRangeHold : NoCopy {
public:
    FileRangeHold() = default;
    ~FileRangeHold() { release(); }
    // Takes the byte at `offset` exclusively, or fails at once.
    BOOL tryTake(HANDLE file, DWORD offset) {
        release();
        if (!LockFile(file, offset, 0, 1, 0)) return FALSE;
        file_ = file;
        offset_ = offset;
        return TRUE;
    }

private:
    void release() {
        if (!file_) return;
        UnlockFile(file_, offset_, 0, 1, 0);
        file_ = nullptr;
    }
    HANDLE file_ = nullptr;
    DWORD offset_ = 0;
};

}  // namespace comkit
