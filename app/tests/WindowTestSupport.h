// What the window tests share beyond every widget test's support: handing the
// window datagrams through its real receive callbacks, and the window in a
// virtual LAN.
#pragma once

#include "NetlabFixture.h"
#include "QtTestSupport.h"
#include "Reports.h"
#include "app/CLynxDlg.h"
#include "app/shell/FileDialog.h"
#include "tarn.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

using lynx::test::ReportJson;

// Hands a report to the window through the transport's receive callback, as a
// datagram on the report port would, and lets the UI thread apply it.
void DeliverReport(const std::string& json, uint8_t marker = '$');
// Hands a datagram to the window's port-8025 callback (a reply or a
// notification) and lets the UI thread apply it.
void DeliverUpdateDatagram(uint16_t command, uint16_t result, uint32_t tag, const std::string& body);

// Puts the window's engine on a clock that skips each wait for a batch's next
// request, so that a batch goes out at once; otherwise it runs with the
// steady clock. Each wait skipped is kept, in milliseconds to the nearest 100.
std::shared_ptr<std::vector<int>> SkipUpgradePauses(CLynxDlg& dlg);

// Answers of ModifyIp and MulModifyIP (for ScriptedDialogs): the boxes given
// filled in (an empty one left as it is), the network chosen when given, and
// OK pressed; the networks the plan offered into offered when given.
int AcceptModifyIp(QDialog& dialog, const QString& ip, const QString& mask = {}, const QString& gateway = {});
int AcceptPlan(QDialog& dialog, QStringList* offered = nullptr, const QString& network = {});

// A search of the given seconds through the window's box and button; false
// when it has not ended a few seconds after its time.
bool SearchInWindow(CLynxDlg& dlg, int seconds);
// Ticks every row and clicks the batch upgrade button.
void TickAllAndUpgrade(CLynxDlg& dlg);
// Every listed row's status, by the address in its IP cell.
std::map<std::string, QString> StatusesByIp(const CLynxDlg& dlg);

// The window in a virtual LAN, answered by the test: its boxes scripted, its
// file dialog choosing `chosen`, the waits between a batch's requests skipped.
// Created (and its search seconds set to 1) before the test, unless the
// suite says otherwise. After the test the transport is shut down, so that no
// server of this window takes the datagrams meant for a later program.
struct WindowInLanOptions {
    bool create = true;
    const char* searchSeconds = "1";  // nullptr: the window's own default
};
class WindowInLan : public lynx::test::NetlabTest {
protected:
    using Options = WindowInLanOptions;
    explicit WindowInLan(Options options = {}) : m_options(options) {}

    void SetUpInLan() override;
    void TearDown() override;

    // A search of the given seconds through the box and the button.
    void windowSearch(int seconds) { ASSERT_TRUE(SearchInWindow(dlg, seconds)); }
    // Stops a running search, searches again for the seconds in the box, and
    // gives each row's index by its text in the given column.
    std::map<QString, int> searchRowsBy(int column);
    std::map<std::string, QString> statuses() const { return StatusesByIp(dlg); }
    QString summary() const;
    // Whether a batch has announced its end.
    bool completed() const { return boxes.texts().contains(QStringLiteral("升级完成")); }

    std::string chosen;                             // what the file dialog returns
    lynx::platform::FileDialogRequest fileRequest;  // what it was last asked
    ScriptedBoxes boxes;
    struct TransportShutdown {
        ~TransportShutdown() { tarn_ext_Shutdown(); }
    } transportShutdown;  // before dlg: it runs once the window is gone
    CLynxDlg dlg;

private:
    Options m_options;
    bool m_handlersSet = false;
    lynx::platform::FileDialogHandler m_previousFiles;
};
