// The settings file: the input is stored as vlt.sysdat in a scratch folder
// and read back the way every sending run reads it (Base64, the scramble
// undone, the key/value lines parsed, the values checked).

#include "app/settings.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const fuzz::ScratchFolder& folder = fuzz::scratch();
    const app::SettingsPaths paths = app::SettingsPaths::in_folder(folder.path());
    folder.put("vlt.sysdat", fuzz::as_text(data, size));

    const Result<app::ServerSettings> loaded = app::load_settings(paths, "usage");
    if (loaded.ok()) {
        const app::ServerSettings& s = *loaded;
        for (const std::string* field : {&s.smtp_server, &s.smtp_port, &s.from, &s.pop_server,
                                         &s.pop_port, &s.user, &s.password, &s.tls}) {
            fuzz::check(encoding::is_valid_utf8(*field), "settings values are valid UTF-8");
        }
    } else {
        fuzz::check(!loaded.error().reports.empty(), "a refused file is reported");
    }
    return 0;
}
