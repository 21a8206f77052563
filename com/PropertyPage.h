// The "POS" property page object: a COM property page (IPropertyPage) that draws the page
// model of include/korvelcom/ui/PosPropertyPage.h with Win32 controls and routes every edit,
// Apply and OK through it.  Containers find it through the control's ISpecifyPropertyPages.
#pragma once

#include <windows.h>

namespace korvel::com {

/// The page's class, registered beside the control's.
inline constexpr CLSID kClsidPosPage = {
    0x2bd898cd, 0x882b, 0x449a, {0x84, 0x0e, 0x72, 0x3f, 0xc2, 0x17, 0x39, 0xd3}};

/// A new page object answering `riid`, as its class factory gives it.
HRESULT createPosPage(REFIID riid, void** out);

/// The page's control ids: a field's is kPageFieldId plus its position in the model's field
/// order, its label's kPageLabelId plus the same, so a program driving the page finds each.
inline constexpr int kPageFieldId = 200;
inline constexpr int kPageLabelId = 300;
/// The window class of the page's window.
inline constexpr const wchar_t* kPageWindowClass = L"KorvelComPosPage";

}  // namespace korvel::com
