// The creatable class of ZanQuilmo4.ocx, ZanQuilmoAx4, and what its module's exports and
// registration need of it.
#pragma once

#include <windows.h>

namespace zq {

extern const wchar_t kProgId[];
// Misc status: OLEMISC_ACTSLIKELABEL and OLEMISC_SIMPLEFRAME for the control, and for its
// ActiveX form RECOMPOSEONRESIZE, CANTLINKINSIDE, INSIDEOUT, ACTIVATEWHENVISIBLE and
// SETCLIENTSITEFIRST: 205201.
inline constexpr DWORD kMiscStatus = 0x32191;
// The string resource that names the control's verb 0.
inline constexpr UINT kVerbStringId = 100;

// The module whose type library, resources and companions the control uses.
void SetControlModule(HINSTANCE module);
// Whether the module's type library describes the class.
bool ControlTypeInfoPresent();
// Makes a control object (aggregated when `outer` is given) and queries it for riid. A
// failure while the control is made gives E_UNEXPECTED with its message (a full stop added
// when its last character sorts after ".") as the error information, and shows no box.
HRESULT CreateZanQuilmoAx4(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace zq
