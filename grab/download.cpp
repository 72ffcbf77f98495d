#include "download.h"

#include "temporary_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#ifndef VANTARO_EXTRA_CA_FILE
#define VANTARO_EXTRA_CA_FILE ""
#endif

namespace vantaro {

namespace {
constexpr long kConnectSeconds = 10;
constexpr long kStallSeconds = 10;

// One handle for the whole run: it keeps the connections and TLS sessions to the mirrors.
CURL* keptHandle = nullptr;
std::string extraCaFileOverride;

// The build's extra authority (a sample build's), or the one a test set.
std::string ExtraCaFile() {
    return extraCaFileOverride.empty() ? VANTARO_EXTRA_CA_FILE : extraCaFileOverride;
}

using Clock = std::chrono::steady_clock;

struct Transfer {
    CURL* handle = nullptr;
    const std::string* target = nullptr;
    std::string temporaryPath;
    int fd = -1;
    std::int64_t stored = 0;
    std::int64_t discarded = 0;
    bool failed = false;
    curl_off_t received = -1;
    Clock::time_point lastProgress;
};

std::size_t ReceiveBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        // Reading an error body to its end lets the connection serve the next tile.
        transfer.discarded += std::int64_t(bytes);
        return transfer.discarded > kMaxDownloadBytes ? 0 : bytes;
    }
    if (transfer.stored + std::int64_t(bytes) > kMaxDownloadBytes) {
        transfer.failed = true;
        return 0;
    }
    if (transfer.fd < 0) {
        transfer.fd = CreateTemporaryBeside(*transfer.target, transfer.temporaryPath);
        if (transfer.fd < 0) {
            transfer.failed = true;
            return 0;
        }
    }
    if (!WriteAll(transfer.fd, data, bytes)) {
        transfer.failed = true;
        return 0;
    }
    transfer.stored += std::int64_t(bytes);
    return bytes;
}

// Ends a transfer that has received nothing for the stall limit, counted from the moment the
// request goes out; the connect time-out covers what comes before. A speed limit would not do:
// it averages, so a burst before the stall stretches the wait.
int CheckStall(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(user);
    curl_off_t sentAfter = 0;
    curl_easy_getinfo(transfer.handle, CURLINFO_PRETRANSFER_TIME_T, &sentAfter);
    if (sentAfter == 0)
        return 0;
    const Clock::time_point now = Clock::now();
    if (downloaded != transfer.received) {
        transfer.received = downloaded;
        transfer.lastProgress = now;
    }
    return now - transfer.lastProgress > std::chrono::seconds(kStallSeconds) ? 1 : 0;
}

CURLcode AddExtraCa(CURL*, void* sslContext, void*) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    return X509_STORE_load_file(store, ExtraCaFile().c_str()) == 1 ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

CURL* KeptHandle() {
    if (keptHandle)
        return keptHandle;
    CURL* handle = curl_easy_init();
    if (!handle)
        return nullptr;
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckStall);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxDownloadBytes));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Vantaro/1.6");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, ReceiveBody);
    if (!ExtraCaFile().empty()) {
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, AddExtraCa);
        // A cached store would miss an authority that the sample service made anew meanwhile.
        curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
    keptHandle = handle;
    return handle;
}
} // namespace

std::int64_t DownloadToFile(const std::string& url, const std::string& path) {
    CURL* handle = KeptHandle();
    if (!handle)
        return 0;
    Transfer transfer;
    transfer.handle = handle;
    transfer.target = &path;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode result = curl_easy_perform(handle);

    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    bool complete = result == CURLE_OK && status == 200 && transfer.stored > 0 && !transfer.failed;
    if (transfer.fd >= 0 && ::close(transfer.fd) != 0)
        complete = false;
    if (complete && std::rename(transfer.temporaryPath.c_str(), path.c_str()) == 0)
        return transfer.stored;
    if (transfer.fd >= 0)
        ::unlink(transfer.temporaryPath.c_str());
    return 0;
}

void CloseDownloads() {
    if (keptHandle)
        curl_easy_cleanup(keptHandle);
    keptHandle = nullptr;
}

void SetExtraTrustedCaFileForTesting(const std::string& pemFile) {
    extraCaFileOverride = pemFile;
    CloseDownloads();
}

} // namespace vantaro
