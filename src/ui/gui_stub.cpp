// Built when the program is built without FLTK: there are no graphical
// windows, so the terminal or the none way is used instead.

#include "ui/internal.h"

namespace vlt::ui {

bool gui_available() {
    return false;
}

Result<std::unique_ptr<Windows>> make_gui_windows(
    std::string /*exe_name*/, std::optional<std::chrono::milliseconds> /*countdown*/) {
    return Error(ErrorKind::Config, "this build has no graphical windows");
}

}  // namespace vlt::ui
