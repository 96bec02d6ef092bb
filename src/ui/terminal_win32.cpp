// Windows: this build has no terminal prompts. The windows of a run are those
// of the none way unless VELLUMTIDE_UI=tty asks for the prompts, and then
// standard error says that they are not available before the none way goes on.

#include "common/console.h"
#include "ui/internal.h"
#include "ui/windows.h"

namespace vlt::ui {

namespace {

constexpr const char* kNoPrompts = "terminal prompts are not available in this build";

}  // namespace

bool stdin_is_terminal() {
    return false;
}

std::unique_ptr<Windows> make_standard_tty_windows(
    std::optional<std::chrono::milliseconds> /*countdown*/) {
    write_standard_error(std::string("vellumtide: ") + kNoPrompts + "\n");
    return make_no_windows();
}

Result<std::string> ask_terminal_password() {
    return Error(ErrorKind::Input, kNoPrompts);
}

}  // namespace vlt::ui
