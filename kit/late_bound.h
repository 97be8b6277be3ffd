// Calls on automation objects by member name, whatever they are written in:
// a compiled component, a VBScript class (no GetIDsOfNames: names come
// through IDispatchEx) or a JScript object.
#pragma once

#include "com_types.h"

#include <initializer_list>
#include <map>
#include <string>

namespace outside {

// Creates an in-process object by its programmatic identifier; the error
// names the identifier, so a missing component is easy to tell.
HRESULT create(const wchar_t* progId, comkit::ComPtr<IDispatch>& object);

class LateBound {
public:
    LateBound() = default;
    explicit LateBound(comkit::ComPtr<IDispatch> object) : object_(std::move(object)) {}

    IDispatch* get() const { return object_.Get(); }
    explicit operator bool() const { return object_ != nullptr; }
    void reset() {
        object_.Reset();
        ids_.clear();
    }
    // Drops the object without releasing it, where no COM call may be made.
    void abandon() {
        object_.Detach();
        ids_.clear();
    }

    // A property read or a call without arguments; both serve for a value.
    HRESULT read(const wchar_t* name, comkit::Variant& result);
    HRESULT assign(const wchar_t* name, const VARIANT& value);
    HRESULT assignText(const wchar_t* name, std::wstring_view text);
    // Arguments in their natural order; a VT_BYREF argument passes the
    // caller's own variable.
    HRESULT call(const wchar_t* name, std::initializer_list<VARIANT> args, comkit::Variant& result);

private:
    HRESULT id(const wchar_t* name, DISPID& dispid);
    HRESULT invoke(const wchar_t* name, WORD flags, DISPPARAMS& params, VARIANT* result);

    comkit::ComPtr<IDispatch> object_;
    std::map<std::wstring, DISPID, std::less<>> ids_;
};

}  // namespace outside
