// The discovery's texts that both front ends show, byte for byte (UTF-8, the
// source language; each is translated where it is shown).
#pragma once

namespace lynx::protocol::msg {

// The search request went out on no network card (no network, a cable out).
inline constexpr const char* kSearchSendFailed = "搜索命令发送失败！";
// Another program on the PC (a second Lynx, say) holds a port this one must
// receive on: the answers would go to it, and this one would hear nothing.
inline constexpr const char* kPortsTaken = "端口19027或8025已被其他程序占用，无法接收设备应答。";

} // namespace lynx::protocol::msg
