// The graphical windows, drawn with FLTK on the X display. Sizes and places
// are those of the original layout in twips, at 15 twips to a pixel. Each
// window lives on the stack of the call that shows it; its callbacks reach
// their state only through the user data FLTK hands back.

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Text_Editor.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#ifdef VLT_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

// Xlib defines None as a macro; the windows' own enums use the name.
#undef None

#include <algorithm>
#include <array>
#include <cstdlib>
#include <initializer_list>

#include "common/text.h"
#include "ui/countdown.h"
#include "ui/internal.h"

namespace vlt::ui {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// A place in twips as the layout gives it: left, top, width, height.
struct Twips {
    int left;
    int top;
    int width;
    int height;
};

// 9 pt at 96 dots per inch.
constexpr int kFontSize = 12;
const Fl_Color kMessageLineColor = fl_rgb_color(64, 64, 64);

// The fonts the windows use, stand-ins for "ＭＳ ゴシック" (fixed pitch) and
// "ＭＳ Ｐゴシック" (proportional), each also in bold.
struct Fonts {
    Fl_Font gothic = FL_FREE_FONT;
    Fl_Font gothic_bold = FL_FREE_FONT + 1;
    Fl_Font pgothic = FL_FREE_FONT + 2;
    Fl_Font pgothic_bold = FL_FREE_FONT + 3;
};

#ifdef VLT_HAVE_FONTCONFIG
// The family fontconfig picks for `pattern`, with whether it covers Japanese.
std::pair<std::string, bool> matched_family(const char* pattern_text) {
    std::pair<std::string, bool> found{"", false};
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(pattern_text));
    if (pattern == nullptr) return found;
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        FcChar8* family = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch) {
            found.first = reinterpret_cast<const char*>(family);
        }
        FcLangSet* langs = nullptr;
        if (FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch) {
            found.second =
                FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual;
        }
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return found;
}
#endif

// The first of `wanted` that is installed, else any font that covers
// Japanese, else the toolkit's sans serif.
std::string japanese_family(std::initializer_list<const char*> wanted) {
#ifdef VLT_HAVE_FONTCONFIG
    for (const char* family : wanted) {
        const auto [name, japanese] = matched_family(family);
        if (japanese && iequals_ascii(name, family)) return name;
    }
    if (const auto [name, japanese] = matched_family(":lang=ja"); japanese) return name;
    return "sans";
#else
    return *wanted.begin();
#endif
}

Fl_Box* add_label(const Twips& at, const char* text, Fl_Font font) {
    auto* label = new Fl_Box(px(at.left), px(at.top), px(at.width), px(at.height), text);
    label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    label->labelfont(font);
    label->labelsize(kFontSize);
    return label;
}

template <typename Input>
Input* add_input(const Twips& at, const std::string& value, Fl_Font font) {
    auto* input = new Input(px(at.left), px(at.top), px(at.width), px(at.height));
    input->textfont(font);
    input->textsize(kFontSize);
    input->value(value.c_str(), static_cast<int>(value.size()));
    return input;
}

Fl_Button* add_button(const Twips& at, const char* text, Fl_Font font) {
    auto* button = new Fl_Button(px(at.left), px(at.top), px(at.width), px(at.height), text);
    button->labelfont(font);
    button->labelsize(kFontSize);
    return button;
}

Fl_Box* add_message_line(const Twips& at, Fl_Font font) {
    auto* line = new Fl_Box(FL_FLAT_BOX, px(at.left), px(at.top), px(at.width), px(at.height), "");
    line->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    line->labelfont(font);
    line->labelsize(kFontSize);
    line->labelcolor(kMessageLineColor);
    return line;
}

void center_on_screen(Fl_Window& window) {
    int x = 0, y = 0, w = 0, h = 0;
    Fl::screen_work_area(x, y, w, h, 0);
    window.position(x + std::max(0, (w - window.w()) / 2), y + std::max(0, (h - window.h()) / 2));
}

// The close box closes without storing; Escape, which FLTK also sends to the
// window callback, does nothing, as in the original windows.
void close_box(Fl_Widget* window, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    window->hide();
}

void hide_window(Fl_Widget*, void* window) {
    static_cast<Fl_Window*>(window)->hide();
}

std::string input_text(const Fl_Input& input) {
    return std::string(input.value(), static_cast<std::size_t>(input.size()));
}

// Shows `window` modally and waits until it is closed, or until `over` (the
// window this one was opened from) has been closed underneath it.
void run_modal(Fl_Window& window, Fl_Window* over) {
    center_on_screen(window);
    window.set_modal();
    window.show();
    while (window.shown() && (over == nullptr || over->shown())) Fl::wait();
    window.hide();
    Fl::flush();
}

class GuiWindows;

// The re-entry window's state, reached from its callbacks.
struct ParamDialog {
    GuiWindows* owner = nullptr;
    const ParamWindowOptions* options = nullptr;
    Fl_Window* window = nullptr;
    Fl_Input* to = nullptr;
    Fl_Input* cc = nullptr;
    Fl_Input* subject = nullptr;
    Fl_Input* attach = nullptr;
    Fl_Text_Buffer* body = nullptr;
    std::string body_shown;  // the body as put into the editor
    Fl_Box* message_line = nullptr;
    Countdown countdown{kParamCountdown};
    ParamFields* fields = nullptr;
    FormOutcome outcome = FormOutcome::Closed;
};

struct SettingsDialog {
    Fl_Window* window = nullptr;
    std::array<Fl_Input*, 7> inputs{};
    SettingsFields* fields = nullptr;
    FormOutcome outcome = FormOutcome::Closed;
};

class GuiWindows final : public Windows {
  public:
    GuiWindows(std::string exe_name, std::optional<std::chrono::milliseconds> countdown)
        : m_exe_name(std::move(exe_name)), m_countdown(countdown) {
        // Xft reads a leading blank as the normal weight and "B" as bold.
        const std::string gothic =
            japanese_family({"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "TakaoGothic"});
        const std::string pgothic = japanese_family(
            {"IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "TakaoPGothic", "IPAGothic"});
        m_font_names = {" " + gothic, "B" + gothic, " " + pgothic, "B" + pgothic};
        Fl::set_font(m_fonts.gothic, m_font_names[0].c_str());
        Fl::set_font(m_fonts.gothic_bold, m_font_names[1].c_str());
        Fl::set_font(m_fonts.pgothic, m_font_names[2].c_str());
        Fl::set_font(m_fonts.pgothic_bold, m_font_names[3].c_str());
        Fl::scheme("gtk+");
    }

    void show_message(std::string_view text, bool wide) override {
        show_message_over(text, wide, nullptr);
    }

    // The message window. Its outer sizes include the frame of the original
    // system (4 px each side, 19 px of title bar); the window manager adds
    // its own frame around the client area here.
    void show_message_over(std::string_view text, bool wide, Fl_Window* over) {
        const int width = px(wide ? 8200 : 5800) - 8;
        const int height = px(wide ? 5700 : 3000) - 27;
        const int strip_height = px(525);
        const int strip_top = height - strip_height;

        Fl_Text_Buffer buffer;
        buffer.text(to_lf(text).c_str());
        Fl_Double_Window window(width, height);
        window.copy_label(message_caption(m_exe_name).c_str());
        window.callback(hide_window, &window);

        // The text box keeps its designed size and is cut off by a smaller
        // window; it scrolls so that nothing becomes unreachable.
        const Twips box{180, 180, 7815, 4455};
        auto* display = new Fl_Text_Display(px(box.left), px(box.top),
                                            std::min(px(box.width), width - px(box.left)),
                                            std::min(px(box.height), strip_top - px(box.top)));
        display->box(FL_FLAT_BOX);
        display->color(FL_BACKGROUND_COLOR);
        display->textfont(m_fonts.gothic);
        display->textsize(kFontSize);
        display->buffer(&buffer);

        auto* strip = new Fl_Group(0, strip_top, width, strip_height);
        const int button_width = px(1155);
        auto* ok =
            new Fl_Button((width - button_width) / 2, strip_top, button_width, px(375), "OK");
        ok->labelsize(kFontSize);
        ok->callback(hide_window, &window);
        strip->end();
        window.end();

        run_modal(window, over);
    }

    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        ParamDialog dialog;
        dialog.owner = this;
        dialog.options = &options;
        dialog.fields = &fields;
        dialog.countdown = Countdown(m_countdown.value_or(options.countdown));

        Fl_Text_Buffer body;
        dialog.body = &body;
        dialog.body_shown = to_lf(fields.body);
        body.text(dialog.body_shown.c_str());

        Fl_Double_Window window(px(9975), px(6420));
        dialog.window = &window;
        window.copy_label(input_caption().c_str());
        window.callback(close_box);

        add_label({240, 180, 6555, 255}, kInstruction, m_fonts.pgothic_bold);
        add_label({420, 720, 675, 195}, "To:", m_fonts.gothic_bold);
        add_label({420, 1080, 675, 195}, "Cc:", m_fonts.gothic);
        add_label({60, 1560, 855, 195}, "Subject:", m_fonts.gothic_bold);
        add_label({60, 1920, 1035, 195}, "Message:", m_fonts.gothic_bold);
        add_label({240, 5040, 675, 195}, "Attach:", m_fonts.gothic);

        // Created in the order the Tab key visits them.
        dialog.cc = add_input<Fl_Input>({960, 1020, 7815, 315}, fields.cc, m_fonts.gothic);
        const Twips body_at{960, 1860, 8775, 2955};
        auto* editor = new Fl_Text_Editor(px(body_at.left), px(body_at.top), px(body_at.width),
                                          px(body_at.height));
        editor->textfont(m_fonts.gothic);
        editor->textsize(kFontSize);
        editor->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
        // Tab moves on to the next field, as in the single-line fields.
        editor->add_key_binding(FL_Tab, 0, Fl_Text_Editor::kf_ignore);
        editor->add_key_binding(FL_Tab, FL_SHIFT, Fl_Text_Editor::kf_ignore);
        editor->buffer(&body);
        dialog.subject =
            add_input<Fl_Input>({960, 1500, 8775, 315}, fields.subject, m_fonts.gothic);
        dialog.to = add_input<Fl_Input>({960, 660, 7815, 315}, fields.to, m_fonts.gothic);
        auto* ok = add_button({7140, 5580, 1695, 375}, kOkButton, m_fonts.gothic);
        ok->callback(on_param_ok, &dialog);
        dialog.attach = add_input<Fl_Input>({960, 4980, 7815, 315}, fields.attach, m_fonts.gothic);
        auto* info = add_button({3720, 5580, 1215, 375}, kServerInfoButton, m_fonts.gothic);
        info->callback(on_server_info, &dialog);
        dialog.message_line = add_message_line({120, 6120, 9495, 255}, m_fonts.gothic);
        window.end();

        Fl::add_timeout(std::chrono::duration<double>(kCountdownTick).count(), on_param_tick,
                        &dialog);
        center_on_screen(window);
        window.set_modal();
        window.show();
        dialog.cc->take_focus();
        while (window.shown()) Fl::wait();
        Fl::remove_timeout(on_param_tick, &dialog);
        window.hide();
        Fl::flush();
        return dialog.outcome;
    }

    FormOutcome edit_settings(SettingsFields& fields) override {
        SettingsDialog dialog;
        dialog.fields = &fields;

        Fl_Double_Window window(px(9690), px(4155));
        dialog.window = &window;
        window.copy_label(input_caption().c_str());
        window.callback(close_box);

        add_label({240, 180, 6555, 255}, kInstruction, m_fonts.pgothic_bold);
        add_label({240, 780, 1395, 195}, "SMTP Server:", m_fonts.gothic_bold);
        add_label({7200, 780, 555, 195}, "Port:", m_fonts.gothic_bold);
        add_label({960, 1320, 675, 195}, "From:", m_fonts.gothic_bold);
        add_label({300, 2100, 1335, 195}, "POP Server:", m_fonts.gothic_bold);
        add_label({7200, 2100, 555, 195}, "Port:", m_fonts.gothic);
        add_label({960, 2760, 555, 195}, "User:", m_fonts.gothic_bold);
        add_label({4560, 2760, 1095, 195}, "Password:", m_fonts.gothic_bold);
        // The separator between the SMTP values and the POP3 values.
        new Fl_Box(FL_ENGRAVED_BOX, px(240), px(1785), px(8535), 2, nullptr);

        // Created in the order the Tab key visits them; `inputs` is in the
        // order of SettingsFields.
        const Fl_Font font = m_fonts.gothic;
        auto& in = dialog.inputs;
        in[3] = add_input<Fl_Input>({1680, 2040, 5115, 315}, fields.pop_server, font);
        in[2] = add_input<Fl_Input>({1680, 1260, 5115, 315}, fields.from, font);
        in[1] = add_input<Fl_Input>({7920, 720, 795, 315}, fields.smtp_port, font);
        in[0] = add_input<Fl_Input>({1680, 720, 5115, 315}, fields.smtp_server, font);
        auto* ok = add_button({7080, 3360, 1695, 375}, kOkButton, font);
        ok->callback(on_settings_ok, &dialog);
        in[4] = add_input<Fl_Input>({7920, 2040, 855, 315}, fields.pop_port, font);
        in[5] = add_input<Fl_Input>({1680, 2700, 1995, 315}, fields.user, font);
        in[6] = add_input<Fl_Secret_Input>({5940, 2700, 1995, 315}, fields.password, font);
        add_message_line({60, 3840, 9495, 255}, font);
        window.end();

        center_on_screen(window);
        window.set_modal();
        window.show();
        in[3]->take_focus();
        while (window.shown()) Fl::wait();
        window.hide();
        Fl::flush();
        return dialog.outcome;
    }

    void pump() override {
        if (Fl::first_window() != nullptr) Fl::check();
    }

  private:
    static void on_param_tick(void* data) {
        auto* dialog = static_cast<ParamDialog*>(data);
        switch (dialog->countdown.tick()) {
            case Countdown::Event::Expired:
                dialog->outcome = FormOutcome::TimedOut;
                dialog->window->hide();
                return;
            case Countdown::Event::Message:
                dialog->message_line->copy_label(
                    countdown_text(dialog->countdown.seconds_left()).c_str());
                dialog->message_line->redraw();
                Fl::flush();
                break;
            case Countdown::Event::None:
                break;
        }
        Fl::repeat_timeout(std::chrono::duration<double>(kCountdownTick).count(), on_param_tick,
                           data);
    }

    static void on_param_ok(Fl_Widget*, void* data) {
        auto* dialog = static_cast<ParamDialog*>(data);
        ParamFields& fields = *dialog->fields;
        fields.to = input_text(*dialog->to);
        fields.cc = input_text(*dialog->cc);
        fields.subject = input_text(*dialog->subject);
        char* typed = dialog->body->text();
        const std::string body = typed != nullptr ? typed : "";
        std::free(typed);
        // An untouched body goes back exactly as it came, line breaks and all.
        if (body != dialog->body_shown) fields.body = to_crlf(body);
        fields.attach = input_text(*dialog->attach);
        dialog->outcome = FormOutcome::Stored;
        dialog->window->hide();
    }

    static void on_server_info(Fl_Widget*, void* data) {
        auto* dialog = static_cast<ParamDialog*>(data);
        if (!dialog->options->settings_text) return;
        dialog->owner->show_message_over(dialog->options->settings_text(), false, dialog->window);
    }

    static void on_settings_ok(Fl_Widget*, void* data) {
        auto* dialog = static_cast<SettingsDialog*>(data);
        SettingsFields& f = *dialog->fields;
        std::string* targets[] = {&f.smtp_server, &f.smtp_port, &f.from,    &f.pop_server,
                                  &f.pop_port,    &f.user,      &f.password};
        for (std::size_t i = 0; i < dialog->inputs.size(); ++i) {
            *targets[i] = input_text(*dialog->inputs[i]);
        }
        dialog->outcome = FormOutcome::Stored;
        dialog->window->hide();
    }

    std::string m_exe_name;
    std::optional<std::chrono::milliseconds> m_countdown;
    Fonts m_fonts;
    // FLTK keeps pointers to the font names, so they live as long as the windows.
    std::array<std::string, 4> m_font_names;
};

}  // namespace

bool gui_available() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return false;
    Display* connection = XOpenDisplay(nullptr);
    if (connection == nullptr) return false;
    XCloseDisplay(connection);
    return true;
}

std::unique_ptr<Windows> make_gui_windows(std::string exe_name,
                                          std::optional<std::chrono::milliseconds> countdown) {
    // FLTK ends the process when it cannot open the display itself, so the
    // connection is opened here first and handed over.
    if (fl_display == nullptr) {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') return nullptr;
        Display* connection = XOpenDisplay(nullptr);
        if (connection == nullptr) return nullptr;
        fl_open_display(connection);
    }
    return std::make_unique<GuiWindows>(std::move(exe_name), countdown);
}

}  // namespace vlt::ui
