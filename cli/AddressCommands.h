// lynx-cli's address commands: set-ip (one device, checked as the single
// change dialog checks it), plan (a batch plan, checked as the plan dialog
// checks it) and assign (the batch assignment over the given devices).
#pragma once

#include "addressing/BatchAssignment.h"
#include "cli/Commands.h"

#include <iosfwd>

namespace lynx::cli {

// args are the words after the command's name. send replaces the changeIp
// broadcast on the report port (tests); empty means the real transport.
int RunSetIp(const Arguments& args, std::ostream& out, std::ostream& err,
             const addressing::ChangeIpSender& send = {});
int RunPlan(const Arguments& args, std::ostream& out, std::ostream& err);
int RunAssign(const Arguments& args, std::ostream& out, std::ostream& err,
              const addressing::ChangeIpSender& send = {});

// RunSetIpCommand, RunPlanCommand and RunAssignCommand (Commands.h) run these
// on the standard streams with the real transport.

} // namespace lynx::cli
