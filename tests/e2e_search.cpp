// lynx-cli search against simulated cameras in a virtual LAN: what the simulator
// plays is what the tool lists, under the duplicate filters, in every format.
#include "NetlabFixture.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <map>
#include <sstream>

namespace {

using namespace lynx::test;

class SearchEndToEnd : public NetlabTest {
protected:
    static ProcessResult Search(std::vector<std::string> options)
    {
        std::vector<std::string> args{"search", "--seconds", "2"};
        args.insert(args.end(), options.begin(), options.end());
        return RunCli(args);
    }

    static Json::Value SearchJson(const std::vector<std::string>& options = {}) { return CliSearchJson(options); }
};

Json::Value Camera(const std::string& ip, const std::string& mac, const std::string& name)
{
    Json::Value c(Json::objectValue);
    c["ip"] = ip;
    c["mac"] = mac;
    c["name"] = name;
    c["deviceId"] = "X" + ip.substr(ip.rfind('.') + 1);
    return c;
}

// Display columns of a UTF-8 text, counting the CJK characters of the
// headers and names as two.
size_t Columns(const std::string& s)
{
    size_t n = 0;
    for (size_t i = 0; i < s.size();) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        n += len == 3 ? 2 : 1;
        i += len;
    }
    return n;
}

// RFC 4180 records (fields may hold quotes, commas and line breaks).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"')
            quoted = true;
        else if (c == ',')
            fields.push_back(field), field.clear();
        else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(field), field.clear();
            records.push_back(fields), fields.clear();
            ++i;
        } else
            field += c;
    }
    return records;
}

TEST_F(SearchEndToEnd, JsonListsExactlyTheSimulatedCamerasWithTheirTexts)
{
    Json::Value cameras = NetlabCameras();
    ASSERT_TRUE(cameras.isArray());
    ASSERT_EQ(cameras.size(), 8u);

    Json::Value rows = SearchJson();
    ASSERT_EQ(rows.size(), cameras.size());
    std::map<std::string, Json::Value> byIp;
    for (Json::ArrayIndex i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["number"].asInt(), static_cast<int>(i) + 1);
        byIp[rows[i]["deviceIp"].asString()] = rows[i];
    }
    for (const Json::Value& c : cameras) {
        SCOPED_TRACE(c["ip"].asString());
        ASSERT_EQ(byIp.count(c["ip"].asString()), 1u);
        const Json::Value& row = byIp[c["ip"].asString()];
        EXPECT_EQ(row["mac"], c["mac"]);
        EXPECT_EQ(row["netMask"], c["mask"]);
        EXPECT_EQ(row["gatewayIp"], c["gateway"]);
        EXPECT_EQ(row["name"], c["name"]);  // Chinese, through UTF-8 and code page 936 and back
        EXPECT_EQ(row["interface"], "eth0");
        EXPECT_EQ(row["localAddress"], PcAddress());
        EXPECT_EQ(row["model"], c["model"]);
        EXPECT_EQ(row["manufacturer"], c["manufacturer"]);
        EXPECT_EQ(row["company"], c["company"]);
        EXPECT_EQ(row["softwareVersion"], c["softwareVersion"]);
        EXPECT_EQ(row["hardwareVersion"], c["hardwareVersion"]);
        EXPECT_EQ(row["productDate"], c["productDate"]);
        EXPECT_EQ(row["deviceId"], c["deviceId"]);
        EXPECT_EQ(row["sn"].asInt64(), c["sn"].asInt64());
        EXPECT_EQ(row["productType"].asInt64(), c["type"].asInt64());
        EXPECT_EQ(row["httpPort"].asInt(), 0);
    }
}

TEST_F(SearchEndToEnd, TableAlignsTheEightColumnsOfTheList)
{
    Json::Value cameras = NetlabCameras();
    ProcessResult r = Search({});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), cameras.size() + 1) << r.out;
    const std::string& header = lines[0];
    for (const char* title : {"序号", "设备IP", "MAC地址", "网关地址", "子网掩码", "设备型号", "软件版本", "状态"})
        EXPECT_NE(header.find(title), std::string::npos) << title;
    size_t ipColumn = Columns(header.substr(0, header.find("设备IP")));
    size_t versionColumn = Columns(header.substr(0, header.find("软件版本")));
    for (size_t i = 1; i < lines.size(); ++i) {
        const Json::Value& c = cameras[static_cast<Json::ArrayIndex>(i - 1)];
        const std::string& line = lines[i];
        std::string version = c["softwareVersion"].asString() + " build[" + c["productDate"].asString() + "]";
        ASSERT_NE(line.find(c["ip"].asString()), std::string::npos) << line;
        ASSERT_NE(line.find(version), std::string::npos) << line;
        EXPECT_EQ(line.rfind(std::to_string(i) + " ", 0), 0u) << line;
        EXPECT_EQ(Columns(line.substr(0, line.find(c["ip"].asString()))), ipColumn) << line;
        EXPECT_EQ(Columns(line.substr(0, line.find(version))), versionColumn) << line;
    }
}

TEST_F(SearchEndToEnd, CameraAnsweringTwiceIsListedOnceUnderBothFiltersAndTwiceWithout)
{
    Json::Value extra(Json::arrayValue);
    Json::Value twice = Camera("192.168.1.201", "02:77:00:00:00:01", "两次应答相机");
    twice["answerTwice"] = true;
    extra.append(twice);
    startCameras(extra);  // beside the LAN's own simulator
    const size_t others = NetlabCameras().size();

    Json::Value filtered = SearchJson();
    EXPECT_EQ(RowsWithIp(filtered, "192.168.1.201"), 1);
    EXPECT_EQ(filtered.size(), others + 1);

    Json::Value unfiltered = SearchJson({"--no-ip-filter", "--no-mac-filter"});
    EXPECT_EQ(RowsWithIp(unfiltered, "192.168.1.201"), 2);
    EXPECT_EQ(unfiltered.size(), others + 2);

    // The IP filter alone: one row per address.
    Json::Value ipOnly = SearchJson({"--no-mac-filter"});
    EXPECT_EQ(RowsWithIp(ipOnly, "192.168.1.201"), 1);
    EXPECT_EQ(ipOnly.size(), others + 1);

    // The MAC filter alone compares whole MACs: one row per camera, though
    // the simulated cameras' MACs all begin alike.
    Json::Value macOnly = SearchJson({"--no-ip-filter"});
    EXPECT_EQ(RowsWithIp(macOnly, "192.168.1.201"), 1);
    EXPECT_EQ(macOnly.size(), others + 1);
}

TEST_F(SearchEndToEnd, CsvQuotesFieldsWithCommasAndQuotes)
{
    Json::Value extra(Json::arrayValue);
    Json::Value odd = Camera("192.168.1.202", "02:77:00:00:00:02", "引号,相机");
    odd["model"] = "KV,\"Q\"";
    odd["softwareVersion"] = "V2,\"beta\"";
    extra.append(odd);
    startCameras(extra);  // beside the LAN's own simulator

    ProcessResult r = Search({"--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto records = ParseCsv(r.out);
    ASSERT_EQ(records.size(), NetlabCameras().size() + 2) << r.out;
    EXPECT_EQ(records[0], (std::vector<std::string>{"序号", "设备IP", "MAC地址", "网关地址", "子网掩码", "设备型号",
                                                    "软件版本", "状态", "interface", "localAddress", "reachable"}));
    bool found = false;
    for (const auto& record : records) {
        ASSERT_EQ(record.size(), 11u);
        if (record[1] != "192.168.1.202")
            continue;
        found = true;
        EXPECT_EQ(record[2], "02:77:00:00:00:02");
        EXPECT_EQ(record[5], "KV,\"Q\"");
        EXPECT_EQ(record[6], "V2,\"beta\" build[2018-11-07]");
        EXPECT_EQ(record[7], "");
        EXPECT_EQ(record[8], "eth0");
        EXPECT_EQ(record[9], "192.168.1.100");
        EXPECT_EQ(record[10], "true");
    }
    EXPECT_TRUE(found) << r.out;
}

TEST_F(SearchEndToEnd, BrokenAndOversizedReportsNeitherBreakTheListNorAddRows)
{
    Json::Value extra(Json::arrayValue);
    Json::Value broken = Camera("192.168.1.203", "02:77:00:00:00:03", "坏报文相机");
    broken["malformed"] = true;
    Json::Value big = Camera("192.168.1.204", "02:77:00:00:00:04", "超长相机");
    big["oversized"] = true;
    extra.append(broken);
    extra.append(big);
    startCameras(extra);  // beside the LAN's own simulator

    Json::Value rows = SearchJson();
    EXPECT_EQ(rows.size(), NetlabCameras().size() + 2);
    EXPECT_EQ(RowsWithIp(rows, "192.168.1.203"), 1);
    ASSERT_EQ(RowsWithIp(rows, "192.168.1.204"), 1);
    for (const Json::Value& row : rows) {
        EXPECT_NE(row["deviceIp"].asString().rfind("10.99.", 0), 0u) << "a broken report became a row";
        if (row["deviceIp"].asString() != "192.168.1.204")
            continue;
        // Cut to the record's fields, never past them, and still whole characters.
        EXPECT_EQ(row["name"].asString().rfind("超长相机", 0), 0u) << row["name"].asString();
        EXPECT_LE(row["name"].asString().size(), 31u * 3 / 2);
        EXPECT_EQ(row["deviceId"].asString(), "X204XXXXXXXXXXX");
        EXPECT_EQ(row["softwareVersion"].asString().size(), 29u);
        EXPECT_EQ(row["mac"].asString(), "02:77:00:00:00:04");
    }
}

TEST_F(SearchEndToEnd, AReportPortHeldByAnotherProgramIsSaidNotListedAsEmpty)
{
    // Another program holds 19027 (asking for address reuse, as a transport
    // that shares ports does): the answers would go to it.
    PortHolder other(19027);
    ASSERT_TRUE(other.bound());
    const ProcessResult held = RunCli({"search", "--seconds", "1", "--lang", "zh"});
    other.Release();
    EXPECT_EQ(held.exitCode, 1);
    EXPECT_TRUE(held.out.empty()) << held.out;
    EXPECT_NE(held.err.find("端口19027或8025已被其他程序占用，无法接收设备应答。"), std::string::npos) << held.err;

    // Once it is free, the search lists the cameras.
    const ProcessResult free = Search({"--format", "json"});
    EXPECT_EQ(free.exitCode, 0) << free.err;
}

TEST_F(SearchEndToEnd, AListAtItsLimitIsSaidAndIsNoSuccess)
{
    const ProcessResult r = Search({"--format", "json", "--max-devices", "3"});
    EXPECT_EQ(r.exitCode, 1);
    Json::Value rows;
    ASSERT_TRUE(Json::Reader().parse(r.out, rows)) << r.out;
    EXPECT_EQ(rows.size(), 3u);
    // Said in the language the command speaks (Chinese here).
    EXPECT_NE(r.err.find("lynx-cli search: 列表已满（3 台相机）；另有 " + std::to_string(NetlabCameras().size() - 3) +
                         " 条应答未列出（--max-devices）\n"),
              std::string::npos)
        << r.err;
}

TEST_F(SearchEndToEnd, AListThatCannotBeWrittenIsAFailure)
{
    // Every camera found, and nowhere to put the list.
    const ProcessResult r = RunProcess(
        {"/bin/sh", "-c", "LYNX_LANG=zh " + BinDir() + "/lynx-cli search --seconds 1 --format csv > /dev/full"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << r.err;
}

TEST_F(SearchEndToEnd, BadOptionsGiveStatusTwoAndAMessage)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"search", "--format", "xml"},
             {"search", "--seconds", "abc"},
             {"search", "--seconds"},
             {"search", "--bogus"},
             {"frobnicate"},
             {}}) {
        ProcessResult r = RunCli(args, 10s);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(r.exitCode, 2) << joined;
        EXPECT_FALSE(r.err.empty()) << joined;
        EXPECT_TRUE(r.out.empty()) << joined << r.out;
    }
}

} // namespace
