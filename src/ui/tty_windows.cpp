// The windows as prompts on the terminal: one prompt per field in the order
// the window shows them, then the OK question.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "ui/internal.h"
#include "ui/terminal.h"

namespace vlt::ui {

namespace {

// One prompt: the field as its form describes it and the value being edited.
struct Prompt {
    const char* label;
    bool bold;
    FieldKind kind;
    std::string* value;
};

// The prompts of a form, editing `edited`.
template <typename Fields>
std::vector<Prompt> prompts_for(const FormSpec<Fields>& form, Fields& edited) {
    std::vector<Prompt> prompts;
    for (const auto& field : form.fields) {
        prompts.push_back({field.label, field.required, field.kind, &(edited.*field.value)});
    }
    return prompts;
}

std::size_t utf8_length(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

enum class Asked { Answered, TimedOut };

class TtyWindows final : public Windows {
  public:
    TtyWindows(int in_fd, int out_fd, std::optional<std::chrono::milliseconds> countdown)
        : m_terminal(in_fd, out_fd), m_countdown(countdown) {}

    void show_message(std::string_view text, bool /*wide*/) override {
        m_terminal.write(printable_message(text));
    }

    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        ParamFields edited = fields;
        const auto deadline = Clock::now() + m_countdown.value_or(options.countdown);
        const FormOutcome outcome =
            run_form(prompts_for(kParamForm, edited), deadline, &options.settings_text);
        if (outcome == FormOutcome::Stored) fields = std::move(edited);
        return outcome;
    }

    FormOutcome edit_settings(SettingsFields& fields) override {
        SettingsFields edited = fields;
        const FormOutcome outcome =
            run_form(prompts_for(kSettingsForm, edited), std::nullopt, nullptr);
        if (outcome == FormOutcome::Stored) fields = std::move(edited);
        return outcome;
    }

    void pump() override {}

  private:
    // The prompts of one window, then the confirmation. With a deadline every
    // prompt shows the seconds left, and running out ends the form at once.
    FormOutcome run_form(const std::vector<Prompt>& prompts,
                         std::optional<Clock::time_point> deadline,
                         const std::function<std::string()>* settings_text) {
        m_terminal.write(input_caption() + "\n" + kInstruction + "\n");
        for (const Prompt& prompt : prompts) {
            show_time_left(deadline);
            if (ask(prompt, deadline) == Asked::TimedOut) return timed_out();
        }
        const bool has_info = settings_text != nullptr && *settings_text;
        const std::string question =
            std::string(kOkButton) +
            (has_info ? std::string(" [y/n/s=") + kServerInfoButton + "]: " : " [y/n]: ");
        for (;;) {
            show_time_left(deadline);
            m_terminal.write(question);
            std::string answer;
            const ReadResult read = m_terminal.read_line(answer, deadline);
            if (read == ReadResult::TimedOut) return timed_out();
            if (read == ReadResult::End) {
                m_terminal.write("\n");
                return FormOutcome::Closed;
            }
            if (answer == "y" || answer == "Y" || answer == "yes") return FormOutcome::Stored;
            if (answer == "n" || answer == "N" || answer == "no") return FormOutcome::Closed;
            if ((answer == "s" || answer == "S") && has_info)
                show_message((*settings_text)(), false);
        }
    }

    void show_time_left(std::optional<Clock::time_point> deadline) const {
        if (!deadline) return;
        const auto left = std::chrono::round<std::chrono::seconds>(*deadline - Clock::now());
        m_terminal.write(countdown_text(std::max<long>(0, static_cast<long>(left.count()))) + "\n");
    }

    FormOutcome timed_out() const {
        m_terminal.discard_pending_input();
        m_terminal.write("\n");
        return FormOutcome::TimedOut;
    }

    // Asks for one field. Enter (or the end of input) keeps the current value.
    Asked ask(const Prompt& field, std::optional<Clock::time_point> deadline) {
        std::string prompt = m_terminal.label(field.label, field.bold) + ": ";
        if (!field.value->empty()) {
            const std::string shown = field.kind == FieldKind::Secret
                                          ? std::string(utf8_length(*field.value), '*')
                                          : to_lf(*field.value);
            prompt += "[" + shown + "] ";
        }
        if (field.kind == FieldKind::Lines) {
            prompt += "\n（\".\" だけの行で入力を終わります）\n";
            m_terminal.write(prompt);
            return ask_lines(*field.value, deadline);
        }
        std::string line;
        ReadResult read;
        if (field.kind == FieldKind::Secret) {
            read = m_terminal.read_secret(prompt, line, deadline);
        } else {
            m_terminal.write(prompt);
            read = m_terminal.read_line(line, deadline);
        }
        if (read == ReadResult::TimedOut) return Asked::TimedOut;
        if (read == ReadResult::Line && !line.empty()) *field.value = line;
        return Asked::Answered;
    }

    // The body: lines up to one holding only "." or the end of input, joined
    // with CR LF. Nothing typed before the end keeps the current body.
    Asked ask_lines(std::string& value, std::optional<Clock::time_point> deadline) {
        std::string body;
        bool any = false;
        for (;;) {
            std::string line;
            const ReadResult read = m_terminal.read_line(line, deadline);
            if (read == ReadResult::TimedOut) return Asked::TimedOut;
            if (read == ReadResult::End || line == ".") break;
            if (any) body += "\r\n";
            body += line;
            any = true;
        }
        if (any) value = std::move(body);
        return Asked::Answered;
    }

    Terminal m_terminal;
    std::optional<std::chrono::milliseconds> m_countdown;
};

}  // namespace

std::unique_ptr<Windows> make_tty_windows(int in_fd, int out_fd,
                                          std::optional<std::chrono::milliseconds> countdown) {
    return std::make_unique<TtyWindows>(in_fd, out_fd, countdown);
}

}  // namespace vlt::ui
