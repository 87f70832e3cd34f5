#include "cli/AddressCommands.h"

#include "addressing/Messages.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace lynx::cli;
namespace msg = lynx::addressing::msg;

namespace {

struct Request {
    std::string mac, ip, gateway, mask;
};

// Runs a command with a recording sender; sends whose 1-based position is in
// failing report failure.
struct CliRun {
    std::vector<Request> sent;
    std::set<int> failing;
    std::ostringstream out, err;
    int status = -1;

    lynx::addressing::ChangeIpSender sender()
    {
        return [this](const std::string& mac, const std::string& ip, const std::string& gw, const std::string& mask) {
            sent.push_back({mac, ip, gw, mask});
            return failing.count(static_cast<int>(sent.size())) == 0;
        };
    }
    CliRun& setIp(const Arguments& args)
    {
        status = RunSetIp(args, out, err, sender());
        return *this;
    }
    CliRun& plan(const Arguments& args)
    {
        status = RunPlan(args, out, err);
        return *this;
    }
    CliRun& assign(const Arguments& args)
    {
        status = RunAssign(args, out, err, sender());
        return *this;
    }
};

Arguments SetIpArgs(const char* ip, const char* mask, const char* gateway, const char* mac = "00:11:22:33:44:55")
{
    return {"--mac", mac, "--ip", ip, "--mask", mask, "--gateway", gateway};
}

Arguments PlanArgs(const char* start, const char* end, const char* gateway, const char* mask)
{
    return {"--start", start, "--end", end, "--gateway", gateway, "--mask", mask};
}

Arguments WithMacs(Arguments args, std::initializer_list<const char*> macs)
{
    for (const char* mac : macs) {
        args.push_back("--mac");
        args.push_back(mac);
    }
    return args;
}

std::string Line(const char* text)
{
    return std::string(text) + "\n";
}

} // namespace

// ---- set-ip ----

TEST(CliSetIp, InvalidEntriesGiveTheDialogsMessageAndSendNothing)
{
    const std::vector<std::pair<Arguments, const char*>> cases = {
        {SetIpArgs("192.168.1.300", "255.255.255.0", "192.168.1.1"), msg::kIpError},
        {SetIpArgs("172.16.5.5", "255.0.255.0", "172.16.0.1"), msg::kMaskError},
        {SetIpArgs("192.168.1.9", "255.255.255.0", "192.168.2.1"), msg::kGatewayError},
    };
    for (const auto& [args, message] : cases) {
        CliRun run;
        run.setIp(args);
        EXPECT_EQ(run.status, kExitUsage) << args[3];
        EXPECT_EQ(run.err.str(), Line(message)) << args[3];
        EXPECT_TRUE(run.out.str().empty());
        EXPECT_TRUE(run.sent.empty());
    }
}

TEST(CliSetIp, MissingOrUnknownOptionsAreInvalidInput)
{
    for (const Arguments& args : {Arguments{"--ip", "10.0.0.2"}, Arguments{"--bogus", "1"},
                                  Arguments{"--mac"}, WithMacs(SetIpArgs("10.0.0.2", "255.0.0.0", "10.0.0.1"), {"x"})}) {
        CliRun run;
        run.setIp(args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_NE(run.err.str().find("Try 'lynx-cli set-ip --help'."), std::string::npos) << run.err.str();
        EXPECT_TRUE(run.sent.empty());
    }
}

TEST(CliSetIp, AMacThatCannotFitTheRequestIsRefused)
{
    CliRun run;
    run.setIp(SetIpArgs("10.0.0.2", "255.0.0.0", "10.0.0.1", "00:11:22:33:44:55:66:77:88:99"));
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_TRUE(run.sent.empty());
}

TEST(CliSetIp, ValidEntriesSendOneRequestWithPlainDottedText)
{
    CliRun run;
    run.setIp(SetIpArgs("10.001.2.3", "255.255.255.0", "10.200.0.1"));
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out.str(), Line(msg::kChangeSucceeded));
    ASSERT_EQ(run.sent.size(), 1u);
    EXPECT_EQ(run.sent[0].mac, "00:11:22:33:44:55");
    EXPECT_EQ(run.sent[0].ip, "10.1.2.3");
    EXPECT_EQ(run.sent[0].gateway, "10.200.0.1");
    EXPECT_EQ(run.sent[0].mask, "255.255.255.0");
}

TEST(CliSetIp, AFailedSendIsReportedWithStatus1)
{
    CliRun run;
    run.failing = {1};
    run.setIp(SetIpArgs("192.168.1.9", "255.255.255.0", "192.168.1.1"));
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out.str(), Line(msg::kChangeFailed));
}

TEST(CliSetIp, ConfirmsByDefaultThatTheCameraAnswersAtItsNewAddress)
{
    struct Case {
        Arguments extra;
        bool answers;
        int status;
        std::string out;
        int waited;  // the seconds asked of the confirmation; 0: not asked
    };
    const std::vector<Case> cases = {
        {{}, true, kExitOk, Line(msg::kChangeSucceeded), 60},
        {{}, false, kExitFailed, "", 60},  // no camera has the MAC: no "修改成功！"
        {{"--confirm-wait", "5"}, false, kExitFailed, "", 5},
        {{"--no-confirm"}, false, kExitOk, Line(msg::kChangeSucceeded), 0},
    };
    for (const Case& c : cases) {
        CliRun run;
        int waited = 0;
        std::string confirmedMac, confirmedIp;
        Arguments args = SetIpArgs("192.168.1.9", "255.255.255.0", "192.168.1.1");
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        run.status = RunSetIp(args, run.out, run.err, run.sender(),
                              [&](const std::string& mac, const std::string& ip, int seconds) {
                                  confirmedMac = mac;
                                  confirmedIp = ip;
                                  waited = seconds;
                                  return c.answers;
                              });
        const std::string label = ::testing::PrintToString(c.extra) + (c.answers ? " answers" : " silent");
        EXPECT_EQ(run.status, c.status) << label;
        EXPECT_EQ(run.out.str(), c.out) << label;
        EXPECT_EQ(waited, c.waited) << label;
        EXPECT_EQ(run.sent.size(), 1u) << label;
        if (c.waited) {
            EXPECT_EQ(confirmedMac, "00:11:22:33:44:55");
            EXPECT_EQ(confirmedIp, "192.168.1.9");
        }
        if (c.status == kExitFailed) {
            EXPECT_NE(run.err.str().find("did not answer at 192.168.1.9"), std::string::npos) << run.err.str();
        }
    }
    CliRun badWait;
    Arguments args = SetIpArgs("192.168.1.9", "255.255.255.0", "192.168.1.1");
    args.insert(args.end(), {"--confirm-wait", "soon"});
    badWait.setIp(args);
    EXPECT_EQ(badWait.status, kExitUsage);
    EXPECT_TRUE(badWait.sent.empty());
}

// ---- plan ----

TEST(CliPlan, PrintsTheHostCount)
{
    EXPECT_EQ(CliRun().plan(PlanArgs("10.0.1.2", "10.0.3.254", "10.0.0.1", "255.255.0.0")).out.str(), "761\n");
    EXPECT_EQ(CliRun().plan(PlanArgs("192.168.1.10", "192.168.1.20", "192.168.1.5", "255.255.255.0")).out.str(), "11\n");
    CliRun run;
    run.plan(PlanArgs("192.168.1.10", "192.168.1.10", "192.168.1.5", "255.255.255.0"));
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out.str(), "1\n");
}

TEST(CliPlan, PrintsTheFirstFailingMessageOnStderr)
{
    const std::vector<std::pair<Arguments, const char*>> cases = {
        {PlanArgs("192.168.1.255", "x", "x", "x"), msg::kStartAbove254},
        {PlanArgs("192.168.1.20", "192.168.1.10", "192.168.1.1", "255.255.255.0"), msg::kEndBelowStart},
        {PlanArgs("100.0.0.2", "200.0.0.2", "100.0.0.1", "255.0.0.0"), msg::kEndSubnetError},
    };
    for (const auto& [args, message] : cases) {
        CliRun run;
        run.plan(args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_EQ(run.err.str(), Line(message));
        EXPECT_TRUE(run.out.str().empty());
    }
}

// ---- assign ----

TEST(CliAssign, WorkedExampleSkipsTheGatewayAndPrintsEachAddress)
{
    CliRun run;
    run.assign(WithMacs(PlanArgs("172.16.1.253", "172.16.2.10", "172.16.2.1", "255.255.0.0"), {"A", "B", "C", "D"}));
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out.str(), "A 172.16.1.253\nB 172.16.1.254\nC 172.16.2.2\nD 172.16.2.3\n" + Line(msg::kAllSucceeded));
    ASSERT_EQ(run.sent.size(), 4u);
    EXPECT_EQ(run.sent[2].mac, "C");
    EXPECT_EQ(run.sent[2].gateway, "172.16.2.1");
    EXPECT_EQ(run.sent[2].mask, "255.255.0.0");
}

TEST(CliAssign, AFailedSendHandsItsAddressOnAndEndsWithStatus1)
{
    CliRun run;
    run.failing = {2};
    run.assign(WithMacs(PlanArgs("192.168.1.2", "192.168.1.254", "192.168.1.1", "255.255.255.0"), {"A", "B", "C"}));
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out.str(), std::string("A 192.168.1.2\nB 192.168.1.3 ") + msg::kChangeFailed +
                                 "\nC 192.168.1.3\n下列设备ip修改失败:\r\nip=;mac=B\r\n\n");
}

TEST(CliAssign, TooFewAddressesOrNoDeviceAreInvalidInputAndSendNothing)
{
    CliRun tooFew;
    tooFew.assign(WithMacs(PlanArgs("192.168.1.2", "192.168.1.4", "192.168.1.1", "255.255.255.0"), {"A", "B", "C", "D"}));
    EXPECT_EQ(tooFew.status, kExitUsage);
    EXPECT_EQ(tooFew.err.str(), Line(msg::kTooManyDevices));
    EXPECT_TRUE(tooFew.sent.empty());

    CliRun enough;
    enough.assign(WithMacs(PlanArgs("192.168.1.2", "192.168.1.5", "192.168.1.1", "255.255.255.0"), {"A", "B", "C", "D"}));
    EXPECT_EQ(enough.status, kExitOk);
    EXPECT_EQ(enough.sent.size(), 4u);

    CliRun none;
    none.assign(PlanArgs("192.168.1.2", "192.168.1.5", "192.168.1.1", "255.255.255.0"));
    EXPECT_EQ(none.status, kExitUsage);
    EXPECT_EQ(none.err.str(), Line(msg::kSelectOne));

    CliRun badPlan;
    badPlan.assign(WithMacs(PlanArgs("192.168.1.2", "192.168.1.100", "192.168.2.1", "255.255.255.0"), {"A"}));
    EXPECT_EQ(badPlan.status, kExitUsage);
    EXPECT_EQ(badPlan.err.str(), Line(msg::kStartSubnetError));
    EXPECT_TRUE(badPlan.sent.empty());
}
