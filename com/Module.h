// What the DLL's objects share: the module handle, the count that keeps the DLL loaded, the
// embedded type library and the server's identities.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

namespace korvel::com {

/// The DLL's own module handle (set when the DLL is loaded).
HMODULE moduleHandle();
/// The DLL's full path.
std::wstring modulePath();
/// Counts live objects and LockServer locks: DllCanUnloadNow answers S_OK at zero.
void lockModule();
void unlockModule();
/// The type library embedded in the DLL (resource TYPELIB 1), with a reference the caller
/// releases; an error HRESULT when it cannot be loaded.
HRESULT loadTypeLibrary(ITypeLib** out);

/// Names the registry and hosts see.
inline constexpr const wchar_t* kProgId = L"KorvelCom.KorvelComTools";
inline constexpr const wchar_t* kVersionedProgId = L"KorvelCom.KorvelComTools.1";
inline constexpr const wchar_t* kClassName = L"KorvelComTools Control";

}  // namespace korvel::com
