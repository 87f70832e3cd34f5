// A pop-up (context) menu, behind a seam: tests choose the command instead of
// a person.
#pragma once

#include <QPoint>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

class QWidget;

namespace lynx::platform {

using MenuItems = std::vector<std::pair<int, QString>>;  // command id, text

// Shows the menu at a screen position and returns the chosen command, 0 for
// none. The commands in checked are toggles shown switched on.
int TrackPopupMenu(QWidget* owner, const MenuItems& items, const QPoint& screenPos,
                   const std::vector<int>& checked = {});

using PopupMenuHandler = std::function<int(const MenuItems&)>;
PopupMenuHandler SetPopupMenuHandler(PopupMenuHandler handler);

} // namespace lynx::platform
