// What the window tests share beyond every widget test's support: handing the
// window datagrams through its real receive callbacks.
#pragma once

#include "QtTestSupport.h"
#include "Reports.h"
#include "app/CLynxDlg.h"

#include <QString>

#include <cstdint>
#include <map>
#include <string>

using lynx::test::ReportJson;

// Hands a report to the window through the transport's receive callback, as a
// datagram on the report port would, and lets the UI thread apply it.
void DeliverReport(const std::string& json, uint8_t marker = '$');
// Hands a datagram to the window's port-8025 callback (a reply or a
// notification) and lets the UI thread apply it.
void DeliverUpdateDatagram(uint16_t command, uint16_t result, uint32_t tag, const std::string& body);

// A search of the given seconds through the window's box and button; false
// when it has not ended a few seconds after its time.
bool SearchInWindow(CLynxDlg& dlg, int seconds);
// Ticks every row and clicks the batch upgrade button.
void TickAllAndUpgrade(CLynxDlg& dlg);
// Every listed row's status, by the address in its IP cell.
std::map<std::string, QString> StatusesByIp(const CLynxDlg& dlg);
