#include "site/SiteReport.h"

#include <ostream>

#include "platform/WholeFile.h"

#include "platform/Csv.h"

#include <json/value.h>
#include <json/writer.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

namespace lynx::site {

using platform::CsvField;

SiteReport::Row& SiteReport::Camera(const std::string& mac)
{
    const auto [it, added] = m_index.emplace(mac, m_rows.size());
    if (added) {
        m_rows.emplace_back();
        m_rows.back().mac = mac;
    }
    return m_rows[it->second];
}

void SiteReport::AddStatus(const std::string& mac, const std::string& status)
{
    Camera(mac).statuses.emplace_back(std::chrono::system_clock::now(), status);
}

std::string IsoTime(std::chrono::system_clock::time_point time)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

namespace {

// "12.345": whole milliseconds as seconds; empty for none.
std::string Seconds(int64_t ms)
{
    if (ms < 0)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
    return text;
}

} // namespace

std::string SiteReport::Csv() const
{
    // The statuses go in one field, each "time status", separated by " | ".
    std::string out = "mac,oldIp,newIp,oldVersion,newVersion,statuses,outcome";
    out += m_downloads ? ",bytesServed,downloadSeconds\r\n" : "\r\n";
    for (const Row& row : m_rows) {
        std::string statuses;
        for (const auto& [time, text] : row.statuses)
            statuses += (statuses.empty() ? "" : " | ") + IsoTime(time) + " " + text;
        for (const std::string* field : {&row.mac, &row.oldIp, &row.newIp, &row.oldVersion, &row.newVersion})
            out += CsvField(*field) + ",";
        out += CsvField(statuses) + "," + CsvField(row.outcome);
        if (m_downloads)
            out += "," + std::to_string(row.bytesServed) + "," + Seconds(row.downloadMs);
        out += "\r\n";
    }
    return out;
}

std::string SiteReport::Json() const
{
    Json::Value array(Json::arrayValue);
    for (const Row& row : m_rows) {
        Json::Value o(Json::objectValue);
        o["mac"] = row.mac;
        o["oldIp"] = row.oldIp;
        o["newIp"] = row.newIp;
        o["oldVersion"] = row.oldVersion;
        o["newVersion"] = row.newVersion;
        Json::Value statuses(Json::arrayValue);
        for (const auto& [time, text] : row.statuses) {
            Json::Value status(Json::objectValue);
            status["time"] = IsoTime(time);
            status["status"] = text;
            statuses.append(status);
        }
        o["statuses"] = statuses;
        o["outcome"] = row.outcome;
        if (m_downloads) {
            o["bytesServed"] = Json::UInt64(row.bytesServed);
            o["downloadSeconds"] = row.downloadMs < 0 ? Json::Value() : Json::Value(static_cast<double>(row.downloadMs) / 1000.0);
        }
        array.append(o);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, array) + "\n";
}

bool SiteReport::CanWrite(const std::string& path, std::string* error)
{
    if (std::ofstream(path, std::ios::app))
        return true;
    *error = "cannot write the report '" + path + "': " + std::strerror(errno);
    return false;
}

bool SiteReport::Write(const std::string& path, std::string* error) const
{
    const bool json = path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
    // An earlier report at the path survives whole when this one cannot be written.
    return platform::WriteFileWhole(path, json ? Json() : Csv(), error);
}

} // namespace lynx::site
