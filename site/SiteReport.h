// The as-built record of a site's job (lynx-cli's `--report FILE` of assign,
// set-ip and upgrade): one row per camera with its MAC, its address and
// software version before and after, every status it went through with the
// time, and the final outcome. CSV (UTF-8, RFC 4180), or JSON when the file
// name ends in .json.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace lynx::site {

class SiteReport {
public:
    struct Row {
        std::string mac;
        std::string oldIp;
        std::string newIp;
        std::string oldVersion;
        std::string newVersion;
        std::vector<std::pair<std::chrono::system_clock::time_point, std::string>> statuses;
        std::string outcome;
        // An upgrade's: the bytes of the firmware served to the camera, and
        // how long its download took (-1: it never took the whole file).
        uint64_t bytesServed = 0;
        int64_t downloadMs = -1;
    };

    // The row of a camera, made on first use; rows keep the order they were made in.
    Row& Camera(const std::string& mac);
    // A status with the time now.
    void AddStatus(const std::string& mac, const std::string& status);
    void SetOutcome(const std::string& mac, const std::string& outcome) { Camera(mac).outcome = outcome; }

    // The report is an upgrade's: each row also gives bytesServed and
    // downloadSeconds (empty for a download never completed).
    void ShowDownloads() { m_downloads = true; }

    const std::vector<Row>& Rows() const { return m_rows; }
    std::string Csv() const;
    std::string Json() const;
    // Writes the file; false, with the reason in *error, when it cannot.
    bool Write(const std::string& path, std::string* error) const;
    // Whether the file can be written, tried before any work: a report lost at
    // the end would lose the record of work done. False with the reason.
    static bool CanWrite(const std::string& path, std::string* error);

private:
    std::vector<Row> m_rows;
    std::map<std::string, size_t> m_index;
    bool m_downloads = false;
};

// "2026-12-09T12:34:56.789Z".
std::string IsoTime(std::chrono::system_clock::time_point time);

} // namespace lynx::site
