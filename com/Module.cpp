// The DLL's entry points for COM: the class factories of KorvelComTools and of its POS
// property page, and the unload check.
// Registration is in Registration.cpp.
#include "Module.h"

#include <atomic>
#include <new>

#include "ComControl.h"
#include "KorvelCom_h.h"
#include "PropertyPage.h"

namespace korvel::com {
namespace {

HMODULE module = nullptr;
std::atomic<long> locks{0};

HRESULT createControl(REFIID riid, void** out) {
    auto* control = new ComControl();
    const HRESULT hr = control->QueryInterface(riid, out);
    control->Release();  // the creation reference; the caller holds the one it asked for
    return hr;
}

class ClassFactory : public IClassFactory {
  public:
    explicit ClassFactory(HRESULT (*create)(REFIID, void**)) : create_(create) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: its references only keep the DLL loaded.
    ULONG STDMETHODCALLTYPE AddRef() override {
        lockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        unlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            return create_(riid, out);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? lockModule() : unlockModule();
        return S_OK;
    }

  private:
    HRESULT (*create_)(REFIID, void**);
};

ClassFactory factory(&createControl);
ClassFactory pageFactory(&createPosPage);

}  // namespace

HMODULE moduleHandle() {
    return module;
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void lockModule() {
    ++locks;
}

void unlockModule() {
    --locks;
}

HRESULT loadTypeLibrary(ITypeLib** out) {
    return LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, out);
}

}  // namespace korvel::com

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        korvel::com::module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_KorvelComTools) return korvel::com::factory.QueryInterface(riid, out);
    if (clsid == korvel::com::kClsidPosPage)
        return korvel::com::pageFactory.QueryInterface(riid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return korvel::com::locks == 0 ? S_OK : S_FALSE;
}

}  // extern "C"
