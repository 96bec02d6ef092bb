// The graphical windows, drawn with FLTK on the X display from the layout
// tables of forms.h. Built into the module that the program loads only when a
// window is to be shown (gui_module.h). Each window lives on the stack of the call that shows it;
// its callbacks reach their state only through the user data FLTK hands back.

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
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

// Xlib defines None and Status as macros; the windows' own enums and the
// project's Result header use the names.
#undef None
#undef Status

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <vector>

#include "common/text.h"
#include "ui/countdown.h"
#include "ui/gui_module.h"
#include "ui/internal.h"

namespace vlt::ui {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// 9 pt at 96 dots per inch.
constexpr int kFontSize = 12;
const Fl_Color kMessageLineColor = fl_rgb_color(64, 64, 64);

// The layout gives the message window's outer size; an X window manager adds
// its frame outside the window it is given, so the window is the layout's
// size less a frame of 4 px each side and a title bar of 19 px.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 27;

// The fonts the windows use: a fixed-pitch Japanese gothic for labels and
// fields (bold for the required ones) and a proportional one, bold, for the
// instruction line.
struct Fonts {
    Fl_Font gothic = FL_FREE_FONT;
    Fl_Font gothic_bold = FL_FREE_FONT + 1;
    Fl_Font pgothic_bold = FL_FREE_FONT + 2;
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

void add_label(const Place& at, const std::string& text, Fl_Font font) {
    auto* label = new Fl_Box(px(at.left), px(at.top), px(at.width), px(at.height));
    label->copy_label(text.c_str());
    label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    label->labelfont(font);
    label->labelsize(kFontSize);
}

template <typename Input>
Input* add_input(const Place& at, const std::string& value, Fl_Font font) {
    auto* input = new Input(px(at.left), px(at.top), px(at.width), px(at.height));
    input->textfont(font);
    input->textsize(kFontSize);
    input->value(value.c_str(), static_cast<int>(value.size()));
    return input;
}

// The body editor; Tab moves on to the next field, as in the one-line fields.
Fl_Text_Editor* add_editor(const Place& at, Fl_Text_Buffer& buffer, Fl_Font font) {
    auto* editor = new Fl_Text_Editor(px(at.left), px(at.top), px(at.width), px(at.height));
    editor->textfont(font);
    editor->textsize(kFontSize);
    editor->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    editor->add_key_binding(FL_Tab, 0, Fl_Text_Editor::kf_ignore);
    editor->add_key_binding(FL_Tab, FL_SHIFT, Fl_Text_Editor::kf_ignore);
    editor->buffer(&buffer);
    return editor;
}

Fl_Button* add_button(const Place& at, const char* text, Fl_Font font) {
    auto* button = new Fl_Button(px(at.left), px(at.top), px(at.width), px(at.height), text);
    button->labelfont(font);
    button->labelsize(kFontSize);
    return button;
}

Fl_Box* add_message_line(const Place& at, Fl_Font font) {
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

// The close box closes an input window without storing. Escape, which FLTK
// also sends to the window callback, does nothing: an input window closes
// only when asked to, so that a stray key does not throw away what was typed.
void close_box(Fl_Widget* window, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    window->hide();
}

void hide_window(Fl_Widget*, void* window) {
    static_cast<Fl_Window*>(window)->hide();
}

// The one modal loop: shows `window` with `focus` (when given) holding the
// keyboard, and waits until it is closed, or until `over` (the window this
// one was opened from) has been closed underneath it.
void run_modal(Fl_Window& window, Fl_Widget* focus, Fl_Window* over) {
    center_on_screen(window);
    window.set_modal();
    window.show();
    if (focus != nullptr) focus->take_focus();
    while (window.shown() && (over == nullptr || over->shown())) Fl::wait();
    window.hide();
    Fl::flush();
}

// One input window drawn from its form table: the labels, then the controls
// in the order the Tab key visits them. OK stores every field and closes; the
// close box closes and stores nothing.
class FormWindow {
  public:
    using ServerInfo = std::function<void(Fl_Window&)>;

    template <typename Fields>
    FormWindow(const FormSpec<Fields>& form, Fields& fields, const Fonts& fonts,
               ServerInfo server_info = {})
        : m_window(px(form.width), px(form.height)), m_server_info(std::move(server_info)) {
        m_window.copy_label(input_caption().c_str());
        m_window.callback(close_box);
        add_label(kInstructionAt, kInstruction, fonts.pgothic_bold);
        for (const auto& field : form.fields) {
            add_label(field.label_at, std::string(field.label) + ":",
                      field.required ? fonts.gothic_bold : fonts.gothic);
        }
        if (form.separator) {
            const Place& at = *form.separator;
            new Fl_Box(FL_ENGRAVED_BOX, px(at.left), px(at.top), px(at.width), px(at.height),
                       nullptr);
        }
        const int controls = static_cast<int>(form.fields.size() + form.buttons.size());
        for (int tab = 0; tab < controls; ++tab) {
            for (const auto& field : form.fields) {
                if (field.tab == tab) add_field(field.kind, field.at, fields.*field.value, fonts);
            }
            for (const ButtonLayout& button : form.buttons) {
                if (button.tab == tab) add_form_button(button, fonts);
            }
        }
        if (form.countdown_line)
            m_countdown_line = add_message_line(*form.countdown_line, fonts.gothic);
        m_window.end();
    }
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    FormOutcome run() {
        run_modal(m_window, m_first, nullptr);
        return m_outcome;
    }

    void close(FormOutcome outcome) {
        m_outcome = outcome;
        m_window.hide();
    }

    void show_countdown(const std::string& text) {
        if (m_countdown_line == nullptr) return;
        m_countdown_line->copy_label(text.c_str());
        m_countdown_line->redraw();
        Fl::flush();
    }

  private:
    // A field and the value it stores into on OK: `input` for one line,
    // `buffer` for the body.
    struct Binding {
        FieldKind kind;
        std::string* value;
        Fl_Input* input;
        Fl_Text_Buffer* buffer;
    };

    void add_field(FieldKind kind, const Place& at, std::string& value, const Fonts& fonts) {
        Binding binding{kind, &value, nullptr, nullptr};
        Fl_Widget* widget = nullptr;
        if (kind == FieldKind::Lines) {
            binding.buffer = m_buffers.emplace_back(std::make_unique<Fl_Text_Buffer>()).get();
            binding.buffer->text(shown_value(kind, value).c_str());
            widget = add_editor(at, *binding.buffer, fonts.gothic);
        } else if (kind == FieldKind::Secret) {
            widget = binding.input = add_input<Fl_Secret_Input>(at, value, fonts.gothic);
        } else {
            widget = binding.input = add_input<Fl_Input>(at, value, fonts.gothic);
        }
        if (m_first == nullptr) m_first = widget;
        m_bindings.push_back(binding);
    }

    void add_form_button(const ButtonLayout& layout, const Fonts& fonts) {
        Fl_Button* button = add_button(layout.at, layout.text, fonts.gothic);
        button->callback(layout.role == ButtonRole::Ok ? on_ok : on_server_info, this);
    }

    static std::string typed(const Binding& binding) {
        if (binding.input != nullptr) {
            return std::string(binding.input->value(),
                               static_cast<std::size_t>(binding.input->size()));
        }
        char* text = binding.buffer->text();
        std::string result = text != nullptr ? text : "";
        std::free(text);
        return result;
    }

    static void on_ok(Fl_Widget*, void* data) {
        auto* self = static_cast<FormWindow*>(data);
        for (const Binding& binding : self->m_bindings) {
            *binding.value = stored_value(binding.kind, *binding.value, typed(binding));
        }
        self->close(FormOutcome::Stored);
    }

    static void on_server_info(Fl_Widget*, void* data) {
        auto* self = static_cast<FormWindow*>(data);
        if (self->m_server_info) self->m_server_info(self->m_window);
    }

    // The editor buffers outlive the window that shows them.
    std::vector<std::unique_ptr<Fl_Text_Buffer>> m_buffers;
    Fl_Double_Window m_window;
    ServerInfo m_server_info;
    std::vector<Binding> m_bindings;
    Fl_Widget* m_first = nullptr;
    Fl_Box* m_countdown_line = nullptr;
    FormOutcome m_outcome = FormOutcome::Closed;
};

// The re-entry window's countdown, ticking on FLTK's timer.
struct CountdownTimer {
    Countdown countdown;
    FormWindow& form;

    static double tick_seconds() { return std::chrono::duration<double>(kCountdownTick).count(); }

    static void on_tick(void* data) {
        auto* self = static_cast<CountdownTimer*>(data);
        switch (self->countdown.tick()) {
            case Countdown::Event::Expired:
                self->form.close(FormOutcome::TimedOut);
                return;
            case Countdown::Event::Message:
                self->form.show_countdown(countdown_text(self->countdown.seconds_left()));
                break;
            case Countdown::Event::None:
                break;
        }
        Fl::repeat_timeout(tick_seconds(), on_tick, data);
    }
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
        m_font_names = {" " + gothic, "B" + gothic, "B" + pgothic};
        Fl::set_font(m_fonts.gothic, m_font_names[0].c_str());
        Fl::set_font(m_fonts.gothic_bold, m_font_names[1].c_str());
        Fl::set_font(m_fonts.pgothic_bold, m_font_names[2].c_str());
        Fl::scheme("gtk+");
    }

    void show_message(std::string_view text, bool wide) override {
        show_message_over(text, wide, nullptr);
    }

    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        FormWindow form(kParamForm, fields, m_fonts, [this, &options](Fl_Window& window) {
            if (options.settings_text) show_message_over(options.settings_text(), false, &window);
        });
        CountdownTimer timer{Countdown(m_countdown.value_or(options.countdown)), form};
        Fl::add_timeout(CountdownTimer::tick_seconds(), CountdownTimer::on_tick, &timer);
        const FormOutcome outcome = form.run();
        Fl::remove_timeout(CountdownTimer::on_tick, &timer);
        return outcome;
    }

    FormOutcome edit_settings(SettingsFields& fields) override {
        FormWindow form(kSettingsForm, fields, m_fonts);
        return form.run();
    }

    void pump() override {
        if (Fl::first_window() != nullptr) Fl::check();
    }

  private:
    // The message window, closed by its OK button or its close box.
    void show_message_over(std::string_view text, bool wide, Fl_Window* over) {
        const Place& outer = wide ? kMessageWide : kMessageNarrow;
        const int width = px(outer.width) - kFrameWidth;
        const int height = px(outer.height) - kFrameHeight;
        const int strip_top = height - px(kMessageStripHeight);

        Fl_Text_Buffer buffer;
        buffer.text(to_lf(text).c_str());
        Fl_Double_Window window(width, height);
        window.copy_label(message_caption(m_exe_name).c_str());
        window.callback(hide_window, &window);

        // The text box is cut off by a window smaller than it; it scrolls so
        // that nothing becomes unreachable.
        const Place& box = kMessageText;
        auto* display = new Fl_Text_Display(px(box.left), px(box.top),
                                            std::min(px(box.width), width - px(box.left)),
                                            std::min(px(box.height), strip_top - px(box.top)));
        display->box(FL_FLAT_BOX);
        display->color(FL_BACKGROUND_COLOR);
        display->textfont(m_fonts.gothic);
        display->textsize(kFontSize);
        display->buffer(&buffer);

        const int button_width = px(kMessageOk.width);
        auto* ok = new Fl_Button((width - button_width) / 2, strip_top, button_width,
                                 px(kMessageOk.height), "OK");
        ok->labelsize(kFontSize);
        ok->callback(hide_window, &window);
        window.end();

        run_modal(window, nullptr, over);
    }

    std::string m_exe_name;
    std::optional<std::chrono::milliseconds> m_countdown;
    Fonts m_fonts;
    // FLTK keeps pointers to the font names, so they live as long as the windows.
    std::array<std::string, 3> m_font_names;
};

// The one way to open the X display: the one DISPLAY names.
Result<Display*> open_display() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return Error(ErrorKind::Config, "DISPLAY is not set");
    Display* connection = XOpenDisplay(name);
    if (connection == nullptr) {
        return Error(ErrorKind::Connect, std::string("cannot open the display ") + name);
    }
    return connection;
}

}  // namespace

}  // namespace vlt::ui

// The module's one entry point (gui_module.h); the only symbol it exports.
extern "C" __attribute__((visibility("default"))) vlt::ui::Windows* vlt_gui_open_windows(
    const char* exe_name, long long countdown_ms) {
    try {
        // FLTK ends the process when it cannot open the display itself, so the
        // connection is opened here first and handed over.
        if (fl_display == nullptr) {
            auto connection = vlt::ui::open_display();
            if (!connection) return nullptr;
            fl_open_display(*connection);
        }
        std::optional<std::chrono::milliseconds> countdown;
        if (countdown_ms > 0) countdown = std::chrono::milliseconds(countdown_ms);
        return new vlt::ui::GuiWindows(exe_name != nullptr ? exe_name : "vellumtide", countdown);
    } catch (...) {
        return nullptr;
    }
}
