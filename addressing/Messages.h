// The texts the address commands show, byte for byte (UTF-8).
#pragma once

namespace lynx::addressing::msg {

// Single change.
inline constexpr const char* kIpError = "IP地址错误！";
inline constexpr const char* kMaskError = "子网掩码错误！";
inline constexpr const char* kGatewayError = "网关地址错误！";

// Batch plan.
inline constexpr const char* kStartAbove254 = "起始IP不能超过254，请重新设置！";
inline constexpr const char* kStartError = "起始IP错误！";
inline constexpr const char* kEndError = "结束IP错误！";
inline constexpr const char* kPlanGatewayError = "网关设置错误！";
inline constexpr const char* kPlanMaskClassError = "子网掩码设置错误！";
inline constexpr const char* kEndBelowStart = "结束IP要大于起始IP！";
inline constexpr const char* kStartSubnetError = "起始IP或网关或子网掩码设置错误！";
inline constexpr const char* kEndSubnetError = "结束IP或网关或子网掩码设置错误！";

// The commands.
inline constexpr const char* kSelectOne = "请至少选择一个设备！";
inline constexpr const char* kConfirmRestart = "修改IP会导致设备重启，是否确定修改？";
inline constexpr const char* kChangeSucceeded = "修改成功！";
inline constexpr const char* kChangeFailed = "修改失败！";
inline constexpr const char* kTooManyDevices =
    "选择修改Ip设备数大于设置的网络范围，请重新选择设备或者修改网络设置范围！";
inline constexpr const char* kAllSucceeded = "所有设备修改成功！";
inline constexpr const char* kSomeFailedPrefix = "下列设备ip修改失败:\r\n";

} // namespace lynx::addressing::msg
