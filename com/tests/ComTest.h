// The control as a host reaches it through IDispatch, for the COM tests: values as short forms
// ("s:TEXT", "i4:N", ...), calls in every argument form, and the control itself.
#pragma once
#include <windows.h>

#include <ocidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "KorvelCom_h.h"

namespace {

using S = std::string;
constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

std::wstring wide(const S& ansi) {
    std::wstring w(ansi.size(), L'\0');
    w.resize(
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), w.data(), (int)w.size()));
    return w;
}
S narrow(BSTR b) {
    S s(SysStringLen(b) * 2, '\0');
    s.resize(WideCharToMultiByte(CP_ACP, 0, b, (int)SysStringLen(b), s.data(), (int)s.size(),
                                 nullptr, nullptr));
    return s;
}

// A value written as a short form: "s:TEXT", "i2:N", "i4:N", "r8:X", "bool:N", "null", "empty", "-"
// (omitted: VT_ERROR), "bN:TEXT" (bytes of TEXT from lower bound N).  `show` writes them back,
// with "&" before a VT_BYREF of the type and "*" before a VT_BYREF|VT_VARIANT.
VARIANT make(const S& form) {
    VARIANT v;
    VariantInit(&v);
    const S kind = form.substr(0, form.find(':'));
    S text = form.substr(std::min(form.size(), kind.size() + 1));
    if (text == "<0-255>") {  // every byte, which a short form cannot hold ('|' is one of them)
        text.clear();
        for (int b = 0; b < 256; ++b)
            text += (char)b;
    }
    if (kind == "s")
        v.vt = VT_BSTR, v.bstrVal = SysAllocStringLen(wide(text).data(), (UINT)wide(text).size());
    if (kind == "i2") v.vt = VT_I2, v.iVal = (SHORT)std::stoi(text);
    if (kind == "i4") v.vt = VT_I4, v.lVal = std::stol(text);
    if (kind == "r8") v.vt = VT_R8, v.dblVal = std::stod(text);
    if (kind == "bool") v.vt = VT_BOOL, v.boolVal = std::stoi(text) ? VARIANT_TRUE : VARIANT_FALSE;
    if (kind == "null") v.vt = VT_NULL;
    if (kind == "empty") v.vt = VT_EMPTY;
    if (kind == "-") v.vt = VT_ERROR, v.scode = DISP_E_PARAMNOTFOUND;
    if (kind[0] == 'b' && kind != "bool") {
        SAFEARRAYBOUND bound{(ULONG)text.size(), std::stol(kind.substr(1))};
        v.vt = VT_ARRAY | VT_UI1, v.parray = SafeArrayCreate(VT_UI1, 1, &bound);
        for (LONG i = 0; i < (LONG)text.size(); ++i) {
            LONG at = bound.lLbound + i;
            SafeArrayPutElement(v.parray, &at, (void*)&text[i]);
        }
    }
    return v;
}

S show(const VARIANT& in) {
    const S ref = in.vt == (VT_BYREF | VT_VARIANT) ? "*" : (in.vt & VT_BYREF) ? "&" : "";
    VARIANT v;
    VariantInit(&v);
    VariantCopyInd(&v, in.vt == (VT_BYREF | VT_VARIANT) ? in.pvarVal : const_cast<VARIANT*>(&in));
    S out = "vt" + std::to_string(v.vt);
    if (v.vt == VT_BSTR) out = "s:" + narrow(v.bstrVal);
    if (v.vt == VT_I2) out = "i2:" + std::to_string(v.iVal);
    if (v.vt == VT_I4) out = "i4:" + std::to_string(v.lVal);
    if (v.vt == VT_BOOL) out = S("bool:") + (v.boolVal ? "1" : "0");
    if (v.vt == VT_ERROR) out = "-";
    if (v.vt == VT_EMPTY) out = "empty";
    if (v.vt == (VT_ARRAY | VT_UI1)) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(v.parray, 1, &lo), SafeArrayGetUBound(v.parray, 1, &hi);
        out = "b" + std::to_string(lo) + ":";
        for (LONG i = lo; i <= hi; ++i)
            SafeArrayGetElement(v.parray, &i, &out.append(1, 0).back());
    }
    VariantClear(&v);
    return ref + out;
}

struct Outcome {
    HRESULT hr;
    S result, args, note;  // note: puArgErr, or EXCEPINFO's description
};

// Calls `name` with "|"-separated short forms ("NAME=form" for a named argument) as a host does.
Outcome call(IDispatch* d, const S& name, WORD flags, const S& forms) {
    std::vector<S> positional, named, names{name};
    std::stringstream in(forms);
    for (S item; std::getline(in, item, '|');) {
        const auto eq = item.find('=');
        (eq == S::npos ? positional : named).push_back(item.substr(eq + 1));
        if (eq != S::npos) names.push_back(item.substr(0, eq));
    }
    std::vector<std::wstring> wnames;
    std::vector<LPOLESTR> pnames;
    for (const S& n : names)
        pnames.push_back(wnames.emplace_back(wide(n)).data());
    std::vector<DISPID> ids(names.size());
    if (HRESULT hr = d->GetIDsOfNames(IID_NULL, pnames.data(), (UINT)pnames.size(), 0, ids.data());
        FAILED(hr))
        return {hr, "", "", ""};
    // rgvarg: named arguments first, then the positional ones from last to first.
    std::vector<S> order(named);
    order.insert(order.end(), positional.rbegin(), positional.rend());
    std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
    if (flags == P) namedIds = {DISPID_PROPERTYPUT};
    std::vector<VARIANT> values(order.size()), rg(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const char mark = order[i].empty() ? ' ' : order[i][0];
        values[i] = make(mark == '&' || mark == '*' ? order[i].substr(1) : order[i]);
        rg[i] = values[i];
        if (mark == '*') rg[i].vt = VT_BYREF | VT_VARIANT, rg[i].pvarVal = &values[i];
        if (mark == '&') rg[i].vt = VT_BYREF | values[i].vt, rg[i].byref = &values[i].lVal;
    }
    DISPPARAMS params{rg.data(), namedIds.data(), (UINT)rg.size(), (UINT)namedIds.size()};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 99;
    Outcome out{d->Invoke(ids[0], IID_NULL, 0, flags, &params, &result, &excep, &argErr), "", "",
                ""};
    if (result.vt != VT_EMPTY) out.result = show(result);
    out.note = excep.bstrDescription ? narrow(excep.bstrDescription) : std::to_string(argErr);
    for (std::size_t i = order.size(); i-- > 0;)
        out.args += show(rg[i]) + (i ? "|" : "");
    for (VARIANT& v : values)
        VariantClear(&v);
    VariantClear(&result), SysFreeString(excep.bstrSource), SysFreeString(excep.bstrDescription);
    return out;
}

// A host's sink: IDispatch without type information.
struct SinkDispatch : IDispatch {
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
};

// A new control, by its ProgID or its class id.
IDispatch* create(bool byProgId = true) {
    CLSID clsid = CLSID_KorvelComTools;
    IDispatch* d = nullptr;
    if (!byProgId || SUCCEEDED(CLSIDFromProgID(L"KorvelCom.KorvelComTools", &clsid)))
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, (void**)&d);
    if (!d) ADD_FAILURE() << "the control is not registered";
    return d;
}

// An interface of `u`, with a reference the caller owns.
template <class I>
I* as(IUnknown* u, const IID& iid) {
    I* p = nullptr;
    EXPECT_EQ(u->QueryInterface(iid, (void**)&p), S_OK);
    return p;
}

// What `control` saves through IPersistStreamInit (clearing its dirty mark or not).
S streamOf(IUnknown* control, BOOL clearDirty = FALSE) {
    auto* persist = as<IPersistStreamInit>(control, IID_IPersistStreamInit);
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    EXPECT_EQ(persist->Save(stream, clearDirty), S_OK);
    HGLOBAL memory = nullptr;
    ULARGE_INTEGER size{};  // written from the start: the position is the size
    stream->Seek({}, STREAM_SEEK_CUR, &size), GetHGlobalFromStream(stream, &memory);
    const S out((const char*)GlobalLock(memory), size.QuadPart);
    GlobalUnlock(memory), stream->Release(), persist->Release();
    return out;
}

// A property's value as a short form ("" when the get fails), and a put of "NAME|form".
S get(IDispatch* d, const S& name) {
    return call(d, name, G, "").result;
}
void put(IDispatch* d, const S& nameAndForm) {
    const auto bar = nameAndForm.find('|');
    EXPECT_EQ(call(d, nameAndForm.substr(0, bar), P, nameAndForm.substr(bar + 1)).hr, S_OK)
        << nameAndForm;
}

}  // namespace
