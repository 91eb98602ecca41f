// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One HTTP(S) GET with bounds on everything: the bytes it may bring, the time to
// connect, the time without a byte, the whole time, and a cancel asked several
// times a second. Only http and https, also after a redirect (https alone
// when RedirectsHttpsOnly is set). The body goes to a sink as it arrives;
// nothing is kept here.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

struct TFetchLimits {
    std::int64_t MaxBytes = 1024 * 1024;
    int ConnectSeconds = 15;
    int StallSeconds = 30;      // no byte for this long: the transfer has stalled
    int TotalSeconds = 30 * 60;
    // An end shared by several fetches (none when left at zero): the fetch is
    // given only the time left before it, and none at all once it has passed.
    std::chrono::steady_clock::time_point Deadline{};
    bool FollowRedirects = true;
    int MaxRedirects = 8;
    // A redirect may lead to https alone: a fetch that began on https never
    // goes on over plain http. (The address given is the caller's to choose.)
    bool RedirectsHttpsOnly = false;
};

struct TFetchResult {
    bool Ok = false;          // a 2xx answer whose body arrived whole (or a 3xx when not following)
    long Status = 0;
    std::string Location;     // a redirect's target, made absolute (when not following)
    bool Cancelled = false;
    bool TooBig = false;
    bool Stalled = false;
    std::string Error;        // one line, for people
    std::int64_t Bytes = 0;
};

// The sink takes each piece of the body; false stops the transfer (Error then
// says the file could not be written).
using TFetchSink = std::function<bool(const char* data, std::size_t size)>;
// Progress: bytes so far, and the announced total (0 when unknown).
using TFetchProgress = std::function<void(std::int64_t done, std::int64_t total)>;

TFetchResult BoundedFetch(const std::string& url, const TFetchLimits& limits, const TFetchSink& sink,
                          const TFetchProgress& progress, const std::function<bool()>& shouldStop);

// The same into a string.
TFetchResult BoundedFetchText(const std::string& url, const TFetchLimits& limits, std::string& out,
                              const std::function<bool()>& shouldStop);
