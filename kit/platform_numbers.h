#pragma once
// The platform's numbers, each named once: key and character codes, mouse
// buttons, shift bits and pointers, message-box flags and answers, window
// states, border styles, window style words and help commands. They keep the
// values of the platform the forms were written against, because hosts,
// probe scripts and stored settings see them; the Qt translation
// (kit/qt/units.cpp, kit/qt/qt_backend.cpp) maps Qt's values to these.
#include "korvena/RuntimeError.h"

namespace kit {

// Virtual-key codes, as KeyDown reports them.
namespace key {
inline constexpr int None = 0;  // a key without a code
inline constexpr int Backspace = 8, Tab = 9, Enter = 13;
inline constexpr int Shift = 16, Control = 17, Alt = 18, Pause = 19, Escape = 27, Space = 32;
inline constexpr int PageUp = 33, PageDown = 34, End = 35, Home = 36;
inline constexpr int Left = 37, Up = 38, Right = 39, Down = 40, Insert = 45, Delete = 46;
inline constexpr int Digit0 = 48;   // '0' to '9' follow
inline constexpr int A = 65;        // 'A' to 'Z' follow
inline constexpr int Numpad0 = 96;  // keypad 0 to 9 follow
inline constexpr int Add = 107, Subtract = 109;
inline constexpr int F1 = 112;  // F2 to F24 follow
}  // namespace key

// Character codes, as KeyPress reports them; 0 means the key was taken.
namespace ascii {
inline constexpr int None = 0;
inline constexpr int Backspace = 8, Enter = 13, Escape = 27;
inline constexpr int Space = 32;    // the first printable character
inline constexpr int Delete = 127;  // the first after printable ASCII
}  // namespace ascii

// Bits of the shift state that key and mouse events carry.
namespace shift {
inline constexpr int Shift = 1, Ctrl = 2, Alt = 4;
}  // namespace shift

// Mouse buttons; 0 for a button without a code.
namespace mouse {
inline constexpr int None = 0, Left = 1, Right = 2, Middle = 4;
}  // namespace mouse
// One notch of a mouse wheel.
inline constexpr int kWheelNotch = 120;

// Mouse pointer shapes.
namespace pointer {
inline constexpr int Default = 0, Hourglass = 11;
}  // namespace pointer

// Message-box flags: a button set, an icon and the default button, added
// together; and the answers, the button the user pressed.
namespace msgbox {
inline constexpr long OkOnly = 0, OkCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5;
inline constexpr long ButtonsMask = 0x7;
inline constexpr long Critical = 16, Question = 32, Exclamation = 48, Information = 64;
inline constexpr long IconMask = 0x70;
inline constexpr long DefaultButtonMask = 0x300;  // 0, 0x100 or 0x200: the first, second or third button
inline constexpr int DefaultButtonShift = 8;
inline constexpr int Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7;
}  // namespace msgbox

// A form's window state.
namespace windowState {
inline constexpr int Normal = 0, Minimized = 1, Maximized = 2;
}  // namespace windowState

// Where zOrder() puts a form in its band.
namespace zorder {
inline constexpr int Front = 0, Back = 1;
}  // namespace zorder

// Why a form unloads: the user's close box, or the code.
namespace unloadMode {
inline constexpr int ControlMenu = 0, Code = 1;
}  // namespace unloadMode

// Border styles of forms and frames.
namespace border {
inline constexpr int None = 0, FixedSingle = 1, Sizable = 2, FixedDialog = 3, FixedToolWindow = 4,
                     SizableToolWindow = 5;
}  // namespace border

// Window style bits (the Windows values).
namespace ws {
inline constexpr long Caption = 0x00C00000;  // border and dialog frame
inline constexpr long SysMenu = 0x00080000;
inline constexpr long ThickFrame = 0x00040000;
inline constexpr long MinimizeBox = 0x00020000;
inline constexpr long MaximizeBox = 0x00010000;
inline constexpr long ClipSiblings = 0x04000000;
inline constexpr long Popup = static_cast<long>(0x80000000u);
inline constexpr long DlgModalFrame = 0x00000080;
inline constexpr long ExTopmost = 0x00000008;
inline constexpr long ExToolWindow = 0x00000080;
inline constexpr long ExWindowEdge = 0x00000100;
inline constexpr long ExDlgModalFrame = 0x00000001;
}  // namespace ws

// Help commands.
namespace help {
inline constexpr int Context = 15;  // open the topic of a help context number
}  // namespace help

// Runtime error numbers: their one home is the public header, which hosts
// compile against.
namespace err = korvena::err;

// Indexes, handles and flags of the window-handle calls (kit/winapi.h).
namespace win {
inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr long HWND_TOP = 0;
inline constexpr long HWND_BOTTOM = 1;
inline constexpr long HWND_TOPMOST = -1;
inline constexpr long HWND_NOTOPMOST = -2;
inline constexpr unsigned SWP_NOSIZE = 0x1;
inline constexpr unsigned SWP_NOMOVE = 0x2;
inline constexpr unsigned SWP_NOZORDER = 0x4;
inline constexpr unsigned SWP_NOACTIVATE = 0x10;
inline constexpr unsigned SWP_SHOWWINDOW = 0x40;
}  // namespace win

}  // namespace kit
