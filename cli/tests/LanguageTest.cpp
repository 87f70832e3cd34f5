// lynx-cli's language as a user meets it: --lang, else LYNX_LANG, else the
// locale (LC_ALL, LC_MESSAGES, LANG); its help and its messages all in that one
// language; a language it does not know warned about on one line, and the
// command carried out all the same. Nothing here sends a packet.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace {

using lynx::test::ProcessResult;

// A CJK ideograph (U+4000..U+9FFF: lead bytes E4..E9) in UTF-8 text.
bool HasChinese(const std::string& text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0xE4 && byte <= 0xE9)
            return true;
    }
    return false;
}

ProcessResult Cli(const std::vector<std::string>& environment, const std::vector<std::string>& langArgs,
                  const std::vector<std::string>& args)
{
    std::vector<std::string> argv{LYNX_CLI_PROGRAM};
    argv.insert(argv.end(), langArgs.begin(), langArgs.end());
    argv.insert(argv.end(), args.begin(), args.end());
    // Every language variable unset unless the case sets it.
    std::vector<std::string> env{"LYNX_LANG", "LC_ALL", "LC_MESSAGES", "LANG"};
    env.insert(env.end(), environment.begin(), environment.end());
    return lynx::test::RunProcess(argv, std::chrono::seconds(30), env);
}

TEST(CliLanguage, HelpAndMessagesSpeakTheOneLanguageChosenByLangThenLynxLangThenTheLocale)
{
    const struct {
        std::vector<std::string> environment;
        std::vector<std::string> langArgs;
        bool chinese;
        const char* warnedAbout;  // "" for no warning
    } cases[] = {
        {{}, {}, false, ""},
        {{"LANG=C"}, {}, false, ""},
        {{"LANG=C.UTF-8"}, {}, false, ""},
        {{"LANG=zh_CN.UTF-8"}, {}, true, ""},
        {{"LC_ALL=zh_CN.UTF-8", "LANG=en_US.UTF-8"}, {}, true, ""},
        {{"LC_MESSAGES=en_US.UTF-8", "LANG=zh_CN.UTF-8"}, {}, false, ""},
        {{"LC_ALL=", "LC_MESSAGES=zh_TW.UTF-8", "LANG=C"}, {}, true, ""},
        {{"LANG=zh_CN.UTF-8", "LYNX_LANG=en"}, {}, false, ""},
        {{"LANG=C", "LYNX_LANG=zh"}, {}, true, ""},
        {{"LANG=zh_CN.UTF-8", "LYNX_LANG=zh"}, {"--lang", "en"}, false, ""},
        {{"LC_ALL=C", "LYNX_LANG=en"}, {"--lang=zh"}, true, ""},
        {{"LANG=C", "LYNX_LANG=fr"}, {}, false, "fr"},
        {{"LANG=zh_CN.UTF-8"}, {"--lang", "xx"}, true, "xx"},
    };
    const std::vector<std::vector<std::string>> helps = {
        {"--help"}, {"search", "--help"}, {"set-ip", "--help"}, {"plan", "--help"}, {"assign", "--help"}, {"upgrade", "--help"},
        {"check", "--help"},
    };
    // A message of the address rules, before anything is sent.
    const std::vector<std::string> badPlan = {"plan", "--start", "192.168.1.20", "--end", "192.168.1.10",
                                              "--gateway", "192.168.1.1", "--mask", "255.255.255.0"};
    for (const auto& c : cases) {
        std::string where;
        for (const auto& e : c.environment)
            where += e + " ";
        for (const auto& a : c.langArgs)
            where += a + " ";
        const auto checkStderr = [&](const ProcessResult& r, const std::string& what) {
            if (*c.warnedAbout == '\0')
                return;
            const std::string line = r.err.substr(0, r.err.find('\n') + 1);
            EXPECT_NE(line.find(c.warnedAbout), std::string::npos) << where << what << ": " << r.err;
            EXPECT_NE(line.find("zh"), std::string::npos) << where << what << ": " << r.err;
            EXPECT_NE(line.find("en"), std::string::npos) << where << what << ": " << r.err;
            EXPECT_EQ(HasChinese(line), c.chinese) << where << what << ": " << r.err;
        };
        for (const auto& help : helps) {
            const ProcessResult r = Cli(c.environment, c.langArgs, help);
            const std::string what = "lynx-cli " + help[0] + (help.size() > 1 ? " --help" : "");
            EXPECT_EQ(r.exitCode, 0) << where << what << ": " << r.err;
            EXPECT_EQ(HasChinese(r.out), c.chinese) << where << what << ":\n" << r.out;
            EXPECT_NE(r.out.find("lynx-cli"), std::string::npos) << where << what;
            if (*c.warnedAbout == '\0')
                EXPECT_EQ(r.err, "") << where << what;
            else
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << where << what << ": " << r.err;
            checkStderr(r, what);
        }
        const ProcessResult r = Cli(c.environment, c.langArgs, badPlan);
        EXPECT_EQ(r.exitCode, 2) << where;
        const std::string message = r.err.substr(*c.warnedAbout ? r.err.find('\n') + 1 : 0);
        EXPECT_EQ(message, c.chinese ? "结束IP要大于起始IP！\n" : "The end IP must be above the start IP!\n")
            << where << r.err;
        checkStderr(r, "lynx-cli plan");
    }
}

// Asked in English, the help of each command is the one written; in Chinese,
// a translation of it, the options named as they are typed.
TEST(CliLanguage, TheChineseHelpOfEachCommandNamesTheSameOptions)
{
    for (const char* command : {"search", "set-ip", "plan", "assign", "upgrade", "check", "watch"}) {
        const ProcessResult en = Cli({"LANG=C"}, {}, {command, "--help"});
        const ProcessResult zh = Cli({"LANG=zh_CN.UTF-8"}, {}, {command, "--help"});
        ASSERT_EQ(en.exitCode, 0) << command;
        ASSERT_EQ(zh.exitCode, 0) << command;
        for (size_t at = en.out.find("--"); at != std::string::npos; at = en.out.find("--", at + 2)) {
            const std::string option = en.out.substr(at, en.out.find_first_of(" ]|=\n,):", at) - at);
            EXPECT_NE(zh.out.find(option), std::string::npos) << command << ": " << option << " not in\n" << zh.out;
        }
    }
}

} // namespace

// An option that cannot be read is said on one line in the language chosen,
// then one line pointing to the command's help, not the whole help, which
// would bury it; the exit status is 2 and nothing goes to standard output.
TEST(CliLanguage, AnOptionErrorIsSaidInTheLanguageChosenWithAPointerToTheHelpInsteadOfTheHelp)
{
    const struct {
        std::vector<std::string> args;
        const char* english;
        const char* chinese;
    } cases[] = {
        {{"search", "--foo"}, "lynx-cli search: unknown option '--foo'", "lynx-cli search: 未知的选项“--foo”"},
        {{"search", "--format", "xml"}, "lynx-cli search: --format takes table, json or csv, not 'xml'",
         "lynx-cli search: --format 应为 table、json 或 csv，而不是“xml”"},
        {{"set-ip", "--mac"}, "lynx-cli set-ip: --mac needs a value", "lynx-cli set-ip: --mac 需要一个值"},
        {{"plan", "--end", "192.168.1.9"}, "lynx-cli plan: --start is required", "lynx-cli plan: 缺少 --start"},
        {{"assign", "--plan", "p.csv", "--dry-run=yes"}, "lynx-cli assign: --dry-run takes no value",
         "lynx-cli assign: --dry-run 不带值"},
        {{"set-ip", "--confirm-wait", "0"}, "lynx-cli set-ip: --confirm-wait takes a whole number of at least 1, not '0'",
         "lynx-cli set-ip: --confirm-wait 应为不小于 1 的整数，而不是“0”"},
        {{"upgrade", "--seconds", "soon"}, "lynx-cli upgrade: --seconds takes a whole number, not 'soon'",
         "lynx-cli upgrade: --seconds 应为整数，而不是“soon”"},
        {{"upgrade", "--ip", "camera-1"}, "lynx-cli upgrade: --ip takes an IPv4 address, not 'camera-1'",
         "lynx-cli upgrade: --ip 应为 IPv4 地址，而不是“camera-1”"},
        {{"check", "--site", "a.csv", "--site", "b.csv"}, "lynx-cli check: --site given twice",
         "lynx-cli check: --site 给出了两次"},
        {{"watch", "--format", "csv"}, "lynx-cli watch: --format takes table or json, not 'csv'",
         "lynx-cli watch: --format 应为 table 或 json，而不是“csv”"},
        {{"watch", "--interface", "no-such-card"}, "lynx-cli watch: no network interface called 'no-such-card' (",
         "lynx-cli watch: 没有名为“no-such-card”的网卡（"},
    };
    for (const auto& c : cases) {
        const std::string command = c.args[0];
        for (const bool chinese : {false, true}) {
            const ProcessResult r = Cli({chinese ? "LYNX_LANG=zh" : "LYNX_LANG=en"}, {}, c.args);
            SCOPED_TRACE(::testing::PrintToString(c.args) + (chinese ? " zh" : " en"));
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.out, "");
            const size_t end = r.err.find('\n');
            ASSERT_NE(end, std::string::npos) << r.err;
            EXPECT_EQ(r.err.rfind(chinese ? c.chinese : c.english, 0), 0u) << r.err;
            EXPECT_EQ(r.err.substr(end + 1), chinese ? "用法见“lynx-cli " + command + " --help”。\n"
                                                     : "Try 'lynx-cli " + command + " --help'.\n");
        }
    }
    const ProcessResult unknown = Cli({"LYNX_LANG=en"}, {}, {"serach"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "lynx-cli: unknown command 'serach'\nTry 'lynx-cli --help'.\n");
}

// A plan file that cannot be read as a plan is refused before anything is
// sent, its fault in the language chosen.
TEST(CliLanguage, APlanFilesFaultIsSaidInTheLanguageChosen)
{
    const std::string dir = ::testing::TempDir();
    const auto write = [&](const std::string& name, const std::string& text) {
        const std::string path = dir + "/lynx-language-" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    };
    const struct {
        std::string path;
        const char* english;
        const char* chinese;
    } cases[] = {
        {write("empty-mac.csv", "mac,ip,mask,gateway\n,192.168.1.20,255.255.255.0,192.168.1.1\n"),
         "line 2: the MAC is empty", "第 2 行：MAC 为空"},
        {write("bad-ip.csv", "mac,ip,mask,gateway\n00:1A:2B:00:00:01,192.168.1,255.255.255.0,192.168.1.1\n"),
         "line 2: ip '192.168.1' is not a dotted IPv4 address", "第 2 行：ip“192.168.1”不是点分十进制的 IPv4 地址"},
        {write("no-gateway.csv", "mac,ip,mask\n00:1A:2B:00:00:01,192.168.1.20,255.255.255.0\n"),
         "line 1: the header names no column \"gateway\"", "第 1 行：表头中没有“gateway”列"},
        {dir + "/lynx-language-none.csv", "cannot read '", "无法读取“"},
    };
    for (const auto& c : cases) {
        for (const bool chinese : {false, true}) {
            const ProcessResult r =
                Cli({chinese ? "LYNX_LANG=zh" : "LYNX_LANG=en"}, {}, {"assign", "--plan", c.path, "--dry-run"});
            SCOPED_TRACE(c.path + (chinese ? " zh" : " en"));
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(chinese ? c.chinese : c.english), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}
