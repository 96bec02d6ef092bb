#pragma once
// The layout and the rules of the two input windows and the message window,
// apart from any toolkit: which fields a window has, their labels, which are
// required (shown bold), where each control sits, the order the Tab key
// visits them, and what pressing OK stores. The graphical windows draw these
// tables and the terminal prompts ask for their fields; a window of another
// system reads the same tables. Not for use outside src/ui and its tests.
//
// Places are in twips (1/1440 inch). The windows are drawn at 96 dots per
// inch, 15 twips to a pixel, so that every control lands on whole pixels and
// the windows look the same on every screen.

#include <optional>
#include <span>
#include <string>

#include "ui/windows.h"

namespace vlt::ui {

// Texts the windows show, shared by the graphical windows and the prompts.
inline constexpr const char* kInstruction =
    "パラメータが不足しています。パラメータを指定してください。　（太字は必須）";
inline constexpr const char* kCaptionLead = "【再入力】 ";
inline constexpr const char* kServerInfoButton = "サーバ情報";
inline constexpr const char* kOkButton = "O K";

// Left, top, width, height, in twips.
struct Place {
    int left;
    int top;
    int width;
    int height;
};

enum class FieldKind {
    Line,    // one line of text
    Secret,  // one line, masked (the password)
    Lines,   // several lines (the body), CR LF between them when stored
};

// One field: its label (shown with a colon after it in the windows), the
// value it edits, and where label and field sit. `tab` is the field's place
// in the Tab order among all the window's controls, buttons included.
template <typename Fields>
struct FieldSpec {
    const char* label;
    bool required;
    FieldKind kind;
    std::string Fields::*value;
    Place label_at;
    Place at;
    int tab;
};

enum class ButtonRole { Ok, ServerInfo };

struct ButtonLayout {
    ButtonRole role;
    const char* text;
    Place at;
    int tab;
};

// One input window: its client size, the fields top to bottom (the order the
// prompts ask them in), its buttons, and the optional separator line and
// countdown message line.
template <typename Fields>
struct FormSpec {
    int width;
    int height;
    std::span<const FieldSpec<Fields>> fields;
    std::span<const ButtonLayout> buttons;
    std::optional<Place> separator;
    std::optional<Place> countdown_line;
};

// The instruction line at the top of both input windows.
inline constexpr Place kInstructionAt{240, 180, 6555, 255};

inline constexpr FieldSpec<ParamFields> kParamFields[] = {
    {"To", true, FieldKind::Line, &ParamFields::to, {420, 720, 675, 195}, {960, 660, 7815, 315}, 3},
    {"Cc",
     false,
     FieldKind::Line,
     &ParamFields::cc,
     {420, 1080, 675, 195},
     {960, 1020, 7815, 315},
     0},
    {"Subject",
     true,
     FieldKind::Line,
     &ParamFields::subject,
     {60, 1560, 855, 195},
     {960, 1500, 8775, 315},
     2},
    {"Message",
     true,
     FieldKind::Lines,
     &ParamFields::body,
     {60, 1920, 1035, 195},
     {960, 1860, 8775, 2955},
     1},
    {"Attach",
     false,
     FieldKind::Line,
     &ParamFields::attach,
     {240, 5040, 675, 195},
     {960, 4980, 7815, 315},
     5},
};
inline constexpr ButtonLayout kParamButtons[] = {
    {ButtonRole::Ok, kOkButton, {7140, 5580, 1695, 375}, 4},
    {ButtonRole::ServerInfo, kServerInfoButton, {3720, 5580, 1215, 375}, 6},
};
inline constexpr FormSpec<ParamFields> kParamForm{
    9975, 6420, kParamFields, kParamButtons, std::nullopt, Place{120, 6120, 9495, 255}};

inline constexpr FieldSpec<SettingsFields> kSettingsFields[] = {
    {"SMTP Server",
     true,
     FieldKind::Line,
     &SettingsFields::smtp_server,
     {240, 780, 1395, 195},
     {1680, 720, 5115, 315},
     3},
    {"Port",
     true,
     FieldKind::Line,
     &SettingsFields::smtp_port,
     {7200, 780, 555, 195},
     {7920, 720, 795, 315},
     2},
    {"From",
     true,
     FieldKind::Line,
     &SettingsFields::from,
     {960, 1320, 675, 195},
     {1680, 1260, 5115, 315},
     1},
    {"POP Server",
     true,
     FieldKind::Line,
     &SettingsFields::pop_server,
     {300, 2100, 1335, 195},
     {1680, 2040, 5115, 315},
     0},
    {"Port",
     false,
     FieldKind::Line,
     &SettingsFields::pop_port,
     {7200, 2100, 555, 195},
     {7920, 2040, 855, 315},
     5},
    {"User",
     true,
     FieldKind::Line,
     &SettingsFields::user,
     {960, 2760, 555, 195},
     {1680, 2700, 1995, 315},
     6},
    {"Password",
     true,
     FieldKind::Secret,
     &SettingsFields::password,
     {4560, 2760, 1095, 195},
     {5940, 2700, 1995, 315},
     7},
};
inline constexpr ButtonLayout kSettingsButtons[] = {
    {ButtonRole::Ok, kOkButton, {7080, 3360, 1695, 375}, 4},
};
// The separator between the SMTP values and the POP3 values is 2 px high.
inline constexpr FormSpec<SettingsFields> kSettingsForm{
    9690, 4155, kSettingsFields, kSettingsButtons, Place{240, 1785, 8535, 30}, std::nullopt};

// The message window. Its sizes are outer sizes, frame and title bar
// included; the text box keeps its size in both and is cut off by the narrow
// window. The OK button sits centred at the top of the strip along the bottom.
inline constexpr Place kMessageWide{0, 0, 8200, 5700};
inline constexpr Place kMessageNarrow{0, 0, 5800, 3000};
inline constexpr Place kMessageText{180, 180, 7815, 4455};
inline constexpr int kMessageStripHeight = 525;
inline constexpr Place kMessageOk{0, 0, 1155, 375};

// A value as a field shows it: the body with LF line breaks, the rest as is.
std::string shown_value(FieldKind kind, const std::string& value);

// What OK stores for a field that held `before` and shows `typed`: the text
// typed, with CR LF line breaks in the body. A body left as it was shown goes
// back exactly as it came, so that a body whose line breaks are not all CR LF
// is not changed by a window the user opened only to fill in another field.
std::string stored_value(FieldKind kind, const std::string& before, const std::string& typed);

// "【再入力】 Vellumtide  Ver： 0.3.43", the caption of both input windows.
std::string input_caption();
// The message window's caption: the executable name, three spaces, the version.
std::string message_caption(std::string_view exe_name);

}  // namespace vlt::ui
