// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HostSlots.h"

#include "system/FileDescriptors.h"
#include "system/PrivateFolders.h"
#include "base/ZQ_Strings.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {
// A slot held with no file behind it (no folder to share the slots in).
constexpr int UnsharedSlot = std::numeric_limits<int>::max();

std::string HexHash(const std::string& text)
{
    std::uint64_t h = 1469598103934665603ULL;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}
} // namespace

THostSlots::THostSlots(const std::string& dir, const std::string& hostKey, int limit)
    : base_(dir.empty() ? std::string() : dir + "/host-" + HexHash(hostKey) + "."),
      fds_(static_cast<std::size_t>(std::clamp(limit, 1, 64)), -1)
{
}

THostSlots::~THostSlots()
{
    for (int& fd : fds_)
        if (fd >= 0 && fd != UnsharedSlot)
            CloseFile(fd);
}

int THostSlots::TryTake()
{
    for (std::size_t i = 0; i < fds_.size(); ++i) {
        if (fds_[i] >= 0)
            continue;
        if (base_.empty()) {
            // No folder to share: the limit holds within this job alone.
            fds_[i] = UnsharedSlot;
            return static_cast<int>(i);
        }
        const std::string name = base_ + std::to_string(i);
        const int fd = OpenRegular(name, TOpenAccess::ReadWrite, TOpenCreate::IfMissing, 0600);
        if (fd < 0)
            continue;
        if (LockFile(fd, TLockWait::DontWait)) {
            fds_[i] = fd;
            return static_cast<int>(i);
        }
        CloseFile(fd);
    }
    return -1;
}

void THostSlots::Give(int slot)
{
    if (slot < 0 || static_cast<std::size_t>(slot) >= fds_.size() || fds_[static_cast<std::size_t>(slot)] < 0)
        return;
    if (fds_[static_cast<std::size_t>(slot)] != UnsharedSlot)
        CloseFile(fds_[static_cast<std::size_t>(slot)]);  // the lock goes with the descriptor
    fds_[static_cast<std::size_t>(slot)] = -1;
}

int THostSlots::Held() const
{
    return static_cast<int>(std::count_if(fds_.begin(), fds_.end(), [](int fd) { return fd >= 0; }));
}

std::string HostKeyOf(const std::string& url)
{
    CURLU* u = curl_url();
    if (!u)
        return {};
    std::string key;
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
        key = LowerAscii(host) + ":" + port;
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(u);
    return key;
}

std::string HostSlotFolder()
{
    return UserRuntimeFolder("connections");
}
