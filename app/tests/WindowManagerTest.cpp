// Boxes and dialogs under a real window manager (openbox on Xvfb, started by
// scripts/with-window-manager): the main window runs modally, as it does for
// an engineer, and every box or dialog it opens comes up over it and closes
// with its own button and with its title bar's close button. Clicks and the
// close request go through the X server and the window manager, as a
// person's would.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/FileDialog.h"
#include "app/shell/PopupMenu.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

bool UnderAWindowManager()
{
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

// The client windows from bottom to top, as the window manager stacks them.
std::vector<qulonglong> Stacking()
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    xprop.waitForFinished(5000);
    const QString text = QString::fromLatin1(xprop.readAllStandardOutput());
    std::vector<qulonglong> windows;
    for (const QString& word : text.section(QLatin1Char('#'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        windows.push_back(word.trimmed().toULongLong(nullptr, 16));
    return windows;
}

bool OnTop(QWidget* widget)
{
    const std::vector<qulonglong> windows = Stacking();
    return widget->isVisible() && !windows.empty() && windows.back() == widget->window()->winId();
}

// A left click in the middle of a widget, through the X server.
void RealClick(QWidget* widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                                  QString::number(at.x()), QString::number(at.y()),
                                                  QStringLiteral("click"), QStringLiteral("1")});
}

// What the title bar's close button does: the window manager is asked to
// close the window, and tells the program.
void CloseFromTitleBar(QWidget* widget)
{
    QProcess::execute(QStringLiteral("wmctrl"),
                      {QStringLiteral("-i"), QStringLiteral("-c"), QString::number(widget->window()->winId())});
}

template <class Box>
Box* Shown(const QString& title)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<Box*>(w); box && box->isVisible() && box->windowTitle() == title)
            return box;
    return nullptr;
}

QAbstractButton* ButtonOf(QMessageBox* box, QMessageBox::ButtonRole role)
{
    for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == role)
            return button;
    return nullptr;
}

QAbstractButton* OkButton(QMessageBox* box)
{
    return ButtonOf(box, QMessageBox::AcceptRole);
}

// Runs steps while a modal box or dialog of the window is up (they run from a
// timer inside its own event loop); true once they have all run.
class WhileUp {
public:
    explicit WhileUp(std::function<bool()> step) : m_step(std::move(step))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (!m_done && m_step())
                m_done = true;
        });
        m_timer.start(100);
    }
    bool done() const { return m_done; }

private:
    QTimer m_timer;
    std::function<bool()> m_step;
    bool m_done = false;
};

class UnderOpenbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!UnderAWindowManager())
            GTEST_SKIP() << "run by scripts/with-window-manager (an X display with openbox)";
        dlg.Create();
        DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01"));
        ASSERT_EQ(dlg.listDevice()->GetItemCount(), 1);
    }

    // Runs the window modally, as the program does, with the test inside it.
    void RunModally(const std::function<void()>& test)
    {
        QTimer::singleShot(0, &dlg, [&] {
            ASSERT_TRUE(WaitFor([&] { return dlg.isActiveWindow() && OnTop(&dlg); }, 10000)) << "the window came up";
            test();
            dlg.reject();
        });
        dlg.exec();
    }

    CLynxDlg dlg;
};

TEST_F(UnderOpenbox, TheDetailsBoxComesUpOverTheWindowAndClosesBothWays)
{
    auto previous = lynx::platform::SetPopupMenuHandler([](const lynx::platform::MenuItems&) { return ID_MENU_MORE_INFO; });
    RunModally([&] {
        for (bool byTitleBar : {false, true}) {
            dlg.OnNMRClickList(0);
            QMessageBox* box = Shown<QMessageBox>(QStringLiteral("更多信息"));
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->parentWidget(), &dlg);
            EXPECT_TRUE(WaitFor([&] { return OnTop(box); }, 5000)) << "the box opened behind the window";
            // The window stays usable while the box is up.
            auto* selectAll = lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL);
            const bool ticked = selectAll->isChecked();
            RealClick(selectAll);
            EXPECT_TRUE(WaitFor([&] { return selectAll->isChecked() != ticked; }, 5000));
            WaitFor([&] { return OnTop(box); }, 2000);
            QPointer<QMessageBox> watched(box);
            if (byTitleBar)
                CloseFromTitleBar(box);
            else
                RealClick(OkButton(box));
            EXPECT_TRUE(WaitFor([&] { return !watched || !watched->isVisible(); }, 5000))
                << (byTitleBar ? "the title bar's close button" : "确定") << " did not close it";
        }
    });
    lynx::platform::SetPopupMenuHandler(previous);
}

TEST_F(UnderOpenbox, AMessageBoxComesUpOverTheWindowAndClosesBothWays)
{
    RunModally([&] {
        for (bool byTitleBar : {false, true}) {
            // "打开" with nothing picked says so in a box.
            dlg.listDevice()->SetCheck(0, false);
            bool onTop = false;
            WhileUp close([&] {
                QMessageBox* box = Shown<QMessageBox>(QStringLiteral("提示"));
                if (!box || !OnTop(box))
                    return false;
                onTop = box->parentWidget() == &dlg;
                if (byTitleBar)
                    CloseFromTitleBar(box);
                else
                    RealClick(OkButton(box));
                return true;
            });
            QTimer::singleShot(0, &dlg, [&] { RealClick(lynx::res::GetDlgItem(dlg, IDC_BTN_OPEN)); });
            EXPECT_TRUE(WaitFor([&] { return close.done() && !Shown<QMessageBox>(QStringLiteral("提示")); }, 10000))
                << (byTitleBar ? "by the title bar" : "by 确定");
            EXPECT_TRUE(onTop);
        }
    });
}

TEST_F(UnderOpenbox, TheFileDialogComesUpOverTheWindowAndItsTitleBarCancelsIt)
{
    RunModally([&] {
        dlg.listDevice()->SetCheck(0, true);
        bool onTop = false;
        WhileUp cancel([&] {
            QFileDialog* chooser = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                    chooser = d;
            if (!chooser || !OnTop(chooser))
                return false;
            onTop = chooser->parentWidget() == &dlg;
            CloseFromTitleBar(chooser);
            return true;
        });
        QTimer::singleShot(0, &dlg, [&] { RealClick(lynx::res::GetDlgItem(dlg, IDC_BTN_BATCH_UPGRADE)); });
        EXPECT_TRUE(WaitFor([&] { return cancel.done() && QApplication::activeModalWidget() == &dlg; }, 10000));
        EXPECT_TRUE(onTop);
        EXPECT_EQ(dlg.upgradeTotal(), 0) << "a cancelled choice starts no batch";
    });
}

TEST_F(UnderOpenbox, TheWindowsOwnTitleBarAsksWhileASiteFileIsLoadedAndEndsOnlyOnOk)
{
    lynx::test::TempDir dir;
    const std::string site = dir.Write("site.csv", "mac,label\n00:1A:2B:00:00:01,A-1\n");
    auto previous = lynx::platform::SetFileDialogHandler(
        [&](const lynx::platform::FileDialogRequest&) { return QString::fromStdString(site); });
    dlg.OnMenuLoadSiteFile();
    lynx::platform::SetFileDialogHandler(previous);
    ASSERT_TRUE(dlg.siteFileLoaded());
    QStringList asked;
    bool stayedOnCancel = false;
    QTimer::singleShot(0, &dlg, [&] {
        ASSERT_TRUE(WaitFor([&] { return dlg.isActiveWindow() && OnTop(&dlg); }, 10000)) << "the window came up";
        for (const QMessageBox::ButtonRole answer : {QMessageBox::RejectRole, QMessageBox::AcceptRole}) {
            WhileUp reply([&] {
                QMessageBox* box = Shown<QMessageBox>(QStringLiteral("提示"));
                if (!box || !OnTop(box))
                    return false;
                asked << box->text();
                RealClick(ButtonOf(box, answer));
                return true;
            });
            CloseFromTitleBar(&dlg);
            const bool answered = WaitFor([&] { return reply.done() && !Shown<QMessageBox>(QStringLiteral("提示")); }, 10000);
            EXPECT_TRUE(answered) << "the question came up over the window";
            if (answer == QMessageBox::RejectRole) {
                Pump(200);  // a fixed wait: a window about to end would be gone by now
                stayedOnCancel = dlg.isVisible();
            }
        }
        if (!WaitFor([&] { return !dlg.isVisible(); }, 5000))
            dlg.reject();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    EXPECT_TRUE(stayedOnCancel);
    const QString question = QStringLiteral("已载入站点清单，退出将卸载清单。\n确定退出吗？");
    EXPECT_EQ(asked, (QStringList{question, question}));
}

} // namespace
