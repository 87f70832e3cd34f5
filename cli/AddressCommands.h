// lynx-cli's address commands: set-ip (one device, checked as the single
// change dialog checks it), plan (a batch plan, checked as the plan dialog
// checks it) and assign (the batch assignment over the given devices).
#pragma once

#include "addressing/BatchAssignment.h"
#include "cli/Commands.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace lynx::cli {

// Whether the camera with this MAC answers a search at ip within the seconds.
using AddressConfirmer = std::function<bool(const std::string& mac, const std::string& ip, int seconds)>;

// args are the words after the command's name. send replaces the changeIp
// broadcast on the report port and confirm the search at the new address
// (tests); no send means the real transport, and a send without a confirm
// only sends.
int RunSetIp(const Arguments& args, std::ostream& out, std::ostream& err,
             const addressing::ChangeIpSender& send = {}, const AddressConfirmer& confirm = {});
int RunPlan(const Arguments& args, std::ostream& out, std::ostream& err);
int RunAssign(const Arguments& args, std::ostream& out, std::ostream& err,
              const addressing::ChangeIpSender& send = {});

// RunSetIpCommand, RunPlanCommand and RunAssignCommand (Commands.h) run these
// on the standard streams with the real transport.

} // namespace lynx::cli
