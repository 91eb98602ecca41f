// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The connections to one host that all running jobs of this user share: at
// most Limit at a time, however many download processes there are. A slot is
// a lock (flock) on one of Limit files in a private folder; the system lets a
// lock go when its process ends, however it ends, so a killed job never keeps
// a slot.

#include <cstdint>
#include <string>
#include <vector>

class THostSlots {
public:
    // dir: a folder of this user's own (made when missing); hostKey: what
    // names the host ("127.0.0.1:8080"); limit: 1-64.
    THostSlots(const std::string& dir, const std::string& hostKey, int limit);
    ~THostSlots();
    THostSlots(const THostSlots&) = delete;
    THostSlots& operator=(const THostSlots&) = delete;

    // A free slot taken (its index), or -1 when all are held. Never waits.
    int TryTake();
    void Give(int slot);
    int Held() const;
    int Limit() const { return static_cast<int>(fds_.size()); }

private:
    std::string base_;
    std::vector<int> fds_;  // -1 while not held
};

// "host:port" of an http(s) address, lower case; empty when it has none.
std::string HostKeyOf(const std::string& url);
// The folder for the slot files: in $XDG_RUNTIME_DIR when it is set and ours,
// else in the temporary folder, made private to this user.
std::string HostSlotFolder();
