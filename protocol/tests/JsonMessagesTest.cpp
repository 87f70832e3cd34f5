#include "protocol/JsonMessages.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <string>

namespace {

// Code page 936 and UTF-8 spellings of the texts used below, written out so
// that the tests do not lean on the converter they check.
constexpr const char* kChineseNameGbk = "\xD6\xD0" "\xCE\xC4" "\xCF\xE0" "\xBB\xFA";            // 中文相机
constexpr const char* kChineseNameUtf8 = "\xE4\xB8\xAD" "\xE6\x96\x87" "\xE7\x9B\xB8" "\xE6\x9C\xBA";

DeviceRecord zeroRecord()
{
    DeviceRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

// A record filled with a pattern, to see that a dropped report leaves it alone.
DeviceRecord patternRecord()
{
    DeviceRecord record;
    std::memset(&record, 0xAB, sizeof record);
    return record;
}

bool sameBytes(const DeviceRecord& a, const DeviceRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A report body as it arrives (UTF-8), through the conversion the receive path applies.
bool parseReport(const std::string& utf8Body, DeviceRecord& record)
{
    return ParseJsonMessage("basicCfg", &record, lynx::platform::Utf8ToCp936(utf8Body).c_str());
}

DeviceRecord parsedReport(const std::string& utf8Body)
{
    DeviceRecord record = zeroRecord();
    EXPECT_TRUE(parseReport(utf8Body, record)) << utf8Body;
    return record;
}

std::string machineInfo(const std::string& members)
{
    return R"({"data":{"deviceIp":"192.168.1.20","machineInfo":{)" + members + "}}}";
}

} // namespace

// ---- Device reports -------------------------------------------------------

TEST(DeviceReport, FullReportFillsEveryReportedField)
{
    const std::string body = std::string(R"({"cmd":"basicCfg","data":{
        "deviceIp":"192.168.1.20","netMask":"255.255.255.0","gatewayIp":"192.168.1.1",
        "deviceId":"KV2018110700001",
        "machineInfo":{"type":3,"name":")") + kChineseNameUtf8 + R"(","model":"PGS-C200",
            "mac":"00:1A:2B:3C:4D:5E","manufacturer":"Kova","company":"Harbor",
            "softwareVersion":"V1.0.3","hardwareVersion":"HW2.1","sn":123456,
            "productDate":{"time":"2018-11-07"}}}})";
    const DeviceRecord r = parsedReport(body);
    EXPECT_STREQ(r.deviceIp, "192.168.1.20");
    EXPECT_STREQ(r.netMask, "255.255.255.0");
    EXPECT_STREQ(r.gatewayIp, "192.168.1.1");
    EXPECT_STREQ(r.deviceId, "KV2018110700001");
    EXPECT_EQ(r.productType, 3);
    EXPECT_STREQ(r.name, kChineseNameGbk);
    EXPECT_STREQ(r.model, "PGS-C200");
    EXPECT_STREQ(r.mac, "00:1A:2B:3C:4D:5E");
    EXPECT_STREQ(r.manufacturer, "Kova");
    EXPECT_STREQ(r.company, "Harbor");
    EXPECT_STREQ(r.softwareVersion, "V1.0.3");
    EXPECT_STREQ(r.hardwareVersion, "HW2.1");
    EXPECT_EQ(r.sn, 123456);
    EXPECT_STREQ(r.productDate, "2018-11-07");
    // Fields no report fills stay zero.
    EXPECT_EQ(r.protocolVersion, 0);
    EXPECT_EQ(r.hwFeature, 0u);
    EXPECT_EQ(r.consumerSn, 0);
    EXPECT_EQ(r.devicePort, 0);
    EXPECT_EQ(r.httpPort, 0);
    EXPECT_EQ(r.productSubType, 0);
}

TEST(DeviceReport, ReportWithoutDataGivesAnAllEmptyRecord)
{
    EXPECT_TRUE(sameBytes(parsedReport(R"({"cmd":"basicCfg"})"), zeroRecord()));
    EXPECT_TRUE(sameBytes(parsedReport("{}"), zeroRecord()));
    EXPECT_TRUE(sameBytes(parsedReport("null"), zeroRecord()));
    EXPECT_TRUE(sameBytes(parsedReport(R"({"data":null})"), zeroRecord()));
    EXPECT_TRUE(sameBytes(parsedReport(R"({"data":{"machineInfo":null,"deviceIp":null}})"), zeroRecord()));
}

TEST(DeviceReport, MembersOutsideTheirPathAreNotRead)
{
    const DeviceRecord r = parsedReport(R"({"deviceIp":"1.2.3.4","mac":"AA","data":{"name":"x","sn":5}})");
    EXPECT_TRUE(sameBytes(r, zeroRecord()));
}

TEST(DeviceReport, IntegersFollowJsonCppConversions)
{
    EXPECT_EQ(parsedReport(machineInfo(R"("type":70000)")).productType, 4464);
    EXPECT_EQ(parsedReport(machineInfo(R"("type":-1)")).productType, 0xFFFF);
    EXPECT_EQ(parsedReport(machineInfo(R"("type":true)")).productType, 1);
    EXPECT_EQ(parsedReport(machineInfo(R"("sn":12.9)")).sn, 12);
    EXPECT_EQ(parsedReport(machineInfo(R"("sn":-7)")).sn, -7);
    EXPECT_EQ(parsedReport(machineInfo(R"("sn":2147483647)")).sn, 2147483647);
    EXPECT_EQ(parsedReport(machineInfo(R"("sn":false)")).sn, 0);
    EXPECT_EQ(parsedReport(machineInfo(R"("sn":null)")).sn, 0);
}

TEST(DeviceReport, NonTextValuesBecomeTheirText)
{
    EXPECT_STREQ(parsedReport(R"({"data":{"deviceIp":5}})").deviceIp, "5");
    EXPECT_STREQ(parsedReport(R"({"data":{"deviceIp":-12}})").deviceIp, "-12");
    EXPECT_STREQ(parsedReport(R"({"data":{"deviceIp":12.5}})").deviceIp, "12.5");
    EXPECT_STREQ(parsedReport(R"({"data":{"deviceIp":true}})").deviceIp, "true");
    EXPECT_STREQ(parsedReport(R"({"data":{"deviceIp":false}})").deviceIp, "false");
    EXPECT_STREQ(parsedReport(R"({"data":{"deviceIp":null}})").deviceIp, "");
}

TEST(DeviceReport, ChineseTextIsStoredAsCodePage936)
{
    const DeviceRecord r = parsedReport(machineInfo(std::string(R"("name":")") + kChineseNameUtf8 + "\""));
    EXPECT_STREQ(r.name, kChineseNameGbk);
}

TEST(DeviceReport, EscapedChineseTextIsStoredAsCodePage936)
{
    const DeviceRecord r = parsedReport(machineInfo(R"("name":"\u4e2d\u6587")"));
    EXPECT_STREQ(r.name, "\xD6\xD0" "\xCE\xC4");
}

TEST(DeviceReport, DoubleByteCharacterWithBackslashTrailByteSurvives)
{
    // 乗 is 0x81 0x5C in code page 936: its trail byte is a backslash.
    const DeviceRecord r = parsedReport(machineInfo(R"("name":"A)" "\xE4\xB9\x97" R"(B","model":"M1")"));
    EXPECT_STREQ(r.name, "A" "\x81\x5C" "B");
    EXPECT_STREQ(r.model, "M1");
}

TEST(DeviceReport, OverLongTextIsCutToTheFieldCapacity)
{
    const DeviceRecord r = parsedReport(R"({"data":{"deviceIp":"123456789012345678901234",)"
                                        R"("deviceId":"ABCDEFGHIJKLMNOPQRSTUVWXYZ",)"
                                        R"("machineInfo":{"name":"0123456789012345678901234567890123456789",)"
                                        R"("mac":"00:11:22:33:44:55:66:77:88:99:AA",)"
                                        R"x("productDate":{"time":"2018-11-07 12:00:00 +0800 (China Standard Time)"}}}})x");
    EXPECT_STREQ(r.deviceIp, "1234567890123456789");
    EXPECT_STREQ(r.deviceId, "ABCDEFGHIJKLMNO");
    EXPECT_STREQ(r.name, "0123456789012345678901234567890");
    EXPECT_STREQ(r.mac, "00:11:22:33:44:55:66:77:8");
    EXPECT_STREQ(r.productDate, "2018-11-07 12:00:00 +0800 (China St");
    // The next field is untouched by the cut text.
    EXPECT_EQ(r.sn, 0);
}

TEST(DeviceReport, OverLongChineseTextIsCutAtACharacterBoundary)
{
    // Twenty characters are 40 bytes; the name holds 31, so 15 whole characters.
    std::string name;
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        name += "\xE4\xB8\xAD";  // 中
        if (i < 15)
            expected += "\xD6\xD0";
    }
    DeviceRecord r = parsedReport(machineInfo(R"("name":")" + name + "\""));
    EXPECT_EQ(std::string(r.name), expected);
    // An odd capacity filled by a single-byte character then double-byte ones.
    r = parsedReport(machineInfo(R"("model":"X)" + name + "\""));
    EXPECT_EQ(std::string(r.model), "X" + expected.substr(0, 14));
}

TEST(DeviceReport, ReportJsonCppCannotConvertIsDroppedWhole)
{
    const char* reports[] = {
        "[1,2]",
        "5",
        R"("text")",
        R"({"data":5})",
        R"({"data":[]})",
        R"({"data":{"deviceIp":[1]}})",
        R"({"data":{"deviceIp":{"a":1}}})",
        R"({"data":{"machineInfo":"x"}})",
        R"({"data":{"machineInfo":{"productDate":"2018-11-07"}}})",
        R"({"data":{"machineInfo":{"sn":"12"}}})",
        R"({"data":{"machineInfo":{"sn":3000000000}}})",
        R"({"data":{"machineInfo":{"sn":-1e20}}})",
        R"({"data":{"machineInfo":{"type":[]}}})",
        R"({"data":{"machineInfo":{"type":1e10}}})",
        R"({"data":{"deviceIp":"1.2.3.4","machineInfo":{"name":"ok","mac":["AA"]}}})",
    };
    for (const char* report : reports) {
        DeviceRecord r = patternRecord();
        EXPECT_FALSE(parseReport(report, r)) << report;
        EXPECT_TRUE(sameBytes(r, patternRecord())) << report;
    }
}

TEST(DeviceReport, TextThatDoesNotParseLeavesTheRecordAsItWas)
{
    // A thousand '[' makes the reader throw rather than fail.
    const std::string nested(1000, '[');
    for (const char* report : {"", "{", R"({"data":{"deviceIp":"1.2.3.4"})", R"({"a":1,})", "garbage", nested.c_str()}) {
        DeviceRecord r = patternRecord();
        EXPECT_FALSE(parseReport(report, r)) << report;
        EXPECT_TRUE(sameBytes(r, patternRecord())) << report;
    }
}

TEST(DeviceReport, OnlyKnownKindsAreParsed)
{
    DeviceRecord r = patternRecord();
    EXPECT_FALSE(ParseJsonMessage("changeIp", &r, R"({"data":{"deviceIp":"1.2.3.4"}})"));
    EXPECT_FALSE(ParseJsonMessage("", &r, R"({"data":{"deviceIp":"1.2.3.4"}})"));
    EXPECT_FALSE(ParseJsonMessage("basicCfg", &r, nullptr));
    EXPECT_TRUE(sameBytes(r, patternRecord()));
}

TEST(DeviceReport, CommentsInTheReportAreAccepted)
{
    EXPECT_STREQ(parsedReport("{ /* camera */ \"data\": {\"deviceIp\": \"10.0.0.9\"} // end\n}").deviceIp, "10.0.0.9");
    EXPECT_STREQ(parsedReport("// a camera's comment first\n{\"data\": {\"deviceIp\": \"10.0.0.8\"}}").deviceIp, "10.0.0.8");
}

TEST(DeviceReport, NestingDeeperThanAnyMessageIsDroppedUnread)
{
    auto nested = [](int depth) {
        return R"({"data":{"deviceIp":"10.0.0.7"},"extra":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    EXPECT_STREQ(parsedReport(nested(60).c_str()).deviceIp, "10.0.0.7");
    DeviceRecord r = patternRecord();
    EXPECT_FALSE(parseReport(nested(64).c_str(), r));
    EXPECT_TRUE(sameBytes(r, patternRecord()));
    // Brackets inside texts are only texts.
    EXPECT_STREQ(parsedReport((R"({"data":{"deviceIp":"10.0.0.6","name":")" + std::string(200, '[') + R"("}})").c_str())
                     .deviceIp,
                 "10.0.0.6");
}

// ---- Update-status notifications -------------------------------------------

namespace {

UpdateStatusRecord patternStatus()
{
    UpdateStatusRecord record;
    std::memset(&record, 0xCD, sizeof record);
    return record;
}

UpdateStatusRecord parsedStatus(const char* body)
{
    UpdateStatusRecord record = patternStatus();
    EXPECT_TRUE(ParseJsonMessage("updateStatus", &record, body)) << body;
    return record;
}

} // namespace

TEST(UpdateStatus, ReadsIdentifierAndStatus)
{
    const UpdateStatusRecord r = parsedStatus(R"({"deviceId":"KV0001","status":2,"other":"x"})");
    EXPECT_STREQ(r.deviceId, "KV0001");
    EXPECT_EQ(r.status, 2);
}

TEST(UpdateStatus, AbsentMembersGiveEmptyIdentifierAndSuccess)
{
    const UpdateStatusRecord r = parsedStatus("{}");
    EXPECT_STREQ(r.deviceId, "");
    EXPECT_EQ(r.status, 0);
    // The rest of the identifier is zero-filled, not left from before.
    for (char c : r.deviceId)
        EXPECT_EQ(c, '\0');
}

TEST(UpdateStatus, NumericOrNullIdentifierIsReadAsText)
{
    EXPECT_STREQ(parsedStatus(R"({"deviceId":123,"status":0})").deviceId, "123");
    EXPECT_STREQ(parsedStatus(R"({"deviceId":null,"status":0})").deviceId, "");
}

TEST(UpdateStatus, LongIdentifierKeepsFifteenCharacters)
{
    const UpdateStatusRecord r = parsedStatus(R"({"deviceId":"ABCDEFGHIJKLMNOPQRST","status":0})");
    EXPECT_STREQ(r.deviceId, "ABCDEFGHIJKLMNO");
}

TEST(UpdateStatus, OtherNumbersAreKeptAsTheyAre)
{
    EXPECT_EQ(parsedStatus(R"({"status":7})").status, 7);
    EXPECT_EQ(parsedStatus(R"({"status":1})").status, 1);
    EXPECT_EQ(parsedStatus(R"({"status":-3})").status, -3);
    EXPECT_EQ(parsedStatus(R"({"status":2.0})").status, 2);
}

TEST(UpdateStatus, StatusThatIsNotANumberCountsAsFailure)
{
    for (const char* body : {R"({"status":"0"})", R"({"status":true})", R"({"status":false})",
                             R"({"status":null})", R"({"status":[0]})", R"({"status":{}})",
                             R"({"status":3000000000})", R"({"status":1.5})"}) {
        const int32_t status = parsedStatus(body).status;
        EXPECT_EQ(status, kUpdateStatusNotANumber) << body;
        EXPECT_TRUE(status != 0 && status != 1 && status != 2) << body;
    }
}

TEST(UpdateStatus, MalformedNotificationLeavesTheRecordAsItWas)
{
    const std::string nested(1000, '[');
    for (const char* body : {"[]", "{", R"({"deviceId":[1],"status":0})", "7", nested.c_str()}) {
        UpdateStatusRecord r = patternStatus();
        EXPECT_FALSE(ParseJsonMessage("updateStatus", &r, body)) << body;
        const UpdateStatusRecord untouched = patternStatus();
        EXPECT_EQ(std::memcmp(&r, &untouched, sizeof r), 0) << body;
    }
}

// ---- Requests -------------------------------------------------------------

namespace {

DeviceRecord addressChange(const char* mac, const char* ip, const char* mask, const char* gateway)
{
    DeviceRecord record = zeroRecord();
    std::strcpy(record.mac, mac);
    std::strcpy(record.deviceIp, ip);
    std::strcpy(record.netMask, mask);
    std::strcpy(record.gatewayIp, gateway);
    return record;
}

// What a camera does with a request: parse the UTF-8 body.
Json::Value cameraReads(const std::string& body)
{
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(body.data(), body.data() + body.size(), &root, &errors)) << errors;
    return root;
}

} // namespace

TEST(Requests, ChangeIpIsStyledWithSortedKeys)
{
    DeviceRecord record = addressChange("00:1A:2B:3C:4D:5E", "192.168.1.50", "255.255.255.0", "192.168.1.1");
    std::strcpy(record.name, "ignored");
    EXPECT_EQ(BuildJsonRequest("changeIp", record),
              "{\n"
              "\t\"deviceIp\" : \"192.168.1.50\",\n"
              "\t\"gatewayIp\" : \"192.168.1.1\",\n"
              "\t\"mac\" : \"00:1A:2B:3C:4D:5E\",\n"
              "\t\"netMask\" : \"255.255.255.0\",\n"
              "\t\"type\" : 64\n"
              "}\n");
}

TEST(Requests, ChangeIpWithEmptyTexts)
{
    EXPECT_EQ(BuildJsonRequest("changeIp", zeroRecord()),
              "{\n"
              "\t\"deviceIp\" : \"\",\n"
              "\t\"gatewayIp\" : \"\",\n"
              "\t\"mac\" : \"\",\n"
              "\t\"netMask\" : \"\",\n"
              "\t\"type\" : 64\n"
              "}\n");
}

TEST(Requests, UpdateIsStyledWithSortedKeys)
{
    EXPECT_EQ(BuildJsonRequest("update", "http://192.168.1.100:9000/fw_v1.2.zip", "KV2018110700001"),
              "{\n"
              "\t\"deviceId\" : \"KV2018110700001\",\n"
              "\t\"filePath\" : \"http://192.168.1.100:9000/fw_v1.2.zip\"\n"
              "}\n");
}

TEST(Requests, UnknownKindsBuildNothing)
{
    EXPECT_EQ(BuildJsonRequest("update", zeroRecord()), "");
    EXPECT_EQ(BuildJsonRequest("changeIp", "http://x/", "id"), "");
    EXPECT_EQ(BuildJsonRequest("basicCfg", "http://x/", "id"), "");
}

TEST(Requests, NonAsciiTextsAreEscapedAndReadBackByACamera)
{
    // The identifier is a record text (code page 936); the URL holds a UTF-8 file name.
    const std::string request =
        BuildJsonRequest("update", "http://192.168.1.100:9000/" "\xE5\x9B\xBA\xE4\xBB\xB6" ".zip", "\xD6\xD0" "1");
    EXPECT_EQ(request,
              "{\n"
              "\t\"deviceId\" : \"\\u4e2d1\",\n"
              "\t\"filePath\" : \"http://192.168.1.100:9000/\\u56fa\\u4ef6.zip\"\n"
              "}\n");
    // Pure ASCII, so the text sent is the same in either code page.
    EXPECT_EQ(lynx::platform::Cp936ToUtf8(request), request);
    const Json::Value camera = cameraReads(lynx::platform::Cp936ToUtf8(request));
    EXPECT_EQ(camera["deviceId"].asString(), "\xE4\xB8\xAD" "1");
    EXPECT_EQ(camera["filePath"].asString(), "http://192.168.1.100:9000/" "\xE5\x9B\xBA\xE4\xBB\xB6" ".zip");
}

TEST(Requests, ChangeIpWithChineseMacTextIsReadBackByACamera)
{
    const DeviceRecord record = addressChange("\xD6\xD0" "\\\"", "10.0.0.2", "255.0.0.0", "10.0.0.1");
    const Json::Value camera = cameraReads(lynx::platform::Cp936ToUtf8(BuildJsonRequest("changeIp", record)));
    EXPECT_EQ(camera["mac"].asString(), "\xE4\xB8\xAD" "\\\"");
    EXPECT_EQ(camera["type"].asInt(), 64);
    EXPECT_EQ(camera.size(), 5u);
}

TEST(Requests, UnterminatedRecordFieldIsReadWithinItsCapacity)
{
    DeviceRecord record = addressChange("AA", "1.2.3.4", "255.0.0.0", "1.0.0.1");
    std::memset(record.netMask, '9', sizeof record.netMask);  // no terminator
    const Json::Value camera = cameraReads(BuildJsonRequest("changeIp", record));
    EXPECT_EQ(camera["netMask"].asString(), std::string(sizeof record.netMask, '9'));
    EXPECT_EQ(camera["gatewayIp"].asString(), "1.0.0.1");
}

// ---- Conversions ----------------------------------------------------------

TEST(Conversions, Utf8AndCodePage936RoundTrip)
{
    EXPECT_EQ(lynx::platform::Utf8ToCp936(kChineseNameUtf8), kChineseNameGbk);
    EXPECT_EQ(lynx::platform::Cp936ToUtf8(kChineseNameGbk), kChineseNameUtf8);
    EXPECT_EQ(lynx::platform::Utf8ToCp936("plain 1.2.3.4"), "plain 1.2.3.4");
    EXPECT_EQ(lynx::platform::Cp936ToUtf8(""), "");
}
