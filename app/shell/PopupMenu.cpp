#include "app/shell/PopupMenu.h"

#include "platform/Seam.h"

#include <QAction>
#include <QMenu>

namespace lynx::platform {

using Handler = Seam<PopupMenuHandler, struct PopupMenuService>;

int TrackPopupMenu(QWidget* owner, const MenuItems& items, const QPoint& screenPos)
{
    if (Handler::Current())
        return Handler::Current()(items);
    QMenu menu(owner);
    for (const auto& [id, text] : items)
        menu.addAction(text)->setData(id);
    QAction* chosen = menu.exec(screenPos);
    return chosen ? chosen->data().toInt() : 0;
}

PopupMenuHandler SetPopupMenuHandler(PopupMenuHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
