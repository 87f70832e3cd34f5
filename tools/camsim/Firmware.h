// The camera's firmware download: fetch the archive over HTTP with libcurl and
// check it with libzip, as a camera would before installing.
#pragma once

#include <atomic>
#include <string>

namespace camsim {

// Downloads url into the file at path. Only http and https are fetched; a
// status other than 2xx, a time-out or an abort is a failure (with a reason).
// bytesPerSecond above 0 reads no faster than that, as over a slow link.
// fromIp, when given, is the local address the connection is made from.
// stallAfterBytes from 0 up: after that many bytes nothing more is read until
// the time-out or the abort, and the download fails.
bool DownloadFile(const std::string& url, const std::string& path, const std::string& fromIp, int timeoutSeconds,
                  const std::atomic<bool>& abort, std::string* reason, long long bytesPerSecond = 0,
                  long long stallAfterBytes = -1);

// A zip archive with at least one entry, every entry read through to its end
// so that its CRC is checked. An empty archive holds no firmware: a failure.
bool VerifyArchive(const std::string& path, std::string* reason);

} // namespace camsim
