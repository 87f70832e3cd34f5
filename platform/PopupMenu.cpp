#include "platform/PopupMenu.h"

#include <QAction>
#include <QMenu>

namespace lynx::platform {

namespace {

PopupMenuHandler& handler()
{
    static PopupMenuHandler h;
    return h;
}

} // namespace

int TrackPopupMenu(QWidget* owner, const MenuItems& items, const QPoint& screenPos)
{
    if (handler())
        return handler()(items);
    QMenu menu(owner);
    for (const auto& [id, text] : items)
        menu.addAction(text)->setData(id);
    QAction* chosen = menu.exec(screenPos);
    return chosen ? chosen->data().toInt() : 0;
}

PopupMenuHandler SetPopupMenuHandler(PopupMenuHandler h)
{
    PopupMenuHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

} // namespace lynx::platform
