// The JSON bodies exchanged with the cameras: device reports and update-status
// notifications read with JsonCpp, changeIp and update requests written with
// Json::Value::toStyledString(). Device texts are code page 936 in the
// records; the wire carries UTF-8 (platform/CodePage.h converts).
#pragma once

#include "protocol/DeviceRecord.h"

#include <cstdint>
#include <string>
#include <string_view>

// kind "changeIp": the request naming the device by record.mac with the new
// deviceIp, netMask and gatewayIp. Any other kind gives an empty text.
//
// The requests are pure ASCII: JsonCpp's styled writer escapes every non-ASCII
// character as \uXXXX, reading the bytes it is given as UTF-8, so the record's
// code page 936 texts are converted to UTF-8 before they go in (given raw, they
// would come out as the wrong characters). The result reads the same in code
// page 936 and in UTF-8, and a camera parses it back to the same texts.
std::string BuildJsonRequest(std::string_view kind, const DeviceRecord& record);
// kind "update": {"deviceId", "filePath"}. url is UTF-8 (it holds a file name of
// this system's file system); deviceId is code page 936, as DeviceRecord holds
// it. A null pointer counts as an empty text. Any other kind gives an empty text.
std::string BuildJsonRequest(std::string_view kind, const char* url, const char* deviceId);

// The status of an UpdateStatusRecord whose "status" member is not a whole JSON
// number (text, true/false, null, 1.5, an array or an object) or a number beyond
// the 32-bit range. It is neither 0 (success), 1 nor 2, so it counts as a failure.
constexpr int32_t kUpdateStatusNotANumber = -1;

// text is code page 936 for both kinds (a received body goes through Utf8ToGbk
// first), NUL-terminated.
//
// kind "basicCfg": a device report into the DeviceRecord at out, which the
// caller zero-fills first. Only the report's fields are written; a text longer
// than its field is cut at a code page 936 character boundary.
//
// kind "updateStatus": a notification into the UpdateStatusRecord at out:
// deviceId (code page 936, at most 15 bytes, NUL-terminated; absent or null:
// empty; a number: its decimal text) and status (absent: 0; not a whole number:
// kUpdateStatusNotANumber).
//
// Returns false and leaves out as it was when the text does not parse or holds
// a value JsonCpp cannot convert (a non-object where an object is expected, an
// array or object for a text, a non-number or out-of-range number for an
// integer); any other kind does nothing and returns false.
bool ParseJsonMessage(std::string_view kind, void* out, const char* text);

namespace lynx::protocol {

// The two parsers behind ParseJsonMessage, for bodies as they arrive (UTF-8,
// read up to a NUL): the same rules, without a round trip through code page
// 936. Both return false and leave the record as it was when the body does
// not parse.
bool ParseReportBody(std::string_view utf8Body, DeviceRecord& record);
bool ParseNotificationBody(std::string_view utf8Body, UpdateStatusRecord& record);

} // namespace lynx::protocol
