// The three dialog templates of the window: the main window and the two
// address dialogs, laid out in dialog units.
#include "app/shell/DialogTemplate.h"
#include "app/shell/resource.h"

namespace lynx::res {

using K = ControlKind;

const DialogTemplate& MainDialogTemplate()
{
    static const DialogTemplate t{
        IDD_LYNX_DIALOG, "科瓦诱导摄像机设备搜索软件V1.0.1(Build20181107)", 577, 246, 9,
        {
            {IDC_BTN_SEARCH, K::PushButton, "搜索", 9, 225, 43, 14},
            {-1, K::Static, "设备列表", 6, 13, 54, 8},
            {IDC_BTN_OPEN, K::PushButton, "打开", 54, 225, 43, 14},
            {IDC_CHK_SELECT_ALL, K::AutoCheckBox, "全选", 64, 11, 39, 14},
            {IDC_BTN_MODIFY_IP, K::PushButton, "修改IP", 99, 225, 43, 14},
            {IDC_BTN_MUL_MODIFY_IP, K::PushButton, "批量修改IP", 144, 225, 43, 14},
            {IDC_LIST_DEVICE, K::ListView, "", 3, 26, 571, 177},
            {IDC_BTN_BATCH_UPGRADE, K::PushButton, "批量升级", 506, 225, 43, 14},
            {IDC_STATIC_UPGRADE_FILE, K::Static, "", 53, 212, 245, 8},
            {IDC_STATIC_UPGRADE_SUMMARY, K::StaticRight, "", 315, 227, 179, 11},
            {IDC_EDIT_SEARCH_SECONDS, K::Edit, "", 211, 225, 33, 14},
            {-1, K::Static, "秒", 249, 228, 8, 8},
            {-1, K::Static, "搜索", 194, 228, 15, 8},
            {-1, K::Static, "升级文件：", 11, 211, 40, 8},
            {IDC_COMBO_PROTOCOL, K::ComboDropDown, "", 399, 10, 72, 30},
            {-1, K::Static, "协议", 379, 13, 15, 8},
            {IDC_STATIC_LOGO, K::Placeholder, "", 492, 2, 78, 22},
            {IDC_CHK_HIDE_SAME_IP, K::AutoCheckBox, "屏蔽IP相同", 113, 12, 59, 13},
            {IDC_CHK_HIDE_SAME_MAC, K::AutoCheckBox, "屏蔽MAC相同", 174, 11, 53, 14},
            // Empty until a site file is loaded: its counts after each search.
            {IDC_STATIC_SITE_COUNTS, K::Static, "", 230, 13, 147, 8},
            // Empty unless the watch runs: its interval and its last search.
            {IDC_STATIC_WATCH_STATUS, K::StaticRight, "", 302, 212, 269, 8},
        }};
    return t;
}

const DialogTemplate& ModifyIpTemplate()
{
    static const DialogTemplate t{
        IDD_MODIFY_IP, "修改IP", 227, 130, 8,
        {
            {IDOK, K::DefPushButton, "确定", 38, 89, 50, 14},
            {IDCANCEL, K::PushButton, "取消", 110, 89, 50, 14},
            {-1, K::StaticCentreV, "IP地址:", 25, 17, 45, 16},
            {IDC_IPADDRESS_IP, K::IpAddress, "", 73, 17, 129, 16},
            {-1, K::StaticCentreV, "子网掩码:", 25, 41, 45, 16},
            {IDC_IPADDRESS_MASK, K::IpAddress, "", 73, 40, 129, 16},
            {-1, K::StaticCentreV, "网关地址:", 25, 64, 45, 16},
            {IDC_IPADDRESS_GATEWAY, K::IpAddress, "", 73, 63, 129, 16},
        }};
    return t;
}

const DialogTemplate& MulModifyIpTemplate()
{
    static const DialogTemplate t{
        IDD_MUL_MODIFY_IP, "批量修改IP", 194, 153, 8,
        {
            {IDOK, K::DefPushButton, "确定", 37, 117, 50, 14},
            {IDCANCEL, K::PushButton, "取消", 112, 117, 50, 14},
            {-1, K::Static, "选择网", 29, 15, 31, 12},
            {IDC_COMBO_NET, K::ComboDropList, "", 71, 15, 99, 30},
            {-1, K::Static, "设置网关", 28, 38, 42, 8},
            {IDC_IPADDRESS_PLAN_GATEWAY, K::IpAddress, "", 72, 35, 88, 16},
            {-1, K::Static, "起始IP", 28, 58, 42, 8},
            {IDC_IPADDRESS_PLAN_START, K::IpAddress, "", 71, 55, 88, 16},
            {-1, K::Static, "结束IP", 29, 75, 42, 12},
            {IDC_IPADDRESS_PLAN_END, K::IpAddress, "", 71, 74, 88, 16},
            {-1, K::Static, "子网掩码", 28, 94, 36, 12},
            {IDC_IPADDRESS_PLAN_MASK, K::IpAddress, "", 71, 92, 88, 16},
        }};
    return t;
}

} // namespace lynx::res
