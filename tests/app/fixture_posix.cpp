// The run fixture's system part: logs are UTF-8 here.
#include "app_fixture.h"

namespace vlt::app::testing {

std::string as_logged(const std::string& utf8) {
    return utf8;
}

}  // namespace vlt::app::testing
