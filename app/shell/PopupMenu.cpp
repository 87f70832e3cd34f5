#include "app/shell/PopupMenu.h"

#include "platform/Seam.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace lynx::platform {

using Handler = Seam<PopupMenuHandler, struct PopupMenuService>;

int TrackPopupMenu(QWidget* owner, const MenuItems& items, const QPoint& screenPos, const std::vector<int>& checked)
{
    if (Handler::Current())
        return Handler::Current()(items);
    QMenu menu(owner);
    for (const auto& [id, text] : items) {
        QAction* action = menu.addAction(text);
        action->setData(id);
        if (std::find(checked.begin(), checked.end(), id) != checked.end()) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
    QAction* chosen = menu.exec(screenPos);
    return chosen ? chosen->data().toInt() : 0;
}

PopupMenuHandler SetPopupMenuHandler(PopupMenuHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
