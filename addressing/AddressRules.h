// The address arithmetic of the two address dialogs: the class tables, the
// validation of a single change and of a batch plan, the plan proposed from a
// local address, and the host count of a plan.
#pragma once

#include "addressing/IpFields.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lynx::addressing {

enum class AddressClass { A, B, C };

// The single change counts 127 as class C, the batch plan as class A: each
// dialog keeps its own table, so that an entry one of them accepted is never
// refused by the other's rule.
AddressClass SingleChangeClass(uint8_t firstOctet);
AddressClass PlanClass(uint8_t firstOctet);

// How many leading octets the class fixes: 1, 2 or 3.
int FixedOctets(AddressClass addressClass);
// "255.0.0.0", "255.255.0.0" or "255.255.255.0".
const char* ProposedMask(AddressClass addressClass);

// ---- Single change ----

// The first failing message for the three controls, or nothing when the entries
// pass: IP filled, mask filled, mask's class octets 255, gateway filled, gateway's
// class octets equal to the IP's.
std::optional<std::string> ValidateSingleChange(const IpFields& ip, const IpFields& mask, const IpFields& gateway);

// ---- Batch plan ----

// The position difference D(x, y): only the octets that the class lets vary
// count; the last octet has 254 positions, the third 255 x 254.
int32_t PositionDifference(AddressClass addressClass, const Octets& x, const Octets& y);

// D(end, start) + 1 when the gateway's position lies below the start's,
// D(end, start) otherwise.
int32_t HostCount(AddressClass addressClass, const Octets& start, const Octets& end, const Octets& gateway);

// What the four controls of the plan dialog hold.
struct PlanEntries {
    IpFields gateway;
    IpFields start;
    IpFields end;
    IpFields mask;
};

// The plan dialog's members that validation fills, in the order it fills them;
// a failed check leaves whatever the steps before it wrote.
struct PlanValues {
    std::string netMask;   // m_strNetMask
    std::string gateWay;   // m_strGateWay
    Octets startIp{};      // m_byStartIp
    Octets endIp{};        // m_byEndIp
    Octets gateWayIp{};    // m_byGateWay
    int32_t ipCount = 0;   // m_nIpCount
};

// Runs the plan checks in order and returns the first failing message, or
// nothing when the plan is accepted.
std::optional<std::string> ValidatePlan(const PlanEntries& entries, PlanValues& values);

// The last octet as read from the start's text: the decimal number after its
// last '.', at most three digits.
int LastOctetOfText(std::string_view text);

// inet_addr of the text with the first octet most significant; INADDR_NONE's
// value for text it cannot read.
uint32_t InetAddr(const std::string& text);

// ---- Proposal ----

// The dotted text cut after its last '.': "192.168.1." for "192.168.1.100".
std::string NetworkPrefix(std::string_view dotted);

struct PlanProposal {
    std::string gateway;  // prefix + "1"
    std::string start;    // prefix + "2"
    std::string end;      // prefix + "254"
    std::string mask;     // by the class of the prefix's first octet
};

PlanProposal ProposePlan(std::string_view prefix);

// The entry of the local networks list for an address: prefix + "0".
std::string NetworkEntry(std::string_view dotted);

} // namespace lynx::addressing
