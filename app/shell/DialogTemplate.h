// Dialog templates as data: each control's id, class, text, style and place in
// dialog units, so that the layout scales with the dialog font.
#pragma once

#include <cstdint>
#include <vector>

namespace lynx::res {

enum class ControlKind {
    PushButton,
    DefPushButton,
    Static,          // plain text label
    StaticRight,     // right-aligned text
    StaticCentreV,   // text centred vertically
    Placeholder,     // hidden, transparent: only gives a rectangle
    AutoCheckBox,
    Edit,            // border, auto horizontal scroll
    ComboDropDown,   // drop-down with edit field
    ComboDropList,   // drop-down list, no edit field
    ListView,        // report view
    IpAddress,       // four octet fields
};

struct ControlTemplate {
    int id;           // -1 for a label without id
    ControlKind kind;
    const char* text; // UTF-8
    int x, y, cx, cy; // dialog units
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;        // dialog units
    int pointSize;     // "MS Shell Dlg" at this size
    std::vector<ControlTemplate> controls;
};

const DialogTemplate& MainDialogTemplate();       // 102
const DialogTemplate& ModifyIpTemplate();         // 129
const DialogTemplate& MulModifyIpTemplate();      // 130

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

} // namespace lynx::res
