// The three dialog templates of the window, as the original resource script
// lays them out (dialog units).
#include "res/DialogTemplate.h"

namespace lynx::res {

using K = ControlKind;

const DialogTemplate& MainDialogTemplate()
{
    static const DialogTemplate t{
        102, "科瓦诱导摄像机设备搜索软件V1.0.1(Build20181107)", 577, 246, 9,
        {
            {1000, K::PushButton, "搜索", 9, 225, 43, 14},
            {-1, K::Static, "设备列表", 6, 13, 54, 8},
            {1002, K::PushButton, "打开", 54, 225, 43, 14},
            {1003, K::AutoCheckBox, "全选", 64, 11, 39, 14},
            {1004, K::PushButton, "修改IP", 99, 225, 43, 14},
            {1005, K::PushButton, "批量修改IP", 144, 225, 43, 14},
            {1001, K::ListView, "", 3, 26, 571, 177},
            {1006, K::PushButton, "批量升级", 506, 225, 43, 14},
            {1024, K::Static, "", 53, 212, 418, 8},
            {1025, K::StaticRight, "", 315, 227, 179, 11},
            {1026, K::Edit, "", 211, 225, 33, 14},
            {-1, K::Static, "秒", 249, 228, 8, 8},
            {-1, K::Static, "搜索", 194, 228, 15, 8},
            {-1, K::Static, "升级文件：", 11, 211, 40, 8},
            {1027, K::ComboDropDown, "", 399, 10, 72, 30},
            {-1, K::Static, "协议", 379, 13, 15, 8},
            {1010, K::Placeholder, "", 492, 2, 78, 22},
            {1007, K::AutoCheckBox, "屏蔽IP相同", 113, 12, 59, 13},
            {1008, K::AutoCheckBox, "屏蔽MAC相同", 174, 11, 53, 14},
        }};
    return t;
}

const DialogTemplate& ModifyIpTemplate()
{
    static const DialogTemplate t{
        129, "修改IP", 227, 130, 8,
        {
            {IDOK, K::DefPushButton, "确定", 38, 89, 50, 14},
            {IDCANCEL, K::PushButton, "取消", 110, 89, 50, 14},
            {-1, K::StaticCentreV, "IP地址:", 25, 17, 45, 16},
            {1274, K::IpAddress, "", 73, 17, 129, 16},
            {-1, K::StaticCentreV, "子网掩码:", 25, 41, 45, 16},
            {1275, K::IpAddress, "", 73, 40, 129, 16},
            {-1, K::StaticCentreV, "网关地址:", 25, 64, 45, 16},
            {1276, K::IpAddress, "", 73, 63, 129, 16},
        }};
    return t;
}

const DialogTemplate& MulModifyIpTemplate()
{
    static const DialogTemplate t{
        130, "批量修改IP", 194, 153, 8,
        {
            {IDOK, K::DefPushButton, "确定", 37, 117, 50, 14},
            {IDCANCEL, K::PushButton, "取消", 112, 117, 50, 14},
            {-1, K::Static, "选择网", 29, 15, 31, 12},
            {1005, K::ComboDropList, "", 71, 15, 99, 30},
            {-1, K::Static, "设置网关", 28, 38, 42, 8},
            {1024, K::IpAddress, "", 72, 35, 88, 16},
            {-1, K::Static, "起始IP", 28, 58, 42, 8},
            {1025, K::IpAddress, "", 71, 55, 88, 16},
            {-1, K::Static, "结束IP", 29, 75, 42, 12},
            {1026, K::IpAddress, "", 71, 74, 88, 16},
            {-1, K::Static, "子网掩码", 28, 94, 36, 12},
            {1023, K::IpAddress, "", 71, 92, 88, 16},
        }};
    return t;
}

} // namespace lynx::res
