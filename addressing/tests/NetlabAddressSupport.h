// What the two virtual-LAN address tests share: lynx-cli runs and searches.
#pragma once

#include "DialogTestSupport.h"
#include "addressing/IpAddressCtrl.h"
#include "addressing/Messages.h"
#include "addressing/ModifyIp.h"
#include "addressing/MulModifyIP.h"
#include "app/CLynxDlg.h"
#include "platform/ModalDialog.h"
#include "res/DialogBuilder.h"
#include "tarn.h"
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <map>

namespace msg = lynx::addressing::msg;

namespace addresstest {

// A camera's row as a search lists it.
struct Listed {
    std::string ip, mac, gateway, mask;
};

// MAC -> listed row.
using Listing = std::map<std::string, Listed>;

struct ProcessResult {
    int status = -1;
    std::string out, err;
};

inline ProcessResult RunCli(const QStringList& args)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("LYNX_BIN_DIR")) + "/lynx-cli", args);
    ProcessResult result;
    if (!process.waitForFinished(60000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

inline std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// `lynx-cli search` as CSV: number, IP, MAC, gateway, mask, ...
inline Listing CliSearch()
{
    ProcessResult r = RunCli({"search", "--seconds", "2", "--format", "csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    Listing listing;
    std::vector<std::string> lines = Split(r.out, '\n');
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells = Split(lines[i], ',');
        if (cells.size() < 5)
            continue;
        listing[cells[2]] = Listed{cells[1], cells[2], cells[3], cells[4]};
    }
    return listing;
}

// A camera that has taken a new address is silent while it restarts.
inline void WaitForRestart()
{
    QThread::msleep(2600);
}

inline void Pump(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

inline std::vector<std::string> Macs(const Listing& listing)
{
    std::vector<std::string> macs;
    for (const auto& [mac, row] : listing)
        macs.push_back(mac);
    return macs;
}

} // namespace addresstest

using namespace addresstest;
