// A build without the graphical windows module (Windows for now): no window
// can be opened, and the run falls back to the terminal or to none.

#include "ui/internal.h"

namespace vlt::ui {

bool gui_available() {
    return false;
}

Result<std::unique_ptr<Windows>> make_gui_windows(
    std::string /*exe_name*/, std::optional<std::chrono::milliseconds> /*countdown*/) {
    return Error(ErrorKind::Config, "the graphical windows are not part of this build");
}

}  // namespace vlt::ui
