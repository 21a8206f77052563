// Automation values across the COM boundary: VARIANTs to the member table's values and back.
// Strings go through the calling thread's ANSI code page, so each character of a BSTR is one
// byte of the control's byte strings and every byte 0-255 round-trips.  Byte arrays are
// SAFEARRAYs of VT_UI1 that keep their lower bound; arrays of variants are SAFEARRAYs of
// VT_VARIANT.  Details and the accepted argument forms: docs/com.md.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

#include "korvelcom/Automation.h"

namespace korvel::com {

/// The bytes of a UTF-16 text in the thread's ANSI code page.
std::string toAnsi(const wchar_t* text, int length);
/// A BSTR of `text` read in the thread's ANSI code page; nullptr when out of memory.
BSTR toBstr(const std::string& text);
/// The bytes of a BSTR (nullptr is the empty string).
std::string fromBstr(BSTR text);

/// Whether an argument stands for an omitted optional one: VT_EMPTY, or VT_ERROR holding
/// DISP_E_PARAMNOTFOUND (directly or through VT_BYREF|VT_VARIANT).
bool isOmitted(const VARIANT& arg);
/// Whether an argument is the Empty value (VT_EMPTY, directly or through VT_BYREF|VT_VARIANT):
/// an optional parameter takes its default, a required one `emptyValue`.
bool isEmpty(const VARIANT& arg);
/// What Empty converts to for a parameter of type `target`: "", 0, false, an empty array.
Value emptyValue(ValueType target);

/// The value an argument holds, shaped for a parameter of type `target` (numbers of other
/// automation types are coerced with VariantChangeType, arrays of numbers become byte arrays
/// where `target` is a byte array).  Throws `AutomationError` when it has no such value.
Value fromVariant(const VARIANT& arg, ValueType target);
/// Stores `value` into `out`, which must be empty (VariantInit).  E_OUTOFMEMORY when a string
/// or array cannot be allocated.
HRESULT toVariant(const Value& value, VARIANT* out);
/// Writes `value` back into a by-reference argument (VT_BYREF|VT_VARIANT, or VT_BYREF of a
/// scalar, BSTR or array type, coerced to that type); a by-value argument is left as it is.
HRESULT writeBack(VARIANT& arg, const Value& value);

}  // namespace korvel::com
