#include "Variants.h"

#include <limits>
#include <memory>

namespace korvel::com {
namespace {

[[noreturn]] void mismatch(ValueType target) {
    throw AutomationError("the argument does not convert to a " + std::string(typeName(target)));
}

struct VariantGuard {
    VARIANT v;
    VariantGuard() { VariantInit(&v); }
    ~VariantGuard() { VariantClear(&v); }
};

// The VARIANT type a coerced number takes for a parameter type.
VARTYPE coercedType(ValueType target) {
    switch (target) {
        case ValueType::String:
            return VT_BSTR;
        case ValueType::Bool:
            return VT_BOOL;
        case ValueType::I16:
            return VT_I2;
        default:
            return VT_I4;
    }
}

Value fromArray(SAFEARRAY* sa, VARTYPE element, ValueType target) {
    if (!sa) {  // an array variable not yet dimensioned
        if (target == ValueType::Array) return VariantArray{};
        return ByteArray{};
    }
    if (SafeArrayGetDim(sa) != 1) mismatch(target);
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(sa, 1, &lower);
    SafeArrayGetUBound(sa, 1, &upper);
    const LONG count = upper >= lower ? upper - lower + 1 : 0;
    if (element == VT_UI1) {
        ByteArray bytes(lower, std::vector<uint8_t>(static_cast<std::size_t>(count)));
        void* data = nullptr;
        if (count > 0 && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
            std::copy_n(static_cast<const uint8_t*>(data), count, bytes.bytes.begin());
            SafeArrayUnaccessData(sa);
        }
        return bytes;
    }
    // Elements of other types, one at a time through a variant.
    ByteArray bytes(lower, {});
    VariantArray items{lower, {}};
    for (LONG i = lower; i <= upper; ++i) {
        VariantGuard e;
        if (element == VT_VARIANT) {
            if (FAILED(SafeArrayGetElement(sa, &i, &e.v))) mismatch(target);
        } else {
            // A typed array (numbers, strings, booleans): the element lands in the union.
            e.v.vt = element;
            if (element == VT_DECIMAL || element == VT_RECORD || element == VT_DISPATCH ||
                element == VT_UNKNOWN || FAILED(SafeArrayGetElement(sa, &i, &e.v.lVal)))
                mismatch(target);
        }
        if (target == ValueType::Bytes) {
            // Arrays of numbers from script hosts stand for byte arrays where bytes are meant.
            VariantGuard b;
            if (FAILED(VariantChangeType(&b.v, &e.v, 0, VT_UI1))) mismatch(target);
            bytes.bytes.push_back(b.v.bVal);
        } else {
            items.elements.push_back(fromVariant(e.v, ValueType::Any));
        }
    }
    if (target == ValueType::Bytes) return bytes;
    if (target == ValueType::Array || target == ValueType::Any) return items;
    mismatch(target);
}

HRESULT arrayVariant(const Value& value, SAFEARRAY** out) {
    if (const auto* bytes = std::get_if<ByteArray>(&value)) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(bytes->bytes.size()), bytes->lbound};
        SAFEARRAY* sa = SafeArrayCreate(VT_UI1, 1, &bound);
        if (!sa) return E_OUTOFMEMORY;
        void* data = nullptr;
        if (!bytes->bytes.empty() && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
            std::copy(bytes->bytes.begin(), bytes->bytes.end(), static_cast<uint8_t*>(data));
            SafeArrayUnaccessData(sa);
        }
        *out = sa;
        return S_OK;
    }
    const auto& items = std::get<VariantArray>(value);
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.elements.size()), items.lbound};
    SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (!sa) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < items.elements.size(); ++i) {
        VariantGuard e;
        LONG index = items.lbound + static_cast<LONG>(i);
        HRESULT hr = toVariant(items.elements[i], &e.v);
        if (SUCCEEDED(hr)) hr = SafeArrayPutElement(sa, &index, &e.v);
        if (FAILED(hr)) {
            SafeArrayDestroy(sa);
            return hr;
        }
    }
    *out = sa;
    return S_OK;
}

}  // namespace

std::string toAnsi(const wchar_t* text, int length) {
    if (!text || length <= 0) return {};
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

BSTR toBstr(const std::string& text) {
    if (text.empty()) return SysAllocStringLen(L"", 0);
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (out) MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, out, n);
    return out;
}

std::string fromBstr(BSTR text) {
    return toAnsi(text, static_cast<int>(SysStringLen(text)));
}

bool isOmitted(const VARIANT& arg) {
    const VARIANT* v = &arg;
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
        v = v->pvarVal;
    return v->vt == VT_EMPTY || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND);
}

bool isEmpty(const VARIANT& arg) {
    return arg.vt == VT_EMPTY ||
           (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal && arg.pvarVal->vt == VT_EMPTY);
}

Value emptyValue(ValueType target) {
    switch (target) {
        case ValueType::String:
            return std::string();
        case ValueType::I16:
            return int16_t{0};
        case ValueType::I32:
            return int32_t{0};
        case ValueType::Bool:
            return false;
        case ValueType::Bytes:
            return ByteArray{};
        case ValueType::Array:
            return VariantArray{};
        default:
            return std::monostate{};
    }
}

Value fromVariant(const VARIANT& arg, ValueType target) {
    const VARIANT* v = &arg;
    while (v->vt == (VT_BYREF | VT_VARIANT)) {
        if (!v->pvarVal) mismatch(target);
        v = v->pvarVal;
    }
    const bool byRef = (v->vt & VT_BYREF) != 0;
    const VARTYPE type = v->vt & ~VT_BYREF;
    if (type & VT_ARRAY)
        return fromArray(byRef ? *v->pparray : v->parray, type & VT_TYPEMASK, target);
    switch (type) {
        case VT_EMPTY:
            return std::monostate{};
        case VT_ERROR:
            if ((byRef ? *v->pscode : v->scode) == DISP_E_PARAMNOTFOUND) return std::monostate{};
            mismatch(target);
        case VT_BSTR:
            return fromBstr(byRef ? *v->pbstrVal : v->bstrVal);
        case VT_I2:
            return int16_t{byRef ? *v->piVal : v->iVal};
        case VT_I4:
            return int32_t{byRef ? *v->plVal : v->lVal};
        case VT_BOOL:
            return (byRef ? *v->pboolVal : v->boolVal) != VARIANT_FALSE;
        case VT_NULL:
        case VT_DISPATCH:
        case VT_UNKNOWN:
            mismatch(target);
        default: {
            // Other numbers (VT_R8 from script, VT_UI1, VT_I8, currency, dates...): coerced to
            // the parameter's type the way automation rounds.
            VariantGuard c;
            if (FAILED(VariantChangeType(&c.v, const_cast<VARIANT*>(v), 0, coercedType(target))))
                mismatch(target);
            return fromVariant(c.v, target);
        }
    }
}

HRESULT toVariant(const Value& value, VARIANT* out) {
    struct Visitor {
        VARIANT* out;
        HRESULT operator()(std::monostate) const { return S_OK; }
        HRESULT operator()(bool b) const {
            out->vt = VT_BOOL;
            out->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        HRESULT operator()(int16_t i) const {
            out->vt = VT_I2;
            out->iVal = i;
            return S_OK;
        }
        HRESULT operator()(int32_t i) const {
            out->vt = VT_I4;
            out->lVal = i;
            return S_OK;
        }
        HRESULT operator()(const std::string& s) const {
            BSTR b = toBstr(s);
            if (!b) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            out->bstrVal = b;
            return S_OK;
        }
        HRESULT operator()(const ByteArray& a) const { return array(a, VT_UI1); }
        HRESULT operator()(const VariantArray& a) const { return array(a, VT_VARIANT); }
        HRESULT array(const Value& a, VARTYPE element) const {
            SAFEARRAY* sa = nullptr;
            const HRESULT hr = arrayVariant(a, &sa);
            if (FAILED(hr)) return hr;
            out->vt = VT_ARRAY | element;
            out->parray = sa;
            return S_OK;
        }
    };
    return std::visit(Visitor{out}, static_cast<const Value::variant&>(value));
}

HRESULT writeBack(VARIANT& arg, const Value& value) {
    if (!(arg.vt & VT_BYREF)) return S_OK;
    VariantGuard fresh;
    HRESULT hr = toVariant(value, &fresh.v);
    if (FAILED(hr)) return hr;
    if (arg.vt == (VT_BYREF | VT_VARIANT)) {
        if (!arg.pvarVal) return S_OK;
        // A script's variable (or an array element): replaced by the value as it is.
        if ((arg.pvarVal->vt & VT_BYREF) && arg.pvarVal->vt != (VT_BYREF | VT_VARIANT))
            return writeBack(*arg.pvarVal, value);
        VariantClear(arg.pvarVal);
        *arg.pvarVal = fresh.v;
        fresh.v.vt = VT_EMPTY;
        return S_OK;
    }
    const VARTYPE type = arg.vt & ~VT_BYREF;
    if (type & VT_ARRAY) {
        if (fresh.v.vt != type) return DISP_E_TYPEMISMATCH;
        if (*arg.pparray) SafeArrayDestroy(*arg.pparray);
        *arg.pparray = fresh.v.parray;
        fresh.v.vt = VT_EMPTY;
        return S_OK;
    }
    // A typed reference: the value coerced to the caller's type, then stored through it.
    hr = VariantChangeType(&fresh.v, &fresh.v, 0, type);
    if (FAILED(hr)) return hr;
    switch (type) {
        case VT_BSTR:
            SysFreeString(*arg.pbstrVal);
            *arg.pbstrVal = fresh.v.bstrVal;
            fresh.v.vt = VT_EMPTY;
            return S_OK;
        case VT_I2:
            *arg.piVal = fresh.v.iVal;
            return S_OK;
        case VT_I4:
            *arg.plVal = fresh.v.lVal;
            return S_OK;
        case VT_BOOL:
            *arg.pboolVal = fresh.v.boolVal;
            return S_OK;
        case VT_R8:
            *arg.pdblVal = fresh.v.dblVal;
            return S_OK;
        case VT_R4:
            *arg.pfltVal = fresh.v.fltVal;
            return S_OK;
        case VT_UI1:
            *arg.pbVal = fresh.v.bVal;
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace korvel::com
