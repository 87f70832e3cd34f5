#include "app/shell/MessageBox.h"

#include "platform/Seam.h"
#include "platform/Translation.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace lynx::platform {

using Handler = Seam<MessageBoxHandler, struct MessageBoxService>;

namespace {

int showReal(const MessageBoxRequest& request)
{
    // Every box belongs to a window: a box of its own would open behind the
    // main window, and while that runs modally it could not even be closed.
    QWidget* owner = request.owner;
    if (!owner)
        owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    auto* box = new QMessageBox(owner);
    box->setWindowTitle(request.caption);
    box->setText(request.text);
    box->setIcon(request.icon == MB_ICONQUESTION ? QMessageBox::Question : QMessageBox::NoIcon);
    box->addButton(Tr("确定"), QMessageBox::AcceptRole);
    if (request.buttons == MB_OKCANCEL)
        box->setEscapeButton(static_cast<QAbstractButton*>(box->addButton(Tr("取消"), QMessageBox::RejectRole)));
    if (request.modeless) {
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
        box->raise();
        box->activateWindow();
        return IDOK;
    }
    box->exec();
    bool ok = box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
    delete box;
    return ok ? IDOK : IDCANCEL;
}

} // namespace

int ShowMessageBox(const MessageBoxRequest& given)
{
    // Texts are given in the source language and shown in the chosen one
    // (scripted boxes see them as a person would).
    MessageBoxRequest request = given;
    request.text = Tr(given.text);
    request.caption = Tr(given.caption);
    if (Handler::Current())
        return Handler::Current()(request);
    return showReal(request);
}

int ShowMessageBox(QWidget* owner, const QString& text, int buttons)
{
    MessageBoxRequest request;
    request.owner = owner;
    request.text = text;
    request.caption = QStringLiteral("提示");
    request.buttons = buttons;
    return ShowMessageBox(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
