#include "Firmware.h"

#include <curl/curl.h>
#include <zip.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace camsim {

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

int AbortProgress(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

} // namespace

bool DownloadFile(const std::string& url, const std::string& path, const std::string& fromIp, int timeoutSeconds,
                  const std::atomic<bool>& abort, std::string* reason, long long bytesPerSecond)
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
    curl_easy_setopt(c, CURLOPT_WRITEDATA, file.get());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
    if (bytesPerSecond > 0)
        curl_easy_setopt(c, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(bytesPerSecond));
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
