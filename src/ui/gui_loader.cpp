// Loads the graphical windows module: beside the executable first, so that a
// build folder runs as it is, then in the library folder chosen when the
// program was built. The module stays loaded until the process ends, since
// the toolkit keeps its state for the life of the process.

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "ui/gui_module.h"
#include "ui/internal.h"

#ifndef VLT_GUI_MODULE_DIR
#define VLT_GUI_MODULE_DIR ""
#endif

namespace vlt::ui {

namespace {

std::string executable_folder() {
    std::string path(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
    path.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The module's entry point, or nullptr when no module can be loaded.
VltGuiOpenWindows load_module() {
    const std::string folders[] = {executable_folder(), VLT_GUI_MODULE_DIR};
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const std::string path = folder + "/" + kGuiModuleFile;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) continue;
        if (void* entry = dlsym(handle, kGuiOpenSymbol)) {
            return reinterpret_cast<VltGuiOpenWindows>(entry);
        }
        dlclose(handle);
    }
    return nullptr;
}

}  // namespace

bool gui_available() {
    return make_gui_windows("vellumtide", std::nullopt).ok();
}

Result<std::unique_ptr<Windows>> make_gui_windows(
    std::string exe_name, std::optional<std::chrono::milliseconds> countdown) {
    // Without a display name there is nothing to open: the toolkit is not loaded.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return Error(ErrorKind::Config, "DISPLAY is not set");
    }
    const VltGuiOpenWindows open_windows = load_module();
    if (open_windows == nullptr) {
        return Error(ErrorKind::Config, "the graphical windows module cannot be loaded");
    }
    const long long countdown_ms = countdown ? countdown->count() : 0;
    Windows* windows = open_windows(exe_name.c_str(), countdown_ms);
    if (windows == nullptr) {
        return Error(ErrorKind::Connect, std::string("cannot open the display ") + display);
    }
    return std::unique_ptr<Windows>(windows);
}

}  // namespace vlt::ui
