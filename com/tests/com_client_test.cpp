// KorvelCom.dll as a host sees it, under Wine or Windows: the registered type library against
// the member table, calls through IDispatch in every argument form, events, notifications,
// persistence and registration.  scripts/windows-com.sh registers the DLL and names the
// payment simulator's COM port in KORVEL_TEST_COM.
#include <windows.h>

#include <ocidl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <map>

#include "ComTest.h"
#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"

namespace {

using namespace korvel;

class Com : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_NE(ctl = create(), nullptr);
    }
    void TearDown() override {
        if (ctl) ctl->Release();
        CoUninitialize();
    }
    IDispatch* ctl = nullptr;
};

// ---- The registered type library is the member table ----------------------------------------

TEST_F(Com, TheRegisteredTypeLibraryHoldsEveryMemberAsTheTableHasIt) {
    auto vtOf = [](ValueType t) -> VARTYPE {
        constexpr VARTYPE vts[] = {VT_VOID, VT_BOOL,      VT_I2,      VT_I4,
                                   VT_BSTR, VT_SAFEARRAY, VT_VARIANT, VT_SAFEARRAY};
        return vts[static_cast<int>(t)];
    };
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_KorvelCom, 3, 0, 0, &lib), S_OK);
    for (const bool events : {false, true}) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(
            lib->GetTypeInfoOfGuid(events ? DIID___KorvelComTools : DIID__KorvelComTools, &info),
            S_OK);
        // Each function rendered as "name(out opt param:vt=default, ...)vt", by (id, kind).
        std::map<std::pair<MEMBERID, int>, S> found;
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
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
                text += S(p ? ", " : "") + (fl & PARAMFLAG_FOUT ? "out " : "") +
                        (fl & PARAMFLAG_FOPT ? "opt " : "") +
                        (p + 1 < (SHORT)count ? narrow(names[p + 1]) : "value") + ":" +
                        std::to_string(e.tdesc.vt == VT_PTR ? e.tdesc.lptdesc->vt : e.tdesc.vt);
                if (fl & PARAMFLAG_FHASDEFAULT) {
                    VARIANT typed;
                    VariantInit(&typed);
                    VariantChangeType(&typed, &e.paramdesc.pparamdescex->varDefaultValue, 0,
                                      e.tdesc.vt == VT_PTR ? e.tdesc.lptdesc->vt : e.tdesc.vt);
                    text += "=" + show(typed);
                    VariantClear(&typed);
                }
            }
            found[{fd->memid, fd->invkind}] =
                text + ")" + std::to_string(fd->elemdescFunc.tdesc.vt);
            for (UINT i = 0; i < count; ++i)
                SysFreeString(names[i]);
            info->ReleaseFuncDesc(fd);
        }
        std::size_t members = 0;
        for (const Member& m : AutomationTable::instance().members()) {
            if ((m.kind == MemberKind::Event) != events) continue;
            ++members;
            S want = m.name + "(";
            for (const Param& a : m.params) {
                want += S(&a == &m.params[0] ? "" : ", ") + (a.byRef ? "out " : "") +
                        (a.defaultValue ? "opt " : "") + a.name + ":" +
                        std::to_string(vtOf(a.type));
                // A by-reference string's default is applied by the control: the library has none.
                if (a.defaultValue && !(a.byRef && a.type == ValueType::String)) {
                    const char* prefix[] = {"", "bool:", "i2:", "i4:", "s:"};
                    const bool* b = std::get_if<bool>(&*a.defaultValue);
                    want += "=" + S(prefix[static_cast<int>(a.type)]) +
                            (b ? (*b ? "1" : "0") : formatValue(*a.defaultValue));
                }
            }
            const int kind = m.kind == MemberKind::Get   ? INVOKE_PROPERTYGET
                             : m.kind == MemberKind::Put ? INVOKE_PROPERTYPUT
                                                         : INVOKE_FUNC;
            want += ")" + std::to_string(m.kind == MemberKind::Put ? VT_VOID : vtOf(m.result));
            EXPECT_EQ((found[{m.id, kind}]), want) << "id " << m.id;
            if (m.standardId) EXPECT_EQ((found[{m.standardId, INVOKE_FUNC}]), "AboutBox()24");
        }
        EXPECT_EQ(attr->cFuncs, members + (events ? 0 : 1));  // + the about box's standard id
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    // The class: a creatable control, whose object names its events' interface.
    ITypeInfo* cls = nullptr;
    TYPEATTR* attr = nullptr;
    GUID source{};
    auto* classInfo = as<IProvideClassInfo2>(ctl, IID_IProvideClassInfo2);
    classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
    classInfo->Release();
    EXPECT_EQ(source, DIID___KorvelComTools);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_KorvelComTools, &cls), S_OK);
    cls->GetTypeAttr(&attr);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL),
              TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
    cls->ReleaseTypeAttr(attr), cls->Release(), lib->Release();
}

// ---- Calls: one row per case ----------------------------------------------------------------

TEST_F(Com, CallsConvertArgumentsWriteBackTakeDefaultsAndReportFailures) {
    // Every byte, through the ANSI code page both ways, into a property and a checksum.
    S all;
    for (int b = 0; b < 256; ++b)
        all += (char)b;
    const S crc = std::to_string(korvel::KorvelComTools().cCRC16str(all, 1, 256));
    struct Row {
        WORD flags;
        S name, args;
        HRESULT hr;
        S result, after;  // after: the arguments after the call, or the note of a failure
    } const rows[] = {
        {G, "version", "", S_OK, "s:3.00", ""},
        // Puts (result: the get after them) coerce what scripts send: VT_I2 literals, doubles
        // rounded to even, numbers as text.
        {P, "TOwaitChar", "i2:700", S_OK, "i4:700", ""},
        {P, "TOwaitChar", "r8:650.5", S_OK, "i4:650", ""},
        {P, "ReceiveMessage", "i4:42", S_OK, "s:42", ""},
        {P, "ReceiveMessage", "s:<0-255>", S_OK, "s:" + all, ""},
        {M, "cCRC16str", "s:<0-255>|i2:1|i2:256", S_OK, "i4:" + crc, "s:" + all + "|i2:1|i2:256"},
        // Write-back in each form a host passes (by value stays as it was), lower bound kept.
        {M, "cCHECKSUMbuffer", "b1:ABCD|&i4:0|&i4:100", S_OK, "i2:266", "b1:ABCD|&i4:1|&i4:4"},
        {M, "cCHECKSUMbuffer", "b1:ABCD|*i2:3|*i4:100", S_OK, "i2:135", "b1:ABCD|*i4:3|*i4:4"},
        {M, "cCHECKSUMbuffer", "b1:ABCD|i4:0|i4:100", S_OK, "i2:266", "b1:ABCD|i4:0|i4:100"},
        // Omitted optionals: trailing, VT_ERROR in the middle; a named argument.
        {M, "cCHECKSUMbuffer", "b0:AB", S_OK, "i2:131", "b0:AB"},
        {M, "cCHECKSUMbuffer", "b0:ABC|-|&i4:1", S_OK, "i2:131", "b0:ABC|-|&i4:1"},
        {M, "cCHECKSUMbuffer", "b0:ABC|LONGEND=&i4:0", S_OK, "i2:65", "b0:ABC|&i4:0"},
        // A script's Empty variable for a required parameter stands for "" (or 0).
        {M, "SupParityString", "*empty", S_OK, "s:", "*empty"},
        // Failures of the call itself.
        {M, "cLRC8str", "s:abc", DISP_E_PARAMNOTOPTIONAL, "", "99"},
        {M, "cLRC8str", "null|i2:1|i2:3", DISP_E_TYPEMISMATCH, "", "2"},
        {M, "cLRC8str", "s:abc|s:x|i2:3", DISP_E_TYPEMISMATCH, "", "1"},
        {P, "CommPort", "i4:100000", DISP_E_TYPEMISMATCH, "", "0"},
        {M, "CommOpen", "i2:1", DISP_E_BADPARAMCOUNT, "", "99"},
        {P, "Version", "s:9", DISP_E_MEMBERNOTFOUND, "", "99"},
        {M, "NoSuchMember", "", DISP_E_UNKNOWNNAME, "", ""},
        {M, "cLRC8str", "s:abc|i2:1|intNothing=i2:3", DISP_E_UNKNOWNNAME, "", ""},
        {G, "POSAutoCode", "i2:-1", DISP_E_EXCEPTION, "", "POSAutoCode: "},
        {G, "CommInput", "", DISP_E_EXCEPTION, "", "CommInput: "},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name + "(" + r.args + ")");
        const Outcome o = call(ctl, r.name, r.flags, r.args);
        EXPECT_EQ(o.hr, r.hr);
        EXPECT_EQ(o.result + (r.flags == P && r.hr == S_OK ? get(ctl, r.name) : ""), r.result);
        if (r.hr == S_OK && r.flags != P) EXPECT_EQ(o.args, r.after);
        if (r.hr != S_OK && r.hr != DISP_E_UNKNOWNNAME)
            EXPECT_EQ(o.note.substr(0, r.after.size()), r.after);
    }
    // The last failure is also the thread's error object.
    IErrorInfo* info = nullptr;
    BSTR text = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    info->GetDescription(&text);
    EXPECT_EQ(narrow(text).substr(0, 11), "CommInput: ");
    SysFreeString(text), info->Release();
    // The basic request fields belong to the thread: a second control sees the first's.
    IDispatch* other = create(false);
    put(ctl, "POSAmount|s:00004200");
    EXPECT_EQ(get(other, "POSAmount") + get(other, "TOwaitChar"), "s:00004200i4:600");
    other->Release();
}

// ---- Events and property notifications ------------------------------------------------------

// A host's sink: logs " TAG:event"; may change ErrorEvent's argument and leave in a handler.
struct Sink : SinkDispatch, IPropertyNotifySink {
    S tag, *log, replaceError;
    bool leaveInHandler = false;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    Sink(S t, S* l, IUnknown* control, const IID& iid) : tag(std::move(t)), log(l) {
        IConnectionPointContainer* c = nullptr;
        control->QueryInterface(IID_IConnectionPointContainer, (void**)&c);
        c->FindConnectionPoint(iid, &point);
        c->Release();
        point->Advise(static_cast<IDispatch*>(this), &cookie);
    }
    ~Sink() { point->Unadvise(cookie), point->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = riid == IID_IPropertyNotifySink ? static_cast<IPropertyNotifySink*>(this) : nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID___KorvelComTools)
            *out = static_cast<IDispatch*>(this);
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        *log += " " + tag + ":" +
                (id == 1   ? "Received"
                 : id == 2 ? "Error(" + narrow(*p->rgvarg[0].pbstrVal) + ")"
                           : "?");
        if (id == 2 && !replaceError.empty()) {
            SysFreeString(*p->rgvarg[0].pbstrVal);
            *p->rgvarg[0].pbstrVal = SysAllocString(wide(replaceError).c_str());
        }
        if (leaveInHandler) point->Unadvise(cookie);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override {
        return *log += " " + tag + ":changed" + std::to_string(id), S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }
};

TEST_F(Com, SinksGetEventsAndChangesMayLeaveInAHandlerAndSeeARealPayment) {
    S log;
    Sink a("A", &log, ctl, DIID___KorvelComTools), b("B", &log, ctl, DIID___KorvelComTools);
    Sink notes("N", &log, ctl, IID_IPropertyNotifySink);
    a.replaceError = "handled";
    put(ctl, "POSAmount|s:12");  // refused: eight digits
    EXPECT_EQ(get(ctl, "ReceiveError"), "s:handled");
    put(ctl, "POSAmount|s:00001500");
    put(ctl, "ReceiveError|s:");  // not persisted: no notice
    b.leaveInHandler = true;
    put(ctl, "POSAmount|s:1");
    put(ctl, "POSAmount|s:1");  // B has left
    EXPECT_EQ(log,
              " A:Error(errorPOSAmountLength) B:Error(handled) N:changed39 "
              "A:Error(errorPOSAmountLength) B:Error(handled) A:Error(errorPOSAmountLength)");
    const char* port = std::getenv("KORVEL_TEST_COM");
    if (!port) GTEST_SKIP() << "KORVEL_TEST_COM is not set (scripts/windows-com.sh sets it)";
    Sink c("C", &log, ctl, DIID___KorvelComTools);
    log.clear();
    for (const S& p :
         {"CommPort|i2:" + S(port), S("CommSettings|s:9600,n,8,1"), S("POSAmount|s:00001500")})
        put(ctl, p);
    EXPECT_NE(call(ctl, "POSMessage", M, "").result, "s:");
    EXPECT_EQ(get(ctl, "EFTposAmount"), "s:00001500") << get(ctl, "ReceiveError");
    EXPECT_EQ(log, " N:changed8 N:changed9 N:changed39 A:Received C:Received");
    // The test frame's text comes back framed (ETX and two CRC bytes); the receive's time-out
    // comes back as the deadline it waited for.
    const Outcome sent = call(ctl, "SendMessageTestK7200", M, "&s:AB");
    EXPECT_EQ(sent.result + " " + sent.args.substr(0, 6) + std::to_string(sent.args.size()),
              "bool:1 &s:AB\x03"
              "8");
    const Outcome rec = call(ctl, "RecMessageTestK7200", M, "&s:|&i2:0|&i4:50");
    EXPECT_NE(rec.args.substr(rec.args.rfind('|')), "|&i4:50");
    call(ctl, "CommClose", M, "");
}

// ---- Persistence ----------------------------------------------------------------------------

// A container's property bag: keeps what is written, in order.
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
        return VariantCopy(&items.back().second, v);
    }
    ~Bag() {
        for (auto& item : items)
            VariantClear(&item.second);
    }
};

TEST_F(Com, PropertiesSurviveABagAndAStreamAndDamagedStreamsChangeNothing) {
    for (const char* p : {"TOwaitChar|i4:777", "POSAutoTOfctBeep|i4:5000", "CommPort|i2:4",
                          "ErrorEnabled|bool:0", "POSNumber|s:07"})
        put(ctl, p);
    auto state = [](IDispatch* d) {
        S out;
        for (const char* n :
             {"TOwaitChar", "POSAutoTOfctBeep", "CommPort", "ErrorEnabled", "POSNumber"})
            out += get(d, n) + " ";
        return out;
    };
    const S saved = "i4:777 i4:5000 i2:4 bool:0 s:07 ",
            defaults = "i4:600 i4:10000 i2:1 bool:1 s:01 ";
    Bag bag;
    auto* bagSaver = as<IPersistPropertyBag>(ctl, IID_IPersistPropertyBag);
    ASSERT_EQ(bagSaver->Save(&bag, FALSE, TRUE), S_OK);
    bagSaver->Release();
    ASSERT_EQ(bag.items.size(), 62u);
    S types;  // CommPort, CommSettings, TOwaitChar, ErrorEnabled
    for (int i : {0, 1, 2, 9})
        types += std::to_string(bag.items[i].second.vt) + " ";
    EXPECT_EQ(types, "2 8 3 11 ");
    // Loads into a fresh control from `bag` or from a stream of `bytes`; its state afterwards.
    auto load = [&](const S* bytes, HRESULT* hr) {
        IDispatch* fresh = create(false);
        if (!bytes) {
            auto* loader = as<IPersistPropertyBag>(fresh, IID_IPersistPropertyBag);
            *hr = loader->Load(&bag, nullptr);
            loader->Release();
        } else {
            auto* loader = as<IPersistStreamInit>(fresh, IID_IPersistStreamInit);
            IStream* s = SHCreateMemStream((const BYTE*)bytes->data(), (UINT)bytes->size());
            *hr = loader->Load(s);
            s->Release(), loader->Release();
        }
        const S out = state(fresh);
        fresh->Release();
        return out;
    };
    HRESULT hr;
    EXPECT_EQ(load(nullptr, &hr), saved);
    auto* streamSaver = as<IPersistStreamInit>(ctl, IID_IPersistStreamInit);
    EXPECT_EQ(streamSaver->IsDirty(), S_OK);
    const S bytes = streamOf(ctl, TRUE);
    EXPECT_EQ(streamSaver->IsDirty(), S_FALSE);
    streamSaver->Release();
    EXPECT_EQ(load(&bytes, &hr), saved);
    EXPECT_EQ(hr, S_OK);
    S versioned = bytes, corrupt = bytes;
    versioned[4] = 2;
    corrupt[12] = 9;  // the first entry's type
    for (const auto& [damaged, refusal] :
         {std::pair{bytes.substr(0, bytes.size() - 3), STG_E_READFAULT},
          std::pair{bytes.substr(0, 7), STG_E_READFAULT}, std::pair{versioned, E_FAIL},
          std::pair{corrupt, E_FAIL}}) {
        EXPECT_EQ(load(&damaged, &hr), defaults);
        EXPECT_EQ(hr, refusal);
    }
}

// ---- Registration ---------------------------------------------------------------------------

TEST(Registration, WritesItsKeysMachineWideOrPerUserAndRemovesExactlyThose) {
    const S cls = "Software\\Classes\\CLSID\\{C42D8311-F517-4379-97BE-1F85117BCC71}";
    auto value = [](HKEY root, const S& key, const char* name = nullptr) {
        char buffer[1024];
        DWORD size = sizeof buffer;
        return RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size)
                   ? S("-")
                   : S(buffer);
    };
    const S dll = value(HKEY_LOCAL_MACHINE, cls + "\\InprocServer32");
    HMODULE module = LoadLibraryA(dll.c_str());
    ASSERT_NE(module, nullptr) << dll;
    auto reg = (HRESULT(STDAPICALLTYPE*)())GetProcAddress(module, "DllRegisterServer");
    auto unreg = (HRESULT(STDAPICALLTYPE*)())GetProcAddress(module, "DllUnregisterServer");
    auto install = (HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR))GetProcAddress(module, "DllInstall");
    // Subkeys of the classes root and of CLSID, TypeLib and Interface.
    auto counts = [](HKEY root) {
        std::vector<DWORD> n;
        for (const char* key : {"", "\\CLSID", "\\TypeLib", "\\Interface"}) {
            HKEY k = nullptr;
            RegOpenKeyExA(root, ("Software\\Classes" + S(key)).c_str(), 0, KEY_READ, &k);
            RegQueryInfoKeyA(k, 0, 0, 0, &n.emplace_back(0), 0, 0, 0, 0, 0, 0, 0);
            RegCloseKey(k);
        }
        return n;
    };
    auto keys = [&](HKEY root) {
        return value(root, cls + "\\InprocServer32", "ThreadingModel") + " " +
               value(root, cls + "\\ProgID") + " " + value(root, cls + "\\Version") + " " +
               value(root, cls + "\\ToolboxBitmap32") + " " +
               value(root, "Software\\Classes\\KorvelCom.KorvelComTools\\CurVer") + " " +
               value(root,
                     "Software\\Classes\\TypeLib\\{589FAC7D-0B83-4B82-8DA5-C9FCE5ACDAB1}\\3."
                     "0\\0\\win64");
    };
    const S registered =
        "Apartment KorvelCom.KorvelComTools.1 3.0 " + dll + ", 1 KorvelCom.KorvelComTools.1 " + dll;
    EXPECT_EQ(keys(HKEY_LOCAL_MACHINE), registered);
    const std::vector<DWORD> machine = counts(HKEY_LOCAL_MACHINE);
    ASSERT_EQ(unreg(), S_OK);  // 2 ProgIDs, the class and its page, the library, 2 interfaces
    EXPECT_EQ(counts(HKEY_LOCAL_MACHINE),
              (std::vector<DWORD>{machine[0] - 2, machine[1] - 2, machine[2] - 1, machine[3] - 2}));
    EXPECT_EQ(keys(HKEY_LOCAL_MACHINE), "- - - - - -");
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(counts(HKEY_LOCAL_MACHINE), machine);
    ASSERT_EQ(install(TRUE, L"user"), S_OK);
    EXPECT_EQ(keys(HKEY_CURRENT_USER), registered);
    ASSERT_EQ(install(FALSE, L"User"), S_OK);
    EXPECT_EQ(keys(HKEY_CURRENT_USER), "- - - - - -");
    EXPECT_EQ(keys(HKEY_LOCAL_MACHINE), registered);
    FreeLibrary(module);
}

}  // namespace
