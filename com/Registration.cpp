// DllRegisterServer / DllUnregisterServer / DllInstall: the class, its ProgIDs and its type
// library in the registry, machine-wide (HKLM\Software\Classes) or for the current user only
// (HKCU\Software\Classes, no administrator rights).  Both write the same list of keys, and
// unregistering deletes exactly those keys.  Key list: docs/com.md.
#include <windows.h>

#include <olectl.h>

#include <string>
#include <vector>

#include "KorvelCom_h.h"
#include "Module.h"
#include "PropertyPage.h"

namespace korvel::com {
namespace {

std::wstring text(const GUID& g) {
    wchar_t buffer[40];
    StringFromGUID2(g, buffer, 40);
    return buffer;
}

struct Entry {
    std::wstring key;   // below the classes root
    std::wstring name;  // value name ("" is the key's default value)
    std::wstring value;
};

// The categories the class implements: a control, and safe to initialise from persisted
// data (loading sets fields only; nothing is opened or run).  It is not marked safe for
// scripting: its members open serial ports, start programs and write files.
constexpr const wchar_t* kCatControl = L"{40FC6ED4-2438-11CF-A3DB-080036F12502}";
constexpr const wchar_t* kCatSafeForInitializing = L"{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
// The proxy of dispatch-only interfaces (PSDispatch), as the type library's interfaces use.
constexpr const wchar_t* kPSDispatch = L"{00020420-0000-0000-C000-000000000046}";
// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE |
// SETCLIENTSITEFIRST.
constexpr const wchar_t* kMiscStatus = L"131473";

std::vector<Entry> entries() {
    const std::wstring path = modulePath();
    const std::wstring dir = path.substr(0, path.find_last_of(L"\\/"));
    const std::wstring clsid = L"CLSID\\" + text(CLSID_KorvelComTools);
    const std::wstring libid = text(LIBID_KorvelCom);
    const std::wstring typelib = L"TypeLib\\" + libid + L"\\3.0";
    const std::wstring page = L"CLSID\\" + text(kClsidPosPage);
    std::vector<Entry> out = {
        {clsid, L"", kClassName},
        {clsid + L"\\InprocServer32", L"", path},
        {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsid + L"\\ProgID", L"", kVersionedProgId},
        {clsid + L"\\VersionIndependentProgID", L"", kProgId},
        {clsid + L"\\TypeLib", L"", libid},
        {clsid + L"\\Version", L"", L"3.0"},
        {clsid + L"\\Control", L"", L""},
        {clsid + L"\\MiscStatus", L"", L"0"},
        {clsid + L"\\MiscStatus\\1", L"", kMiscStatus},
        {clsid + L"\\ToolboxBitmap32", L"", path + L", 1"},
        {clsid + L"\\Implemented Categories\\" + kCatControl, L"", L""},
        {clsid + L"\\Implemented Categories\\" + kCatSafeForInitializing, L"", L""},
        {kProgId, L"", kClassName},
        {std::wstring(kProgId) + L"\\CLSID", L"", text(CLSID_KorvelComTools)},
        {std::wstring(kProgId) + L"\\CurVer", L"", kVersionedProgId},
        {kVersionedProgId, L"", kClassName},
        {std::wstring(kVersionedProgId) + L"\\CLSID", L"", text(CLSID_KorvelComTools)},
        // What RegisterTypeLib writes, written here so that the per-user form is the same.
        {typelib, L"", L"KorvelCom payment terminal control"},
        {typelib + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"), L"", path},
        {typelib + L"\\FLAGS", L"", L"0"},
        {typelib + L"\\HELPDIR", L"", dir},
        // The POS property page's class.
        {page, L"", L"KorvelComTools POS property page"},
        {page + L"\\InprocServer32", L"", path},
        {page + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
    };
    for (const auto& [iid, name] : {std::pair{DIID__KorvelComTools, L"_KorvelComTools"},
                                    std::pair{DIID___KorvelComTools, L"__KorvelComTools"}}) {
        const std::wstring key = L"Interface\\" + text(iid);
        out.push_back({key, L"", name});
        out.push_back({key + L"\\ProxyStubClsid", L"", kPSDispatch});
        out.push_back({key + L"\\ProxyStubClsid32", L"", kPSDispatch});
        out.push_back({key + L"\\TypeLib", L"", libid});
        out.push_back({key + L"\\TypeLib", L"Version", L"3.0"});
    }
    return out;
}

// The keys unregistration deletes with everything below them (all of them ours alone), then
// the library's key when no other version of it is left.
std::vector<std::wstring> ownedTrees() {
    return {L"CLSID\\" + text(CLSID_KorvelComTools),
            L"CLSID\\" + text(kClsidPosPage),
            kProgId,
            kVersionedProgId,
            L"TypeLib\\" + text(LIBID_KorvelCom) + L"\\3.0",
            L"Interface\\" + text(DIID__KorvelComTools),
            L"Interface\\" + text(DIID___KorvelComTools)};
}

HKEY classesRoot(bool perUser, REGSAM access) {
    HKEY root = nullptr;
    if (RegCreateKeyExW(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                        nullptr, 0, access, nullptr, &root, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return root;
}

HRESULT unregister(bool perUser) {
    HKEY root = classesRoot(perUser, KEY_ALL_ACCESS);
    if (!root) return SELFREG_E_CLASS;
    for (const std::wstring& key : ownedTrees()) {
        const LSTATUS s = RegDeleteTreeW(root, key.c_str());
        if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) {
            RegCloseKey(root);
            return SELFREG_E_CLASS;
        }
    }
    // Fails, as it should, while another version of the library is registered.  The shared
    // containers (CLSID, TypeLib, Interface) stay, even where registration created them.
    RegDeleteKeyW(root, (L"TypeLib\\" + text(LIBID_KorvelCom)).c_str());
    RegCloseKey(root);
    return S_OK;
}

HRESULT registerServer(bool perUser) {
    HKEY root = classesRoot(perUser, KEY_ALL_ACCESS);
    if (!root) return SELFREG_E_CLASS;
    LSTATUS s = ERROR_SUCCESS;
    for (const Entry& e : entries()) {
        HKEY key = nullptr;
        s = RegCreateKeyExW(root, e.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        if (s != ERROR_SUCCESS) break;
        if (!e.value.empty() || e.name.empty())
            s = RegSetValueExW(key, e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(e.value.c_str()),
                               static_cast<DWORD>((e.value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        if (s != ERROR_SUCCESS) break;
    }
    RegCloseKey(root);
    if (s != ERROR_SUCCESS) {
        unregister(perUser);  // leave nothing half-written
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

}  // namespace
}  // namespace korvel::com

extern "C" {

HRESULT STDAPICALLTYPE DllRegisterServer() {
    return korvel::com::registerServer(false);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return korvel::com::unregister(false);
}

/// `regsvr32 /i:user KorvelCom.dll` (and /u /i:user): registration for the current user only;
/// any other command line registers machine-wide.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    const bool perUser = commandLine && lstrcmpiW(commandLine, L"user") == 0;
    return install ? korvel::com::registerServer(perUser) : korvel::com::unregister(perUser);
}

}  // extern "C"
