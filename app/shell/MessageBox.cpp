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

// A text of "label<TAB>...:<TAB>value" lines (a device's details) as a table,
// so that the values line up whatever the font; empty for any other text.
QString AlignedTable(const QString& text)
{
    if (!text.contains(QStringLiteral("\t:\t")))
        return {};
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int colon = line.indexOf(QStringLiteral("\t:\t"));
        if (colon < 0) {
            html += QStringLiteral("<tr><td colspan=\"3\">%1</td></tr>").arg(line.toHtmlEscaped());
            continue;
        }
        html += QStringLiteral("<tr><td>%1</td><td>&nbsp;:&nbsp;</td><td>%2</td></tr>")
                    .arg(line.left(colon).trimmed().toHtmlEscaped(), line.mid(colon + 3).toHtmlEscaped());
    }
    return html + QStringLiteral("</table>");
}

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
    if (const QString table = AlignedTable(request.text); !table.isEmpty()) {
        box->setTextFormat(Qt::RichText);
        box->setText(table);
    } else {
        box->setText(request.text);
    }
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
