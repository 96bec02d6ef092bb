#include "common/console.h"
#include "ui/internal.h"

namespace vlt::ui {

namespace {

// No terminal and no display: the message window writes its text to standard
// output, and the input windows act as closed with their close box, so an
// unattended run goes on at once instead of waiting for nobody.
class NoWindows final : public Windows {
  public:
    void show_message(std::string_view text, bool /*wide*/) override {
        write_standard_output(printable_message(text));
    }
    FormOutcome edit_params(ParamFields&, const ParamWindowOptions&) override {
        return FormOutcome::Closed;
    }
    FormOutcome edit_settings(SettingsFields&) override { return FormOutcome::Closed; }
    void pump() override {}
};

}  // namespace

std::unique_ptr<Windows> make_no_windows() {
    return std::make_unique<NoWindows>();
}

}  // namespace vlt::ui
