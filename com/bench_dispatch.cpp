// What IDispatch costs beyond the member itself: a property put, a method call and a property
// get through the registered control's Invoke (arguments as a host passes them), each against
// the same member called directly on a control in this process.  Reports nanoseconds per call;
// asserts nothing.  Run under Wine after registering the DLL (scripts/windows-com.sh bench).
#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <functional>

#include "KorvelCom_h.h"
#include "korvelcom/KorvelComTools.h"

namespace {

double nsPerCall(const std::function<void()>& f, int n) {
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    for (int i = 0; i < n / 10; ++i)
        f();  // warm up
    QueryPerformanceCounter(&start);
    for (int i = 0; i < n; ++i)
        f();
    QueryPerformanceCounter(&end);
    return 1e9 * static_cast<double>(end.QuadPart - start.QuadPart) / freq.QuadPart / n;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDispatch* d = nullptr;
    if (FAILED(CoCreateInstance(CLSID_KorvelComTools, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&d)))) {
        std::puts("KorvelCom.KorvelComTools is not registered");
        return 1;
    }
    korvel::KorvelComTools direct;
    const int n = 200000;
    VARIANT value, result, args[3];
    VariantInit(&result);
    value.vt = VT_I4;
    value.lVal = 700;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS putParams{&value, &put, 1, 1}, none{nullptr, nullptr, 0, 0};
    args[2].vt = VT_BSTR;
    args[2].bstrVal = SysAllocString(L"ABCDEFGHIJKLMNOP");
    args[1].vt = args[0].vt = VT_I2;  // as a script's literals arrive
    args[1].iVal = 1;
    args[0].iVal = 16;
    DISPPARAMS callParams{args, nullptr, 3, 0};
    // Ids as a host caches them after GetIDsOfNames.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"TOwaitChar"), const_cast<LPOLESTR>(L"cLRC8str")};
    DISPID ids[2];
    d->GetIDsOfNames(IID_NULL, &names[0], 1, 0, &ids[0]);
    d->GetIDsOfNames(IID_NULL, &names[1], 1, 0, &ids[1]);
    const std::string packet = "ABCDEFGHIJKLMNOP";
    struct Case {
        const char* what;
        std::function<void()> com, native;
    } cases[] = {
        {"put TOwaitChar",
         [&] {
             d->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYPUT, &putParams, nullptr, nullptr,
                       nullptr);
         },
         [&] { direct.setTOwaitChar(700); }},
        {"call cLRC8str(16 chars)",
         [&] {
             d->Invoke(ids[1], IID_NULL, 0, DISPATCH_METHOD, &callParams, &result, nullptr,
                       nullptr);
             VariantClear(&result);
         },
         [&] { direct.cLRC8str(packet, 1, 16); }},
        {"get TOwaitChar",
         [&] {
             d->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
             VariantClear(&result);
         },
         [&] { (void)direct.TOwaitChar(); }},
    };
    std::printf("%-26s %12s %12s %12s\n", "IDispatch overhead", "Invoke ns", "direct ns",
                "beyond ns");
    for (const Case& c : cases) {
        const double com = nsPerCall(c.com, n), native = nsPerCall(c.native, n);
        std::printf("%-26s %12.0f %12.0f %12.0f\n", c.what, com, native, com - native);
    }
    SysFreeString(args[2].bstrVal);
    d->Release();
    CoUninitialize();
    return 0;
}
