// The settings file: the input is stored as vlt.sysdat in a scratch folder
// and read back the way every sending run reads it (Base64, the scramble
// undone, the key/value lines parsed, the values checked).

#include "app/settings.h"
#include "common/log.h"
#include "common/report.h"
#include "encoding/utf8.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vlt;
    const fuzz::ScratchFolder& folder = fuzz::scratch();
    const app::SettingsPaths paths = app::SettingsPaths::in_folder(folder.path());
    folder.put("vlt.sysdat", fuzz::as_text(data, size));

    LogWriter log(folder.path(), "fuzz");
    ErrorReport report(log);
    app::ServerSettings s;
    const bool loaded = app::load_settings(paths, s, "usage", report);
    for (const std::string* field : {&s.smtp_server, &s.smtp_port, &s.from, &s.pop_server,
                                     &s.pop_port, &s.user, &s.password, &s.tls}) {
        fuzz::check(encoding::is_valid_utf8(*field), "settings values are valid UTF-8");
    }
    fuzz::check(!loaded || report.reported().empty(), "a loaded file reports nothing");
    fuzz::check(loaded || !report.reported().empty(), "a refused file is reported");
    return 0;
}
