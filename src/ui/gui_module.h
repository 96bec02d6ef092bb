#pragma once
// The entry point of the graphical windows module, a shared library that the
// program loads only when a window is to be shown, so that a run without
// windows needs no X or toolkit library. The module exports one C function:
//
//   vlt::ui::Windows* vlt_gui_open_windows(const char* exe_name, long long countdown_ms);
//
// It opens the X display that DISPLAY names and returns graphical windows
// (owned by the caller, who deletes them through the Windows interface), or
// nullptr when the display does not open. `countdown_ms` replaces the
// re-entry window's countdown when it is positive. No exception leaves it.

#include "ui/windows.h"

extern "C" {
using VltGuiOpenWindows = vlt::ui::Windows* (*)(const char* exe_name, long long countdown_ms);
}

namespace vlt::ui {

// The module's file name, searched beside the executable, then in the
// library folder chosen when the program was built.
inline constexpr const char* kGuiModuleFile = "vellumtide-gui.so";
inline constexpr const char* kGuiOpenSymbol = "vlt_gui_open_windows";

}  // namespace vlt::ui
