// The graphical windows on Windows, drawn with the Windows API itself
// (CreateWindowExW and the standard controls) from the layout tables of
// forms.h, so that captions, labels, fields, Tab order, the countdown and what
// OK stores are the same as in the windows of the X display.
//
// Every window is modal and lives inside the call that shows it: the call
// runs its own message loop until the window is closed. Keys go through
// IsDialogMessageW, so Tab moves between the controls in the order they are
// created (the forms' Tab order); Escape and Enter are sorted out before that,
// as the X windows treat them: Escape closes only the message window, Enter is
// a line break in the body and presses a focused button, and does nothing
// else.

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/win32.h"
#include "ui/countdown.h"
#include "ui/internal.h"

namespace vlt::ui {

namespace {

constexpr const wchar_t* kWindowClass = L"VellumtideWindow";
// The first control id; ids follow in creation order.
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kCountdownTimer = 1;
constexpr int kTwipsPerInch = 1440;
// How far a label grows above and below its place (and to its right), in twips.
constexpr int kLabelGrowth = 60;

// The dialog fonts: the system's message font, and its bold variant for the
// required labels and the instruction line.
class Fonts {
  public:
    Fonts() {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        LOGFONTW font{};
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            font = metrics.lfMessageFont;
        } else {
            ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
        }
        m_normal = ::CreateFontIndirectW(&font);
        font.lfWeight = FW_BOLD;
        m_bold = ::CreateFontIndirectW(&font);
    }
    ~Fonts() {
        if (m_normal != nullptr) ::DeleteObject(m_normal);
        if (m_bold != nullptr) ::DeleteObject(m_bold);
    }
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    HFONT normal() const { return m_normal; }
    HFONT bold() const { return m_bold; }

  private:
    HFONT m_normal = nullptr;
    HFONT m_bold = nullptr;
};

// Dots per inch of the screen, for turning twips into pixels.
int screen_dpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// The state of one shown window: how it ended, and what its controls do.
// The window procedure reaches it through the window's user data.
struct WindowState {
    bool done = false;
    FormOutcome outcome = FormOutcome::Closed;
    bool escape_closes = false;
    HWND body = nullptr;  // the multi-line edit that takes Enter, if any
    std::function<void(int id)> on_command;
    std::function<void()> on_timer;
};

WindowState* state_of(HWND window) {
    return reinterpret_cast<WindowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    WindowState* state = state_of(window);
    if (state != nullptr) {
        switch (message) {
            case WM_CLOSE:
                // The close box: the window ends without storing.
                state->done = true;
                return 0;
            case WM_COMMAND:
                // IDOK and IDCANCEL are what IsDialogMessageW makes of Enter
                // and Escape; the keys are handled before it, so both are
                // ignored here.
                if (LOWORD(wparam) >= kFirstControlId && HIWORD(wparam) == BN_CLICKED &&
                    state->on_command) {
                    state->on_command(LOWORD(wparam));
                }
                return 0;
            case WM_TIMER:
                if (wparam == kCountdownTimer && state->on_timer) state->on_timer();
                return 0;
            case WM_CTLCOLORSTATIC:
                // Labels and the read-only text sit on the dialog background.
                ::SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
            default:
                break;
        }
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

bool register_window_class() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = kWindowClass;
    window_class.hIcon = ::LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(1));
    return ::RegisterClassExW(&window_class) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Whether Enter and Escape reach IsDialogMessageW for `message`; false when
// the key is taken here (dropped, or given to the body as a line break).
bool sort_out_keys(const MSG& message, const WindowState& state) {
    if (message.message != WM_KEYDOWN && message.message != WM_CHAR) return true;
    const bool escape = message.wParam == VK_ESCAPE;
    const bool enter = message.wParam == VK_RETURN;
    // The body wants every key, Tab included, from IsDialogMessageW; Tab
    // moves on from it as from the one-line fields.
    if (message.wParam == VK_TAB && state.body != nullptr && ::GetFocus() == state.body) {
        if (message.message == WM_KEYDOWN) {
            const HWND root = ::GetAncestor(state.body, GA_ROOT);
            const bool back = (::GetKeyState(VK_SHIFT) & 0x8000) != 0;
            if (HWND next = ::GetNextDlgTabItem(root, state.body, back ? TRUE : FALSE)) {
                ::SetFocus(next);
                ::SendMessageW(next, EM_SETSEL, 0, -1);
            }
        }
        return false;
    }
    if (escape) {
        if (state.escape_closes && message.message == WM_KEYDOWN) {
            ::PostMessageW(::GetAncestor(message.hwnd, GA_ROOT), WM_CLOSE, 0, 0);
        }
        return false;
    }
    if (!enter) return true;
    const HWND focus = ::GetFocus();
    if (focus != nullptr && focus == state.body) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        return false;
    }
    wchar_t class_name[16] = {};
    ::GetClassNameW(focus, class_name, 16);
    return lstrcmpiW(class_name, L"Button") == 0;
}

// The modal loop of `window`: runs until its state says done, or until
// `owner_done` (the state of the window it was opened over) is set.
void run_modal(HWND window, WindowState& state, const WindowState* owner) {
    MSG message{};
    while (!state.done && (owner == nullptr || !owner->done)) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT belongs to an outer loop: pass it on and end this one.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got < 0) break;
        if (!sort_out_keys(message, state)) continue;
        if (::IsDialogMessageW(window, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// One top-level window with its controls; destroyed with it.
class Window {
  public:
    Window(const std::string& caption, int dpi, HFONT font, HWND owner, WindowState& state)
        : m_dpi(dpi), m_font(font), m_owner(owner) {
        const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        m_window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kWindowClass,
                                     to_utf16(caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                                     100, 100, owner, nullptr, ::GetModuleHandleW(nullptr), &state);
    }
    ~Window() {
        if (m_owner != nullptr) ::EnableWindow(m_owner, TRUE);
        if (m_window != nullptr) ::DestroyWindow(m_window);
        if (m_owner != nullptr) ::SetActiveWindow(m_owner);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND handle() const { return m_window; }
    int px(int twips) const { return ::MulDiv(twips, m_dpi, kTwipsPerInch); }

    HWND add(const wchar_t* control_class, const std::string& text, DWORD style, const Place& at,
             HFONT font = nullptr, DWORD ex_style = 0) {
        const int id = kFirstControlId + m_controls++;
        HWND control = ::CreateWindowExW(ex_style, control_class, to_utf16(text).c_str(),
                                         WS_CHILD | WS_VISIBLE | style, px(at.left), px(at.top),
                                         px(at.width), px(at.height), m_window,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                         ::GetModuleHandleW(nullptr), nullptr);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : m_font), FALSE);
        return control;
    }

    // Sizes the window for a client area of `width` x `height` twips, or to
    // an outer size when `outer`, and centres it on the screen.
    void place(int width, int height, bool outer) {
        RECT frame{0, 0, px(width), px(height)};
        if (!outer) {
            ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(m_window, GWL_STYLE)),
                                 FALSE,
                                 static_cast<DWORD>(::GetWindowLongW(m_window, GWL_EXSTYLE)));
        }
        const int w = static_cast<int>(frame.right - frame.left);
        const int h = static_cast<int>(frame.bottom - frame.top);
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int x = static_cast<int>(work.left) +
                      std::max(0, (static_cast<int>(work.right - work.left) - w) / 2);
        const int y = static_cast<int>(work.top) +
                      std::max(0, (static_cast<int>(work.bottom - work.top) - h) / 2);
        ::SetWindowPos(m_window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void show(HWND focus) {
        if (m_owner != nullptr) ::EnableWindow(m_owner, FALSE);
        ::ShowWindow(m_window, SW_SHOW);
        ::SetForegroundWindow(m_window);
        if (focus != nullptr) ::SetFocus(focus);
    }

  private:
    int m_dpi;
    HFONT m_font;
    HWND m_owner;
    HWND m_window = nullptr;
    int m_controls = 0;
};

std::string window_text(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(std::max(0, length)) + 1, L'\0');
    const int got = ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(0, got)));
    return from_utf16(text);
}

// An edit control shows CR LF line breaks; the forms speak LF.
std::string edit_text(std::string_view lf_text) {
    return to_crlf(lf_text);
}

class Win32Windows final : public Windows {
  public:
    Win32Windows(std::string exe_name, std::optional<std::chrono::milliseconds> countdown)
        : m_exe_name(std::move(exe_name)), m_countdown(countdown), m_dpi(screen_dpi()) {}

    void show_message(std::string_view text, bool wide) override {
        show_message_over(text, wide, nullptr, nullptr);
    }

    FormOutcome edit_params(ParamFields& fields, const ParamWindowOptions& options) override {
        Countdown countdown(m_countdown.value_or(options.countdown));
        return run_form(kParamForm, fields, &countdown, &options.settings_text);
    }

    FormOutcome edit_settings(SettingsFields& fields) override {
        return run_form(kSettingsForm, fields, nullptr, nullptr);
    }

    void pump() override {
        if (m_open == 0) return;
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

  private:
    struct Binding {
        FieldKind kind;
        std::string* value;
        HWND control;
    };

    template <typename Fields>
    FormOutcome run_form(const FormSpec<Fields>& form, Fields& fields, Countdown* countdown,
                         const std::function<std::string()>* settings_text) {
        WindowState state;
        Window window(input_caption(), m_dpi, m_fonts.normal(), nullptr, state);
        if (window.handle() == nullptr) return FormOutcome::Closed;
        ++m_open;

        // The system font is taller than the layout's 9 point text: each label
        // grows around its place, its text centred where the layout puts it,
        // and the instruction line runs to the window's right margin.
        const Place instruction{kInstructionAt.left, kInstructionAt.top - kLabelGrowth,
                                form.width - 2 * kInstructionAt.left,
                                kInstructionAt.height + 2 * kLabelGrowth};
        window.add(L"STATIC", kInstruction, SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, instruction,
                   m_fonts.bold());
        for (const auto& field : form.fields) {
            const Place& at = field.label_at;
            const Place grown{at.left, at.top - kLabelGrowth, at.width + kLabelGrowth,
                              at.height + 2 * kLabelGrowth};
            window.add(L"STATIC", std::string(field.label) + ":",
                       SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, grown,
                       field.required ? m_fonts.bold() : m_fonts.normal());
        }
        if (form.separator) window.add(L"STATIC", "", SS_ETCHEDHORZ, *form.separator);

        // The controls in Tab order: the order of creation is the order Tab visits.
        std::vector<Binding> bindings;
        HWND first = nullptr;
        int ok_id = 0;
        int info_id = 0;
        const int controls = static_cast<int>(form.fields.size() + form.buttons.size());
        for (int tab = 0; tab < controls; ++tab) {
            for (const auto& field : form.fields) {
                if (field.tab != tab) continue;
                DWORD style = WS_TABSTOP | ES_AUTOHSCROLL;
                if (field.kind == FieldKind::Secret) style |= ES_PASSWORD;
                if (field.kind == FieldKind::Lines) {
                    style = WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
                }
                const std::string shown = edit_text(shown_value(field.kind, fields.*field.value));
                HWND control =
                    window.add(L"EDIT", shown, style, field.at, nullptr, WS_EX_CLIENTEDGE);
                if (field.kind == FieldKind::Lines) state.body = control;
                if (first == nullptr) first = control;
                bindings.push_back({field.kind, &(fields.*field.value), control});
            }
            for (const ButtonLayout& button : form.buttons) {
                if (button.tab != tab) continue;
                HWND control =
                    window.add(L"BUTTON", button.text, WS_TABSTOP | BS_PUSHBUTTON, button.at);
                (button.role == ButtonRole::Ok ? ok_id : info_id) = ::GetDlgCtrlID(control);
            }
        }
        HWND countdown_line = nullptr;
        if (form.countdown_line) {
            countdown_line = window.add(L"STATIC", "", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS,
                                        *form.countdown_line);
        }

        state.on_command = [&](int id) {
            if (id == ok_id) {
                for (const Binding& binding : bindings) {
                    std::string typed = window_text(binding.control);
                    if (binding.kind == FieldKind::Lines) typed = to_lf(typed);
                    *binding.value = stored_value(binding.kind, *binding.value, typed);
                }
                state.outcome = FormOutcome::Stored;
                state.done = true;
            } else if (id == info_id && settings_text != nullptr && *settings_text) {
                show_message_over((*settings_text)(), false, window.handle(), &state);
            }
        };
        if (countdown != nullptr) {
            state.on_timer = [&]() {
                switch (countdown->tick()) {
                    case Countdown::Event::Expired:
                        state.outcome = FormOutcome::TimedOut;
                        state.done = true;
                        break;
                    case Countdown::Event::Message:
                        if (countdown_line == nullptr) break;
                        ::SetWindowTextW(
                            countdown_line,
                            to_utf16(countdown_text(countdown->seconds_left())).c_str());
                        break;
                    case Countdown::Event::None:
                        break;
                }
            };
            ::SetTimer(window.handle(), kCountdownTimer, static_cast<UINT>(kCountdownTick.count()),
                       nullptr);
        }

        window.place(form.width, form.height, false);
        window.show(first);
        run_modal(window.handle(), state, nullptr);
        if (countdown != nullptr) ::KillTimer(window.handle(), kCountdownTimer);
        --m_open;
        // A close or a time-out stores nothing: only OK wrote into the fields.
        return state.outcome;
    }

    // The message window: the text read-only but selectable, and an OK
    // button centred at the top of the strip along the bottom. Opened over
    // `owner`, it also ends when the owner's window does.
    void show_message_over(std::string_view text, bool wide, HWND owner,
                           const WindowState* owner_state) {
        WindowState state;
        state.escape_closes = true;
        Window window(message_caption(m_exe_name), m_dpi, m_fonts.normal(), owner, state);
        if (window.handle() == nullptr) {
            // No window can be made (no display driver): the text goes to
            // standard output as in the none way, so that it is not lost.
            write_standard_output(printable_message(text));
            return;
        }
        ++m_open;
        const Place& outer = wide ? kMessageWide : kMessageNarrow;
        window.place(outer.width, outer.height, true);
        RECT client{};
        ::GetClientRect(window.handle(), &client);
        const int client_width = static_cast<int>(client.right);
        const int strip_top = static_cast<int>(client.bottom) - window.px(kMessageStripHeight);

        // The text box keeps its size and is cut off by the narrow window; it
        // scrolls, so nothing becomes unreachable.
        const Place& box = kMessageText;
        HWND shown =
            window.add(L"EDIT", edit_text(to_lf(text)),
                       WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, box);
        ::SetWindowPos(shown, nullptr, 0, 0,
                       std::min(window.px(box.width), client_width - window.px(box.left)),
                       std::min(window.px(box.height), strip_top - window.px(box.top)),
                       SWP_NOMOVE | SWP_NOZORDER);
        const int ok_width = window.px(kMessageOk.width);
        HWND ok = window.add(L"BUTTON", "OK", WS_TABSTOP | BS_PUSHBUTTON, kMessageOk);
        ::SetWindowPos(ok, nullptr, (client_width - ok_width) / 2, strip_top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER);
        const int ok_id = ::GetDlgCtrlID(ok);
        state.on_command = [&state, ok_id](int id) {
            if (id == ok_id) state.done = true;
        };
        window.show(ok);
        run_modal(window.handle(), state, owner_state);
        --m_open;
    }

    std::string m_exe_name;
    std::optional<std::chrono::milliseconds> m_countdown;
    int m_dpi;
    Fonts m_fonts;
    int m_open = 0;
};

// Whether this process's window station is shown to a user: not for a
// service or a scheduled task that runs whether the user is logged on or not.
bool window_station_visible() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                     &needed)) {
        return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// A console that belongs to this process alone (started from Explorer or a
// shortcut) is hidden before a window is shown; a console shared with cmd or
// a batch file stays.
void hide_own_console() {
    DWORD processes[2] = {};
    if (::GetConsoleProcessList(processes, 2) != 1) return;
    if (HWND console = ::GetConsoleWindow()) ::ShowWindow(console, SW_HIDE);
}

}  // namespace

bool gui_available() {
    return window_station_visible();
}

Result<std::unique_ptr<Windows>> make_gui_windows(
    std::string exe_name, std::optional<std::chrono::milliseconds> countdown) {
    if (!window_station_visible()) {
        return Error(ErrorKind::Config, "the window station is not visible");
    }
    if (!register_window_class()) {
        return Error(ErrorKind::Config,
                     "cannot register the window class: " + win32_error_reason(::GetLastError()));
    }
    hide_own_console();
    return std::unique_ptr<Windows>(std::make_unique<Win32Windows>(std::move(exe_name), countdown));
}

}  // namespace vlt::ui
