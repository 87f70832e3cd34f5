#include "Firmware.h"

#include <curl/curl.h>
#include <zip.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <sys/socket.h>
#include <thread>
#include <memory>
#include <vector>

namespace camsim {

namespace {

struct Sink {
    FILE* file;
    long long stallAfter;  // -1: never
    long long written = 0;
    const std::atomic<bool>* abort;
    std::chrono::steady_clock::time_point deadline;
    long long bytesPerSecond = 0;  // 0: as fast as it comes
    std::chrono::steady_clock::time_point firstByte{};
};

// A camera writing flash takes each byte only as its flash does, from the
// first byte on (curl's own limit lets the start of a transfer through at
// full speed).
void Pace(Sink& sink)
{
    if (sink.bytesPerSecond <= 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (sink.firstByte == std::chrono::steady_clock::time_point{})
        sink.firstByte = now;
    const auto due = sink.firstByte + std::chrono::microseconds(sink.written * 1000000 / sink.bytesPerSecond);
    while (!sink.abort->load() && std::chrono::steady_clock::now() < std::min(due, sink.deadline))
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - std::chrono::steady_clock::now(),
                                                                                  std::chrono::milliseconds(50)));
}

size_t WriteToFile(char* data, size_t size, size_t count, void* context)
{
    Sink& sink = *static_cast<Sink*>(context);
    size_t bytes = size * count;
    if (sink.stallAfter >= 0 && sink.written + static_cast<long long>(bytes) > sink.stallAfter) {
        bytes = static_cast<size_t>(sink.stallAfter - sink.written);
        std::fwrite(data, 1, bytes, sink.file);
        sink.written += static_cast<long long>(bytes);
        // A hung camera: it takes nothing more, until it gives up.
        while (!sink.abort->load() && std::chrono::steady_clock::now() < sink.deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return 0;
    }
    sink.written += static_cast<long long>(bytes);
    const size_t kept = std::fwrite(data, 1, bytes, sink.file);
    Pace(sink);
    return kept;
}

// A camera writing flash takes the file as it writes it: a small receive
// buffer, so that its TCP does not take megabytes ahead of it, as a PC's would.
int SmallReceiveBuffer(void*, curl_socket_t socket, curlsocktype)
{
    const int bytes = 64 * 1024;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    return CURL_SOCKOPT_OK;
}

int AbortProgress(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

} // namespace

bool DownloadFile(const std::string& url, const std::string& path, const std::string& fromIp, int timeoutSeconds,
                  const std::atomic<bool>& abort, std::string* reason, long long bytesPerSecond,
                  long long stallAfterBytes)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        *reason = "cannot write " + path;
        return false;
    }
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        *reason = "curl_easy_init failed";
        return false;
    }
    char error[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // A camera connects from its own address, as a real one does.
    const std::string from = "host!" + fromIp;
    if (!fromIp.empty())
        curl_easy_setopt(c, CURLOPT_INTERFACE, from.c_str());
    // A camera fetches firmware over HTTP only; never a local file or anything else.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteToFile);
    Sink sink{file.get(), stallAfterBytes, 0, &abort, std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds),
              bytesPerSecond};
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
    if (bytesPerSecond > 0) {
        curl_easy_setopt(c, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(bytesPerSecond));
        curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, &SmallReceiveBuffer);
    }
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &AbortProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&abort));
    CURLcode code = curl_easy_perform(c);
    if (std::fflush(file.get()) != 0 && code == CURLE_OK) {
        *reason = "write failed";
        return false;
    }
    if (code != CURLE_OK) {
        *reason = std::string(curl_easy_strerror(code)) + (error[0] ? std::string(": ") + error : "");
        return false;
    }
    return true;
}

bool VerifyArchive(const std::string& path, std::string* reason)
{
    int errorCode = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &errorCode);
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, errorCode);
        *reason = std::string("not a zip archive: ") + zip_error_strerror(&e);
        zip_error_fini(&e);
        return false;
    }
    std::unique_ptr<zip_t, void (*)(zip_t*)> guard(archive, [](zip_t* z) { zip_discard(z); });
    zip_int64_t entries = zip_get_num_entries(archive, 0);
    if (entries <= 0) {
        *reason = "the archive holds no file";
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    for (zip_int64_t i = 0; i < entries; ++i) {
        zip_file_t* f = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (!f) {
            *reason = std::string("entry ") + std::to_string(i) + ": " + zip_strerror(archive);
            return false;
        }
        zip_int64_t n;
        // libzip checks the CRC when an entry has been read to its end.
        while ((n = zip_fread(f, buffer.data(), buffer.size())) > 0) {
        }
        std::string entryError = n < 0 ? zip_file_strerror(f) : "";
        zip_fclose(f);
        if (n < 0) {
            const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
            *reason = std::string("entry ") + (name ? name : "?") + ": " + entryError;
            return false;
        }
    }
    return true;
}

} // namespace camsim
