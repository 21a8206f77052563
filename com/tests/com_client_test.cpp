// KorvelCom.dll as a host sees it, under Wine or Windows: the registered type library against
// the member table, calls through IDispatch with every argument form, events, property
// notifications, persistence and registration.  scripts/windows-com.sh registers the DLL and
// names the simulator's COM port in KORVEL_TEST_COM.
#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "KorvelCom_h.h"
#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"

namespace {

using namespace korvel;
using S = std::string;

std::wstring wide(const S& ansi) {
    std::wstring w(ansi.size(), L'\0');
    w.resize(
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), w.data(), (int)w.size()));
    return w;
}
S narrow(const wchar_t* w, int n) {
    S s(n * 2 + 1, '\0');
    s.resize(WideCharToMultiByte(CP_ACP, 0, w, n, s.data(), (int)s.size(), nullptr, nullptr));
    return s;
}
S narrow(BSTR b) {
    return narrow(b, (int)SysStringLen(b));
}

// ---- Arguments written as short specs ----------------------------------------------------
// "s:TEXT" BSTR, "i2:N", "i4:N", "r8:X", "bool:N", "null", "-" omitted (VT_ERROR), "bN:TEXT"
// bytes from lower bound N, "aN:1,2" array of VT_I2 variants; prefix "&" for VT_BYREF of that
// type, "*" for VT_BYREF|VT_VARIANT.  `show` renders a variant the same way.
struct Arg {
    VARIANT value;  // what a by-reference argument points to
    VARIANT arg;    // what goes into DISPPARAMS
};

void parse(const S& spec, VARIANT& v) {
    VariantInit(&v);
    const auto colon = spec.find(':');
    const S kind = spec.substr(0, colon), text = colon == S::npos ? "" : spec.substr(colon + 1);
    if (kind == "s") {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(wide(text).data(), (UINT)wide(text).size());
    } else if (kind == "i2") {
        v.vt = VT_I2, v.iVal = (SHORT)std::stoi(text);
    } else if (kind == "i4") {
        v.vt = VT_I4, v.lVal = std::stol(text);
    } else if (kind == "r8") {
        v.vt = VT_R8, v.dblVal = std::stod(text);
    } else if (kind == "bool") {
        v.vt = VT_BOOL, v.boolVal = std::stoi(text) ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (kind == "null") {
        v.vt = VT_NULL;
    } else if (kind == "-") {
        v.vt = VT_ERROR, v.scode = DISP_E_PARAMNOTFOUND;
    } else if (kind[0] == 'b' || kind[0] == 'a') {
        std::vector<S> items;
        if (kind[0] == 'a') {
            std::stringstream in(text);
            for (S item; std::getline(in, item, ',');)
                items.push_back(item);
        }
        SAFEARRAYBOUND bound{(ULONG)(kind[0] == 'b' ? text.size() : items.size()),
                             std::stol(kind.substr(1))};
        v.vt = VT_ARRAY | (kind[0] == 'b' ? VT_UI1 : VT_VARIANT);
        v.parray = SafeArrayCreate(v.vt & VT_TYPEMASK, 1, &bound);
        for (LONG i = 0; i < (LONG)bound.cElements; ++i) {
            LONG at = bound.lLbound + i;
            VARIANT e{};
            e.vt = VT_I2, e.iVal = kind[0] == 'a' ? (SHORT)std::stoi(items[i]) : 0;
            kind[0] == 'b' ? SafeArrayPutElement(v.parray, &at, (void*)&text[i])
                           : SafeArrayPutElement(v.parray, &at, &e);
        }
    }
}

S show(const VARIANT& in) {
    const VARIANT& v = in.vt == (VT_BYREF | VT_VARIANT) ? *in.pvarVal : in;
    const S ref = in.vt == (VT_BYREF | VT_VARIANT) ? "*" : (v.vt & VT_BYREF) ? "&" : "";
    VARIANT d;
    VariantInit(&d);
    VariantCopyInd(&d, const_cast<VARIANT*>(&v));
    S out;
    if (d.vt & VT_ARRAY) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(d.parray, 1, &lo), SafeArrayGetUBound(d.parray, 1, &hi);
        out = ((d.vt & VT_TYPEMASK) == VT_UI1 ? "b" : "a") + std::to_string(lo) + ":";
        for (LONG i = lo; i <= hi; ++i) {
            VARIANT e;
            VariantInit(&e);
            if ((d.vt & VT_TYPEMASK) == VT_UI1) {
                e.vt = VT_UI1;
                SafeArrayGetElement(d.parray, &i, &e.bVal);
                out += (char)e.bVal;
            } else {
                SafeArrayGetElement(d.parray, &i, &e);
                out += (i > lo ? "," : "") + show(e);
            }
            VariantClear(&e);
        }
    } else if (d.vt == VT_BSTR) {
        out = "s:" + narrow(d.bstrVal);
    } else if (d.vt == VT_I2) {
        out = "i2:" + std::to_string(d.iVal);
    } else if (d.vt == VT_I4) {
        out = "i4:" + std::to_string(d.lVal);
    } else if (d.vt == VT_BOOL) {
        out = "bool:" + std::to_string(d.boolVal ? 1 : 0);
    } else if (d.vt == VT_R8) {
        out = "r8:" + std::to_string(d.dblVal).substr(0, 5);
    } else if (d.vt == VT_ERROR) {
        out = "-";
    } else {
        out = "vt" + std::to_string(d.vt);
    }
    VariantClear(&d);
    return ref + out;
}

struct Outcome {
    HRESULT hr;
    S result;       // show(result), "" when none
    S args;         // the arguments after the call, "|"-separated
    UINT argErr;    // for DISP_E_TYPEMISMATCH
    S description;  // EXCEPINFO's, for DISP_E_EXCEPTION
};

// Calls `name` with `specs` ("|"-separated; "NAME=spec" for a named argument) as a host does.
Outcome call(IDispatch* d, const S& name, WORD flags, const S& specs) {
    std::vector<S> items, names{name};
    std::stringstream in(specs);
    for (S item; std::getline(in, item, '|');)
        items.push_back(item);
    std::vector<Arg> args(items.size());
    std::vector<S> positional, named;
    for (const S& item : items) {
        const auto eq = item.find('=');
        (eq == S::npos ? positional : named).push_back(item);
        if (eq != S::npos) names.push_back(item.substr(0, eq));
    }
    std::vector<std::wstring> wnames;
    std::vector<LPOLESTR> pnames;
    for (const S& n : names)
        wnames.push_back(wide(n));
    for (auto& w : wnames)
        pnames.push_back(w.data());
    std::vector<DISPID> ids(names.size());
    HRESULT hr = d->GetIDsOfNames(IID_NULL, pnames.data(), (UINT)pnames.size(), 0, ids.data());
    if (FAILED(hr)) return {hr, "", "", 0, ""};
    // rgvarg: named arguments first, then the positional ones last to first.
    std::vector<S> order;
    std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
    for (const S& n : named)
        order.push_back(n.substr(n.find('=') + 1));
    for (auto it = positional.rbegin(); it != positional.rend(); ++it)
        order.push_back(*it);
    if (flags & DISPATCH_PROPERTYPUT) namedIds.insert(namedIds.begin(), DISPID_PROPERTYPUT);
    std::vector<VARIANT> rg(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        S spec = order[i];
        const char mark = spec.empty() ? 0 : spec[0];
        if (mark == '&' || mark == '*') spec = spec.substr(1);
        parse(spec, args[i].value);
        if (mark == '*') {
            rg[i].vt = VT_BYREF | VT_VARIANT, rg[i].pvarVal = &args[i].value;
        } else if (mark == '&') {
            rg[i].vt = VT_BYREF | args[i].value.vt, rg[i].byref = &args[i].value.lVal;
        } else {
            rg[i] = args[i].value;
        }
    }
    DISPPARAMS params{rg.data(), namedIds.data(), (UINT)rg.size(), (UINT)namedIds.size()};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 99;
    hr = d->Invoke(ids[0], IID_NULL, 0, flags, &params, &result, &excep, &argErr);
    Outcome out{hr, result.vt == VT_EMPTY ? "" : show(result), "", argErr,
                excep.bstrDescription ? narrow(excep.bstrDescription) : ""};
    for (std::size_t i = order.size(); i-- > named.size();)  // positional, first to last
        out.args += (out.args.empty() ? "" : "|") + show(rg[i]);
    for (std::size_t i = 0; i < named.size(); ++i)
        out.args += "|" + show(rg[i]);
    for (auto& a : args)
        VariantClear(&a.value);
    VariantClear(&result);
    SysFreeString(excep.bstrSource), SysFreeString(excep.bstrDescription);
    return out;
}

DISPID idOf(const char* name) {
    const Member* m = AutomationTable::instance().find(name, MemberKind::Method);
    return m ? m->id : AutomationTable::instance().find(name, MemberKind::Get)->id;
}

constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;

IDispatch* create(bool byProgId = true) {
    CLSID clsid = CLSID_KorvelComTools;
    if (byProgId && FAILED(CLSIDFromProgID(L"KorvelCom.KorvelComTools", &clsid))) return nullptr;
    IDispatch* d = nullptr;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, (void**)&d);
    return d;
}

class Com : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ctl = create();
        ASSERT_NE(ctl, nullptr);
    }
    void TearDown() override {
        if (ctl) ctl->Release();
        CoUninitialize();
    }
    template <class I>
    I* as(const IID& iid) {
        I* p = nullptr;
        ctl->QueryInterface(iid, (void**)&p);
        return p;
    }
    S get(const S& name) { return call(ctl, name, G, "").result; }
    IDispatch* ctl = nullptr;
};

// ---- The registered type library is the member table ------------------------------------

VARTYPE vtOf(ValueType t) {
    switch (t) {
        case ValueType::Bool:
            return VT_BOOL;
        case ValueType::I16:
            return VT_I2;
        case ValueType::I32:
            return VT_I4;
        case ValueType::String:
            return VT_BSTR;
        case ValueType::Bytes:
            return VT_SAFEARRAY;
        case ValueType::Any:
            return VT_VARIANT;
        case ValueType::Array:
            return VT_SAFEARRAY;
        default:
            return VT_VOID;
    }
}

TEST(TypeLibrary, EveryMemberWithItsIdKindParametersAndDefaults) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_KorvelCom, 3, 0, 0, &lib), S_OK);
    for (const auto& [iid, events] :
         {std::pair{DIID__KorvelComTools, false}, std::pair{DIID___KorvelComTools, true}}) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(iid, &info), S_OK);
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        std::map<std::pair<MEMBERID, int>, S> found;  // (id, kind) -> rendered member
        for (UINT f = 0; f < attr->cFuncs; ++f) {
            FUNCDESC* fd = nullptr;
            info->GetFuncDesc(f, &fd);
            BSTR names[16] = {};
            UINT count = 0;
            info->GetNames(fd->memid, names, 16, &count);
            S text = narrow(names[0]) + "(";
            for (SHORT p = 0; p < fd->cParams; ++p) {
                const ELEMDESC& e = fd->lprgelemdescParam[p];
                const USHORT fl = e.paramdesc.wParamFlags;
                text += (p ? ", " : "") + S(fl & PARAMFLAG_FOUT ? "out " : "") +
                        (fl & PARAMFLAG_FOPT ? "opt " : "") +
                        (p + 1 < (SHORT)count ? narrow(names[p + 1]) : S("value")) + ":" +
                        std::to_string(e.tdesc.vt == VT_PTR ? e.tdesc.lptdesc->vt : e.tdesc.vt);
                if (fl & PARAMFLAG_FHASDEFAULT)
                    text += "=" + show(e.paramdesc.pparamdescex->varDefaultValue);
            }
            text += ")" + std::to_string(fd->elemdescFunc.tdesc.vt);
            found[{fd->memid, fd->invkind}] = text;
            for (UINT i = 0; i < count; ++i)
                SysFreeString(names[i]);
            info->ReleaseFuncDesc(fd);
        }
        std::size_t expected = 0;
        for (const Member& m : AutomationTable::instance().members()) {
            if ((m.kind == MemberKind::Event) != events) continue;
            ++expected;
            S want = m.name + "(";
            for (std::size_t p = 0; p < m.params.size(); ++p) {
                const Param& a = m.params[p];
                want += (p ? ", " : "") + S(a.byRef ? "out " : "") +
                        (a.defaultValue ? "opt " : "") + a.name + ":" +
                        std::to_string(vtOf(a.type));
                // A by-reference string's default is the control's (the library has none).
                if (a.defaultValue && !(a.byRef && a.type == ValueType::String)) {
                    VARIANT v;
                    VariantInit(&v);
                    VARIANT typed;
                    VariantInit(&typed);
                    const Value& dv = *a.defaultValue;
                    if (auto* s = std::get_if<S>(&dv))
                        parse("s:" + *s, v);
                    else if (auto* b = std::get_if<bool>(&dv))
                        parse("bool:" + S(*b ? "1" : "0"), v);
                    else
                        parse("i4:" + formatValue(dv), v);
                    VariantChangeType(&typed, &v, 0, vtOf(a.type));
                    want += "=" + show(typed);
                    VariantClear(&v), VariantClear(&typed);
                }
            }
            const int kind = m.kind == MemberKind::Get   ? INVOKE_PROPERTYGET
                             : m.kind == MemberKind::Put ? INVOKE_PROPERTYPUT
                                                         : INVOKE_FUNC;
            want += ")" + std::to_string(m.kind == MemberKind::Put ? VT_VOID : vtOf(m.result));
            EXPECT_EQ((found[{m.id, kind}]), want) << "id " << m.id;
            if (m.standardId) EXPECT_EQ((found[{m.standardId, INVOKE_FUNC}]), "AboutBox()24");
        }
        EXPECT_EQ(attr->cFuncs, expected + (events ? 0 : 1));  // and the about box's alias
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    // The class: creatable control, both interfaces as its defaults.
    ITypeInfo* cls = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_KorvelComTools, &cls), S_OK);
    TYPEATTR* attr = nullptr;
    cls->GetTypeAttr(&attr);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL),
              TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    cls->ReleaseTypeAttr(attr);
    cls->Release();
    lib->Release();
    CoUninitialize();
}

// ---- Calls by name: one row per case --------------------------------------------------------

TEST_F(Com, CallsConvertArgumentsWriteBackAndReportFailures) {
    struct Row {
        WORD flags;
        S name, args;
        HRESULT hr;
        S result, after;
    };
    const Row rows[] = {
        {G, "Version", "", S_OK, "s:3.00", ""},
        {G, "version", "", S_OK, "s:3.00", ""},
        // Puts coerce what scripts send (VT_I2 literals, doubles rounded as automation does).
        {P, "TOwaitChar", "i2:700", S_OK, "", "i2:700"},
        {G, "TOwaitChar", "", S_OK, "i4:700", ""},
        {P, "TOwaitChar", "r8:650.5", S_OK, "", "r8:650.5"},  // rounds to even
        {G, "TOwaitChar", "", S_OK, "i4:650", ""},
        {P, "ReceiveMessage", "i4:42", S_OK, "", "i4:42"},
        {G, "ReceiveMessage", "", S_OK, "s:42", ""},
        // By-reference write-back in every form a host passes; by value stays as it was.
        {M, "cCHECKSUMbuffer", "b1:ABCD|&i4:0|&i4:100", S_OK, "i2:266", "b1:ABCD|&i4:1|&i4:4"},
        {M, "cCHECKSUMbuffer", "b1:ABCD|*i2:3|*i4:100", S_OK, "i2:135", "b1:ABCD|*i4:3|*i4:4"},
        {M, "cCHECKSUMbuffer", "b1:ABCD|i4:0|i4:100", S_OK, "i2:266", "b1:ABCD|i4:0|i4:100"},
        {M, "cCHECKSUMbuffer", "a5:65,66|&i4:0|&i4:100", S_OK, "i2:131",
         "a5:i2:65,i2:66|&i4:5|&i4:6"},
        // Omitted optionals: trailing, VT_ERROR in the middle, named arguments.
        {M, "cCHECKSUMbuffer", "b0:AB", S_OK, "i2:131", "b0:AB"},
        {M, "cCHECKSUMbuffer", "b0:ABC|-|&i4:1", S_OK, "i2:131", "b0:ABC|-|&i4:1"},
        {M, "cCHECKSUMbuffer", "b0:ABC|longEnd=&i4:0", S_OK, "i2:65", "b0:ABC|&i4:0"},
        // Failures of the call itself.
        {M, "cLRC8str", "s:abc", DISP_E_PARAMNOTOPTIONAL, "", ""},
        {M, "cLRC8str", "null|i2:1|i2:3", DISP_E_TYPEMISMATCH, "", "2"},
        {M, "cLRC8str", "s:abc|s:x|i2:3", DISP_E_TYPEMISMATCH, "", "1"},
        {P, "CommPort", "i4:100000", DISP_E_TYPEMISMATCH, "", "0"},
        {M, "CommOpen", "i2:1", DISP_E_BADPARAMCOUNT, "", ""},
        {P, "Version", "s:9", DISP_E_MEMBERNOTFOUND, "", ""},
        {M, "NoSuchMember", "", DISP_E_UNKNOWNNAME, "", ""},
        {M, "cLRC8str", "s:abc|i2:1|intNothing=i2:3", DISP_E_UNKNOWNNAME, "", ""},
        {G, "POSAutoCode", "i2:-1", DISP_E_EXCEPTION, "", "POSAutoCode"},
        {G, "CommInput", "", DISP_E_EXCEPTION, "", "CommInput"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name + "(" + r.args + ")");
        const Outcome o = call(ctl, r.name, r.flags, r.args);
        EXPECT_EQ(o.hr, r.hr);
        EXPECT_EQ(o.result, r.result);
        if (r.hr == S_OK) EXPECT_EQ(o.args, r.after);
        if (r.hr == DISP_E_TYPEMISMATCH) EXPECT_EQ(std::to_string(o.argErr), r.after);
        if (r.hr == DISP_E_EXCEPTION)
            EXPECT_NE(o.description.find(r.after), S::npos) << o.description;
    }
    // The failed call left its description for the host's error object too.
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR text = nullptr;
    info->GetDescription(&text);
    EXPECT_NE(narrow(text).find("CommInput"), S::npos);
    SysFreeString(text), info->Release();
    auto* support = as<ISupportErrorInfo>(IID_ISupportErrorInfo);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
    support->Release();
}

TEST_F(Com, EveryByteRoundTripsThroughStringsAndChecksums) {
    S all;
    for (int b = 0; b < 256; ++b)
        all += (char)b;
    // The host's own ANSI conversion, as a VB host's strings arrive.
    VARIANT v[3];
    parse("s:" + all, v[2]), parse("i2:1", v[1]), parse("i2:256", v[0]);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS one{&v[2], &put, 1, 1}, three{v, nullptr, 3, 0};
    ASSERT_EQ(ctl->Invoke(idOf("ReceiveMessage"), IID_NULL, 0, P, &one, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(get("ReceiveMessage"), "s:" + all);
    VARIANT crc;
    VariantInit(&crc);
    ASSERT_EQ(ctl->Invoke(idOf("cCRC16str"), IID_NULL, 0, M, &three, &crc, nullptr, nullptr), S_OK);
    korvel::KorvelComTools native;
    EXPECT_EQ(show(crc), "i4:" + std::to_string(native.cCRC16str(all, 1, 256)));
    for (VARIANT& a : v)
        VariantClear(&a);
}

// ---- Events and property notifications ------------------------------------------------------

// A host's event sink: logs "tag:name" of each event; may change ErrorEvent's argument and
// unadvise itself from inside a handler.
struct Sink : IDispatch, IPropertyNotifySink {
    S tag, *log;
    S replaceError;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    bool unadviseInHandler = false;
    Sink(S t, S* l) : tag(std::move(t)), log(l) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID___KorvelComTools)
            *out = static_cast<IDispatch*>(this);
        else if (riid == IID_IPropertyNotifySink)
            *out = static_cast<IPropertyNotifySink*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        static const char* names[] = {"", "Received", "Error", "AbortEnabled"};
        *log += " " + tag + ":" + names[id];
        if (id == 2) {
            *log += "(" + narrow(*p->rgvarg[0].pbstrVal) + ")";
            if (!replaceError.empty()) {
                SysFreeString(*p->rgvarg[0].pbstrVal);
                *p->rgvarg[0].pbstrVal = SysAllocString(wide(replaceError).c_str());
            }
        }
        if (unadviseInHandler) point->Unadvise(cookie);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override {
        *log += " " + tag + ":changed" + std::to_string(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }
    void advise(IUnknown* control, const IID& iid) {
        IConnectionPointContainer* c = nullptr;
        control->QueryInterface(IID_IConnectionPointContainer, (void**)&c);
        c->FindConnectionPoint(iid, &point);
        c->Release();
        point->Advise(static_cast<IDispatch*>(this), &cookie);
    }
    ~Sink() {
        if (point) point->Unadvise(cookie), point->Release();
    }
};

TEST_F(Com, SinksReceiveEventsAndPropertyChangesAndMayLeaveInsideAHandler) {
    S log;
    Sink a("A", &log), b("B", &log), notes("N", &log);
    a.advise(ctl, DIID___KorvelComTools);
    b.advise(ctl, DIID___KorvelComTools);
    notes.advise(ctl, IID_IPropertyNotifySink);
    a.replaceError = "handled";
    b.unadviseInHandler = true;
    EXPECT_EQ(call(ctl, "POSAmount", P, "s:12").hr, S_OK);  // refused: 8 digits
    EXPECT_EQ(get("ReceiveError"), "s:handled");
    EXPECT_EQ(call(ctl, "POSAmount", P, "s:00001500").hr, S_OK);
    EXPECT_EQ(call(ctl, "ReceiveError", P, "s:").hr, S_OK);  // not persisted: no notice
    EXPECT_EQ(log, " A:Error(errorPOSAmountLength) B:Error(handled) N:changed39");
    IProvideClassInfo2* info = as<IProvideClassInfo2>(IID_IProvideClassInfo2);
    GUID events{};
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_EQ(events, DIID___KorvelComTools);
    info->Release();
}

TEST_F(Com, TwoSinksSeeARealPaymentOverTheSimulatorsPort) {
    const char* port = std::getenv("KORVEL_TEST_COM");
    if (!port) GTEST_SKIP() << "KORVEL_TEST_COM is not set (scripts/windows-com.sh sets it)";
    S log;
    Sink a("A", &log), b("B", &log);
    a.advise(ctl, DIID___KorvelComTools);
    b.advise(ctl, DIID___KorvelComTools);
    for (const S& put : {S("CommPort|i2:") + port, S("CommSettings|s:9600,n,8,1"),
                         S("POSAmount|s:00001500"), S("POSTimeout|i4:5000")})
        ASSERT_EQ(call(ctl, put.substr(0, put.find('|')), P, put.substr(put.find('|') + 1)).hr,
                  S_OK);
    const Outcome reply = call(ctl, "POSMessage", M, "");
    EXPECT_EQ(reply.hr, S_OK);
    EXPECT_EQ(get("EFTposAmount"), "s:00001500") << reply.result << get("ReceiveError");
    EXPECT_EQ(log, " A:Received B:Received");
    // The test frame's by-reference text becomes the frame; the receive's time-out comes back
    // as the deadline it waited for.
    const Outcome sent = call(ctl, "SendMessageTestK7200", M, "&s:AB");
    EXPECT_EQ(sent.result, "bool:1");
    EXPECT_EQ(sent.args.substr(0, 6) + std::to_string(sent.args.size()),
              "&s:AB\x03"
              "8");
    const Outcome rec = call(ctl, "RecMessageTestK7200", M, "&s:|&i2:0|&i4:50");
    EXPECT_EQ(rec.hr, S_OK);
    EXPECT_NE(rec.args.substr(rec.args.rfind('|')), "|&i4:50");
    call(ctl, "CommClose", M, "");
}

// ---- Persistence ----------------------------------------------------------------------------

// A container's property bag: keeps what is written, in order, and says which types it saw.
struct Bag : IPropertyBag {
    std::vector<std::pair<std::wstring, VARIANT>> items;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR key, VARIANT* v, IErrorLog*) override {
        for (auto& [k, value] : items)
            if (k == key) return VariantCopy(v, &value);
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR key, VARIANT* v) override {
        items.push_back({key, {}});
        VariantInit(&items.back().second);
        return VariantCopy(&items.back().second, v);
    }
    ~Bag() {
        for (auto& [k, v] : items)
            VariantClear(&v);
    }
};

TEST_F(Com, PropertiesSurviveABagAndAStreamAndDamagedStreamsAreRefused) {
    for (const char* put : {"TOwaitChar|i4:777", "POSAutoTOfctBeep|i4:5000", "CommPort|i2:4",
                            "ErrorEnabled|bool:0", "POSNumber|s:07"}) {
        const S p = put;
        ASSERT_EQ(call(ctl, p.substr(0, p.find('|')), P, p.substr(p.find('|') + 1)).hr, S_OK);
    }
    const S expected = "i4:777 i4:5000 i2:4 bool:0 s:07";
    auto state = [](IDispatch* d) {
        S out;
        for (const char* n :
             {"TOwaitChar", "POSAutoTOfctBeep", "CommPort", "ErrorEnabled", "POSNumber"})
            out += (out.empty() ? "" : " ") + call(d, n, G, "").result;
        return out;
    };
    // Property bag: 62 entries, each of the key table's automation type.
    Bag bag;
    auto* persistBag = as<IPersistPropertyBag>(IID_IPersistPropertyBag);
    ASSERT_EQ(persistBag->Save(&bag, TRUE, TRUE), S_OK);
    persistBag->Release();
    ASSERT_EQ(bag.items.size(), 62u);
    S types;
    for (int i : {0, 1, 2, 9})
        types += std::to_string(bag.items[i].second.vt) + " ";
    EXPECT_EQ(types, "2 8 3 11 ");  // CommPort I2, CommSettings BSTR, TOwaitChar I4, a BOOL
    IDispatch* other = create(false);
    auto* load = static_cast<IPersistPropertyBag*>(nullptr);
    other->QueryInterface(IID_IPersistPropertyBag, (void**)&load);
    EXPECT_EQ(load->Load(&bag, nullptr), S_OK);
    EXPECT_EQ(state(other), expected);
    load->Release();
    other->Release();

    // Stream: saved, loaded whole; a truncated, re-versioned or corrupted copy changes nothing.
    auto* persist = as<IPersistStreamInit>(IID_IPersistStreamInit);
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    persist->Release();
    STATSTG st{};
    stream->Stat(&st, STATFLAG_NONAME);
    S saved(st.cbSize.QuadPart, '\0');
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    stream->Read(saved.data(), (ULONG)saved.size(), nullptr);
    stream->Release();
    auto loadStream = [&](const S& bytes, S* after) {
        IDispatch* fresh = create(false);
        IPersistStreamInit* p = nullptr;
        fresh->QueryInterface(IID_IPersistStreamInit, (void**)&p);
        IStream* s = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &s);
        s->Write(bytes.data(), (ULONG)bytes.size(), nullptr);
        s->Seek(zero, STREAM_SEEK_SET, nullptr);
        const HRESULT hr = p->Load(s);
        *after = state(fresh);
        s->Release(), p->Release(), fresh->Release();
        return hr;
    };
    const S defaults = "i4:600 i4:10000 i2:1 bool:1 s:01";
    S corrupt = saved, versioned = saved, after;
    corrupt[12] = 9;  // the first entry's type
    versioned[4] = 2;
    EXPECT_EQ(loadStream(saved, &after), S_OK);
    EXPECT_EQ(after, expected);
    for (const auto& [bytes, hr] : {std::pair{saved.substr(0, saved.size() - 3), STG_E_READFAULT},
                                    std::pair{saved.substr(0, 7), STG_E_READFAULT},
                                    std::pair{versioned, E_FAIL}, std::pair{corrupt, E_FAIL}}) {
        EXPECT_EQ(loadStream(bytes, &after), hr);
        EXPECT_EQ(after, defaults);
    }
}

// ---- Registration ---------------------------------------------------------------------------

S regValue(HKEY root, const S& key, const char* name = nullptr) {
    char buffer[1024];
    DWORD size = sizeof buffer;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return "<none>";
    return buffer;
}

DWORD subkeys(HKEY root, const char* key) {
    HKEY k = nullptr;
    DWORD n = 0;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(k);
    return n;
}

TEST(Registration, WritesItsKeysMachineWideOrPerUserAndRemovesExactlyThose) {
    const S cls = "Software\\Classes\\CLSID\\{C42D8311-F517-4379-97BE-1F85117BCC71}";
    const S dllPath = regValue(HKEY_LOCAL_MACHINE, cls + "\\InprocServer32");
    HMODULE dll = LoadLibraryA(dllPath.c_str());
    ASSERT_NE(dll, nullptr) << dllPath;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    auto reg = (Entry)GetProcAddress(dll, "DllRegisterServer");
    auto unreg = (Entry)GetProcAddress(dll, "DllUnregisterServer");
    auto install = (Install)GetProcAddress(dll, "DllInstall");
    const char* trees[] = {"Software\\Classes", "Software\\Classes\\CLSID",
                           "Software\\Classes\\TypeLib", "Software\\Classes\\Interface"};
    auto counts = [&](HKEY root) {
        S out;
        for (const char* t : trees)
            out += std::to_string(subkeys(root, t)) + " ";
        return out;
    };
    auto keys = [&](HKEY root) {
        return regValue(root, cls + "\\InprocServer32", "ThreadingModel") + " " +
               regValue(root, cls + "\\ProgID") + " " + regValue(root, cls + "\\Version") + " " +
               regValue(root, cls + "\\ToolboxBitmap32").substr(dllPath.size()) + " " +
               regValue(root, "Software\\Classes\\KorvelCom.KorvelComTools\\CurVer") + " " +
               regValue(root,
                        "Software\\Classes\\TypeLib\\{589FAC7D-0B83-4B82-8DA5-C9FCE5ACDAB1}"
                        "\\3.0\\0\\win64")
                   .substr(dllPath.size());
    };
    const S registered = "Apartment KorvelCom.KorvelComTools.1 3.0 , 1 KorvelCom.KorvelComTools.1 ";
    EXPECT_EQ(keys(HKEY_LOCAL_MACHINE), registered);
    const S machine = counts(HKEY_LOCAL_MACHINE);
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, cls), "<none>");
    std::istringstream before(machine), after(counts(HKEY_LOCAL_MACHINE));
    for (int removed : {2, 1, 1, 2}) {  // 2 ProgIDs, the class, the library, 2 interfaces
        int b = 0, a = 0;
        before >> b, after >> a;
        EXPECT_EQ(b - a, removed);
    }
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(counts(HKEY_LOCAL_MACHINE), machine);

    ASSERT_EQ(install(TRUE, L"user"), S_OK);
    EXPECT_EQ(keys(HKEY_CURRENT_USER), registered);
    ASSERT_EQ(install(FALSE, L"user"), S_OK);
    EXPECT_EQ(regValue(HKEY_CURRENT_USER, cls), "<none>");
    EXPECT_EQ(counts(HKEY_LOCAL_MACHINE), machine);
    FreeLibrary(dll);
}

}  // namespace
