// Resource tables of the dialogs: every control with its id, kind, Chinese and
// English text and its position in client pixels, and the main menu bar in both
// languages. The dialogs build their widgets from these tables; the id stays
// the handle that code and tests use.
#pragma once

#include <array>
#include <cstddef>

enum class ControlKind {
    Static,          // text, left aligned
    StaticCentered,  // text, centred
    IpAddress,       // four-octet address field
    Button,
    GroupBox,
    RadioButton,
    ImageArea,             // picture of a view
    ReadOnlyEdit,          // multi-line, read-only text
    LineEdit,              // one line of text the engineer types
    ReadOnlyLine,          // one line of text, read-only
    ReadOnlyLineCentered,  // the same, centred
};

struct ControlSpec {
    int id;
    ControlKind kind;
    const char* chinese;  // resource text ("" when the control has none)
    const char* english;  // text of the English interface (nullptr: unchanged)
    int x, y, w, h;
};

// Login dialog: window title, client size and controls.
constexpr const char* kLogOnTitleChinese = "登录";
constexpr const char* kLogOnTitleEnglish = "Login";
constexpr int kLogOnWidth = 600;
constexpr int kLogOnHeight = 400;
extern const std::array<ControlSpec, 8> kLogOnControls;

// Main dialog: size and controls.
constexpr int kMainWidth = 1700;
constexpr int kMainHeight = 800;
extern const std::array<ControlSpec, 11> kMainControls;
// The player bar of a recording: below the views and their buttons, hidden
// until a recording is opened.
constexpr int kReplayBarX = 40;
constexpr int kReplayBarY = 690;
constexpr int kReplayBarWidth = 1300;
constexpr int kReplayBarHeight = 44;

// One item of the menu bar. depth 0 is a top-level popup, 1 an item (or
// popup) inside it, 2 an item inside that. command 0 marks a popup.
struct MenuSpec {
    int depth;
    const char* chinese;
    const char* english;  // nullptr: the text stays as in Chinese
    int command;
};
extern const std::array<MenuSpec, 28> kMainMenu;

// The about item appended to the help menu (command 16).
constexpr const char* kAboutItemText = "关于 KestTools(&A)...";

// Looks a control up in a table; nullptr when the id is not in it.
template <size_t N>
const ControlSpec* findControl(const std::array<ControlSpec, N>& table, int id) {
    for (const ControlSpec& item : table)
        if (item.id == id) return &item;
    return nullptr;
}
