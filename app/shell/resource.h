// The resource identifiers of the window and its two dialogs, in the style of
// the framework's resource.h: dialogs IDD_, controls IDC_, the icon IDR_, the
// logo IDB_. Every caller reaches a control by its name, never by its number:
// the same numbers mean different controls in different templates.
#pragma once

// Dialog templates.
#define IDD_LYNX_DIALOG 102
#define IDD_MODIFY_IP 129
#define IDD_MUL_MODIFY_IP 130

// Pictures.
#define IDR_MAINFRAME 128  // the application icon
#define IDB_LOGO 133       // the logo, resource type "PNG"

// OK and Cancel (1 and 2) are the framework's own: lynx::res::IDOK, IDCANCEL.

// The main window (IDD_LYNX_DIALOG).
#define IDC_BTN_SEARCH 1000
#define IDC_LIST_DEVICE 1001
#define IDC_BTN_OPEN 1002
#define IDC_CHK_SELECT_ALL 1003
#define IDC_BTN_MODIFY_IP 1004
#define IDC_BTN_MUL_MODIFY_IP 1005
#define IDC_BTN_BATCH_UPGRADE 1006
#define IDC_CHK_HIDE_SAME_IP 1007
#define IDC_CHK_HIDE_SAME_MAC 1008
#define IDC_STATIC_LOGO 1010
#define IDC_STATIC_UPGRADE_FILE 1024
#define IDC_STATIC_UPGRADE_SUMMARY 1025
#define IDC_STATIC_SITE_COUNTS 1030
#define IDC_STATIC_WATCH_STATUS 1031
#define IDC_EDIT_SEARCH_SECONDS 1026
#define IDC_COMBO_PROTOCOL 1027

// The single address change (IDD_MODIFY_IP).
#define IDC_IPADDRESS_IP 1274
#define IDC_IPADDRESS_MASK 1275
#define IDC_IPADDRESS_GATEWAY 1276

// The batch address plan (IDD_MUL_MODIFY_IP).
#define IDC_COMBO_NET 1005
#define IDC_IPADDRESS_PLAN_MASK 1023
#define IDC_IPADDRESS_PLAN_GATEWAY 1024
#define IDC_IPADDRESS_PLAN_START 1025
#define IDC_IPADDRESS_PLAN_END 1026

// Commands of the list's context menu.
#define ID_MENU_IE_BROWSE 3000
#define ID_MENU_MORE_INFO 3001
#define ID_MENU_EXPORT_LIST 3002
#define ID_MENU_LOAD_SITE 3003
#define ID_MENU_UNLOAD_SITE 3004
#define ID_MENU_MONITOR 3005
