// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/BoundedFetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace {
struct TFetchState {
    const TFetchLimits* Limits = nullptr;
    const TFetchSink* Sink = nullptr;
    const TFetchProgress* Progress = nullptr;
    const std::function<bool()>* ShouldStop = nullptr;
    std::int64_t Bytes = 0;
    bool TooBig = false;
    bool SinkFailed = false;
    bool Cancelled = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* s = static_cast<TFetchState*>(user);
    const std::size_t n = size * count;
    if (s->Bytes + static_cast<std::int64_t>(n) > s->Limits->MaxBytes) {
        s->TooBig = true;
        return 0;
    }
    s->Bytes += static_cast<std::int64_t>(n);
    if (*s->Sink && !(*s->Sink)(data, n)) {
        s->SinkFailed = true;
        return 0;
    }
    return n;
}

int OnProgress(void* user, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t)
{
    auto* s = static_cast<TFetchState*>(user);
    if (*s->ShouldStop && (*s->ShouldStop)()) {
        s->Cancelled = true;
        return 1;
    }
    if (*s->Progress)
        (*s->Progress)(done, total);
    return 0;
}
} // namespace

TFetchResult BoundedFetch(const std::string& url, const TFetchLimits& limits, const TFetchSink& sink,
                          const TFetchProgress& progress, const std::function<bool()>& shouldStop)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    TFetchResult result;
    long timeoutMs = static_cast<long>(limits.TotalSeconds) * 1000;
    if (limits.Deadline != std::chrono::steady_clock::time_point{}) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limits.Deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.Stalled = true;
            result.Error = "the time allowed ran out before it began";
            return result;
        }
        timeoutMs = std::min(timeoutMs, static_cast<long>(left.count()));
    }
    CURL* e = curl_easy_init();
    if (!e) {
        result.Error = "the network library could not start";
        return result;
    }
    TFetchState state;
    state.Limits = &limits;
    state.Sink = &sink;
    state.Progress = &progress;
    state.ShouldStop = &shouldStop;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, limits.RedirectsHttpsOnly ? "https" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, limits.FollowRedirects ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(limits.MaxRedirects));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.ConnectSeconds));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.StallSeconds));
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Brimtale");
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 0L);
    if (limits.MaxBytes >= 0)
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.MaxBytes));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    const CURLcode code = curl_easy_perform(e);
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &result.Status);
    if (!limits.FollowRedirects) {
        char* location = nullptr;
        if (curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
            result.Location = location;
    }
    curl_easy_cleanup(e);
    result.Bytes = state.Bytes;
    result.Cancelled = state.Cancelled;
    result.TooBig = state.TooBig || code == CURLE_FILESIZE_EXCEEDED;
    result.Stalled = code == CURLE_OPERATION_TIMEDOUT;
    if (state.Cancelled)
        result.Error = "cancelled";
    else if (result.TooBig)
        result.Error = "the answer is larger than expected";
    else if (state.SinkFailed)
        result.Error = "the file could not be written";
    else if (code != CURLE_OK)
        result.Error = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
    else if (result.Status >= 300 && result.Status < 400 && !limits.FollowRedirects)
        result.Ok = true;
    else if (result.Status < 200 || result.Status >= 300)
        result.Error = "the server answered " + std::to_string(result.Status);
    else
        result.Ok = true;
    return result;
}

TFetchResult BoundedFetchText(const std::string& url, const TFetchLimits& limits, std::string& out,
                              const std::function<bool()>& shouldStop)
{
    out.clear();
    return BoundedFetch(
        url, limits,
        [&out](const char* data, std::size_t size) {
            out.append(data, size);
            return true;
        },
        {}, shouldStop);
}
