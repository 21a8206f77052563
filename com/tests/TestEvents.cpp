// Test-only: lets a script that cannot bind events (Wine's script host) receive the control's.
// `CreateObject("KorvelComTest.Events").Connect control, handler` advises a sink that calls the
// handler's method named like each event (ErrorEvent's argument by reference, as a variant).
// Registered only in the test prefix by scripts/windows-com.sh; never shipped.
#include <windows.h>

#include <dispex.h>
#include <ocidl.h>

#include "KorvelCom_h.h"

namespace {

// IDispatchEx (not in mingw-w64's libuuid) and the forwarder's class.
const IID kIDispatchEx = {
    0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};
const CLSID kClsid = {0x6a1b5d4e, 0x3c2f, 0x4e8a, {0x9b, 0x7d, 0x1f, 0x0e, 0x2d, 0x3c, 0x4b, 0x5a}};

// Both objects: the script's forwarder (handler_ null, one method "Connect") and the sink.
struct Object : IDispatch {
    LONG refs = 1;
    IDispatch* handler_;
    explicit Object(IDispatch* handler) : handler_(handler) {
        if (handler_) handler_->AddRef();
    }
    virtual ~Object() {
        if (handler_) handler_->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID___KorvelComTools)
            return *out = nullptr, E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&refs);
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                            DISPID* id) override {
        *id = lstrcmpiW(names[0], L"Connect") == 0 ? 1 : DISPID_UNKNOWN;
        return *id == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        return handler_ ? forward(id, p) : connect(p);
    }

    HRESULT connect(DISPPARAMS* p) {
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        DWORD cookie = 0;
        // Script variables arrive by reference (VT_BYREF|VT_VARIANT).
        IDispatch* objects[2] = {};
        for (UINT i = 0; i < p->cArgs && i < 2; ++i) {
            const VARIANT* v =
                p->rgvarg[i].vt == (VT_BYREF | VT_VARIANT) ? p->rgvarg[i].pvarVal : &p->rgvarg[i];
            objects[i] = v->vt == VT_DISPATCH ? v->pdispVal : nullptr;
        }
        if (p->cArgs != 2 || !objects[0] || !objects[1]) return DISP_E_TYPEMISMATCH;
        HRESULT hr = objects[1]->QueryInterface(IID_IConnectionPointContainer, (void**)&container);
        if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID___KorvelComTools, &point);
        if (SUCCEEDED(hr)) {
            Object* sink = new Object(objects[0]);
            hr = point->Advise(sink, &cookie);  // the control keeps the sink as long as it lives
            sink->Release(), point->Release();
        }
        if (container) container->Release();
        return hr;
    }

    HRESULT forward(DISPID id, DISPPARAMS* p) {
        const wchar_t* names[] = {L"", L"ReceivedEvent", L"ErrorEvent", L"AbortEnabledEvent"};
        if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
        VARIANT text, arg;  // ErrorEvent: a variant holding the string, passed by reference
        VariantInit(&text);
        text.vt = VT_BSTR;
        text.bstrVal = SysAllocString(id == 2 ? *p->rgvarg[0].pbstrVal : L"");
        arg.vt = VT_BYREF | VT_VARIANT;
        arg.pvarVal = &text;
        DISPPARAMS args{&arg, nullptr, id == 2 ? 1u : 0u, 0};
        // A VBScript class answers names through IDispatchEx only.
        IDispatchEx* ex = nullptr;
        DISPID member = DISPID_UNKNOWN;
        BSTR name = SysAllocString(names[id]);
        HRESULT hr = handler_->QueryInterface(kIDispatchEx, (void**)&ex);
        if (SUCCEEDED(hr)) hr = ex->GetDispID(name, fdexNameCaseInsensitive, &member);
        if (SUCCEEDED(hr))
            hr = ex->InvokeEx(member, 0, DISPATCH_METHOD, &args, nullptr, nullptr, nullptr);
        if (ex) ex->Release();
        if (id == 2 && SUCCEEDED(VariantChangeType(&text, &text, 0, VT_BSTR))) {
            SysFreeString(*p->rgvarg[0].pbstrVal);
            *p->rgvarg[0].pbstrVal = SysAllocString(text.bstrVal);
        }
        VariantClear(&text), SysFreeString(name);
        return hr;
    }
};

struct Factory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
        Object* forwarder = new Object(nullptr);
        const HRESULT hr = forwarder->QueryInterface(riid, out);
        forwarder->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    return clsid == kClsid ? factory.QueryInterface(riid, out) : CLASS_E_CLASSNOTAVAILABLE;
}

// Stays loaded for the process: scripts are short.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_FALSE;
}
