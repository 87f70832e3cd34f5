#include "protocol/JsonMessages.h"

#include "platform/CodePage.h"

#include <json/json.h>

#include <cstring>
#include <exception>
#include <string_view>

using lynx::platform::Cp936ToUtf8;
using lynx::platform::TruncateCp936;
using lynx::platform::Utf8ToCp936;

namespace {

// Stores a UTF-8 JSON text into a fixed field as code page 936, cut to the
// field's capacity without splitting a double-byte character.
template <std::size_t N>
void storeText(char (&field)[N], const Json::Value& value)
{
    const std::string text = TruncateCp936(Utf8ToCp936(value.asString()), N - 1);
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size());
}

// Json::Reader is deprecated in favour of CharReader, but it is the reader the
// cameras' reports have always been read with: its leniency (comments, text
// after the top-level value) is part of what the cameras may rely on.
//
// The reader throws instead of failing for some texts (nesting deeper than its
// stack limit, a thousand '[' for one): anyone on the LAN can send those, so
// every exception means "does not parse".
bool parseJson(const std::string& text, Json::Value& root)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    try {
        Json::Reader reader;
        // Comments are skipped either way; none is kept with the values.
        return reader.parse(text, root, false);
    } catch (const std::exception&) {
        return false;
    }
#pragma GCC diagnostic pop
}

// A member of an object, read in place: Value::get would copy it, and a
// report's "data" holds the whole report. Null when absent (or when object is
// null); Json::LogicError, as get throws it, when object is not an object.
const Json::Value* member(const Json::Value& object, std::string_view key)
{
    return object.find(key.data(), key.data() + key.size());
}

template <std::size_t N>
void storeMember(char (&field)[N], const Json::Value& object, std::string_view key)
{
    const Json::Value* value = member(object, key);
    storeText(field, value ? *value : Json::Value(""));
}

int intMember(const Json::Value& object, std::string_view key)
{
    const Json::Value* value = member(object, key);
    return value ? value->asInt() : 0;
}

// Member access throws Json::LogicError where the report's shape is not what a
// camera sends; the caller drops such a report whole.
void readDeviceReport(const Json::Value& root, DeviceRecord& record)
{
    static const Json::Value none;
    const Json::Value* found = member(root, "data");
    const Json::Value& data = found ? *found : none;
    storeMember(record.deviceIp, data, "deviceIp");
    storeMember(record.netMask, data, "netMask");
    storeMember(record.gatewayIp, data, "gatewayIp");
    storeMember(record.deviceId, data, "deviceId");
    found = member(data, "machineInfo");
    const Json::Value& info = found ? *found : none;
    // The record keeps the low 16 bits of the type, as the camera's own record does.
    record.productType = static_cast<uint16_t>(static_cast<uint32_t>(intMember(info, "type")));
    storeMember(record.name, info, "name");
    storeMember(record.model, info, "model");
    storeMember(record.mac, info, "mac");
    storeMember(record.manufacturer, info, "manufacturer");
    storeMember(record.company, info, "company");
    storeMember(record.softwareVersion, info, "softwareVersion");
    storeMember(record.hardwareVersion, info, "hardwareVersion");
    record.sn = intMember(info, "sn");
    found = member(info, "productDate");
    storeMember(record.productDate, found ? *found : none, "time");
}

void readUpdateStatus(const Json::Value& root, UpdateStatusRecord& record)
{
    storeText(record.deviceId, root.get("deviceId", ""));
    const Json::Value status = root.get("status", 0);
    // A status must be a whole number within 32 bits (2.0 counts as 2); text,
    // true or false, null, 1.5 or a number beyond the range is a failed
    // upgrade, never a success.
    record.status = status.isInt() ? status.asInt() : kUpdateStatusNotANumber;
}

} // namespace

std::string BuildJsonRequest(std::string_view kind, const DeviceRecord& record)
{
    if (kind != "changeIp")
        return {};
    Json::Value request(Json::objectValue);
    request["type"] = 64;
    request["mac"] = lynx::protocol::FieldText(record.mac);
    request["deviceIp"] = lynx::protocol::FieldText(record.deviceIp);
    request["netMask"] = lynx::protocol::FieldText(record.netMask);
    request["gatewayIp"] = lynx::protocol::FieldText(record.gatewayIp);
    return request.toStyledString();
}

std::string BuildJsonRequest(std::string_view kind, const char* url, const char* deviceId)
{
    if (kind != "update")
        return {};
    Json::Value request(Json::objectValue);
    request["filePath"] = std::string(url ? url : "");
    request["deviceId"] = Cp936ToUtf8(deviceId ? deviceId : "");
    return request.toStyledString();
}

namespace {

// A body is a NUL-terminated text: anything after a NUL is not part of it.
std::string_view textOf(std::string_view body)
{
    return body.substr(0, body.find('\0'));
}

// Deeper than any message of the protocol (a report nests four levels) by far.
constexpr int kMaxNesting = 64;

// Whether a body can hold a message at all, decided without parsing it: its
// top level is an object (or null), and it nests no deeper than kMaxNesting.
// Anyone on the LAN can send anything; a thousand '[' cost the reader a
// fifth of a millisecond and an exception, this scan a microsecond.
bool CanHoldAMessage(std::string_view text)
{
    size_t i = 0;
    // White space and the comments the reader allows before the value.
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            ++i;
        if (text.compare(i, 2, "//") == 0) {
            const size_t end = text.find('\n', i);
            i = end == std::string_view::npos ? text.size() : end;
        } else if (text.compare(i, 2, "/*") == 0) {
            const size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? text.size() : end + 2;
        } else {
            break;
        }
    }
    if (i >= text.size() || (text[i] != '{' && text[i] != 'n'))
        return false;
    int depth = 0;
    bool inString = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxNesting)
                return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}

} // namespace

namespace lynx::protocol {

bool ParseReportBody(std::string_view utf8Body, DeviceRecord& record)
{
    const std::string_view text = textOf(utf8Body);
    Json::Value root;
    if (!CanHoldAMessage(text) || !parseJson(std::string(text), root))
        return false;
    DeviceRecord read;
    std::memcpy(&read, &record, sizeof read);
    try {
        readDeviceReport(root, read);
    } catch (const std::exception&) {
        return false;
    }
    std::memcpy(&record, &read, sizeof read);
    return true;
}

bool ParseNotificationBody(std::string_view utf8Body, UpdateStatusRecord& record)
{
    const std::string_view text = textOf(utf8Body);
    Json::Value root;
    if (!CanHoldAMessage(text) || !parseJson(std::string(text), root))
        return false;
    UpdateStatusRecord read{};
    try {
        readUpdateStatus(root, read);
    } catch (const std::exception&) {
        return false;
    }
    record = read;
    return true;
}

} // namespace lynx::protocol

bool ParseJsonMessage(std::string_view kind, void* out, const char* text)
{
    if (!out || !text)
        return false;
    // Parsed as UTF-8, then each text converted back: a code page 936 trail byte
    // can be 0x5C, which JsonCpp would read as an escape inside a string.
    if (kind == "basicCfg")
        return lynx::protocol::ParseReportBody(Cp936ToUtf8(text), *static_cast<DeviceRecord*>(out));
    if (kind == "updateStatus")
        return lynx::protocol::ParseNotificationBody(Cp936ToUtf8(text), *static_cast<UpdateStatusRecord*>(out));
    return false;
}
