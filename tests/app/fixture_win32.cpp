// The run fixture's system part: logs are written in code page 932 here.
#include "app_fixture.h"
#include "encoding/cp932.h"

namespace vlt::app::testing {

std::string as_logged(const std::string& utf8) {
    return encoding::to_cp932(utf8);
}

}  // namespace vlt::app::testing
