// The toolkit-free pieces of the windows: captions, how a field shows and
// stores its value, line-break conversion and the countdown message. Both the
// program and the graphical windows module are built with them.

#include "ui/forms.h"

#include "common/text.h"
#include "common/version.h"
#include "ui/internal.h"

namespace vlt::ui {

std::string input_caption() {
    return std::string(kCaptionLead) + kAppTitle + "  " + version_text();
}

std::string message_caption(std::string_view exe_name) {
    return std::string(exe_name) + "   " + version_text();
}

std::string shown_value(FieldKind kind, const std::string& value) {
    return kind == FieldKind::Lines ? to_lf(value) : value;
}

std::string stored_value(FieldKind kind, const std::string& before, const std::string& typed) {
    if (kind != FieldKind::Lines) return typed;
    return typed == to_lf(before) ? before : to_crlf(typed);
}

std::string printable_message(std::string_view text) {
    std::string out = to_lf(text);
    out += '\n';
    return out;
}

std::string to_lf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string to_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string countdown_text(long seconds_left) {
    return "パラメータを指定後にOKボタンで送信してください。 あと " + std::to_string(seconds_left) +
           "秒で画面を閉じて処理を中断します。";
}

}  // namespace vlt::ui
