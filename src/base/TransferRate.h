// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The speed of a transfer, smoothed over its recent samples, and the time left
// at that speed.

#include <cstdint>
#include <string>

class TTransferRate {
public:
    // Samples closer together than this are taken together.
    static constexpr std::int64_t MinSampleMs = 200;
    // No speed is given before the samples span this long: the first moments
    // of a transfer (a connection opening, a first small block) say nothing of it.
    static constexpr std::int64_t SettleMs = 2000;

    // Starts over from a total at a time (a new transfer, or a resumed one).
    void Restart(std::int64_t totalBytes, std::int64_t nowMs);
    // The running total of bytes at a time (milliseconds on any steady clock).
    void Sample(std::int64_t totalBytes, std::int64_t nowMs);
    // Bytes per second; 0 until the samples (from the first after a restart)
    // span SettleMs.
    double BytesPerSecond() const { return rate_; }
    // Whole seconds for the remaining bytes at the current speed (rounded up);
    // -1 while the speed is unknown.
    std::int64_t SecondsLeft(std::int64_t remainingBytes) const;

private:
    std::int64_t lastBytes_ = 0;
    std::int64_t lastMs_ = 0;
    bool started_ = false;
    bool settled_ = false;
    bool based_ = false;
    double rate_ = 0;
};

// A time span as minutes:seconds, or hours:minutes:seconds from an hour on:
// "1:05", "12:00", "1:02:03".
std::string DurationText(std::int64_t seconds);

// Tries after a transfer broke: the pause before try n (1-based) in units of a
// second (1, 2, 4, 8, 15, 30: about a minute in all), so an outage of up to a
// minute is ridden out; 0 when there is no try n.
constexpr int TransferRetryTries = 6;
int RetryPauseUnits(int tryNumber);

// The percentage shown for a transfer: done of total, rounded, within 0..100,
// and never less than what was shown before (a total that is an estimate may
// grow while the transfer runs). Reset starts over (a transfer from zero).
class TShownPercent {
public:
    // -1 while the total is unknown.
    int Next(std::int64_t done, std::int64_t total);
    void Reset() { shown_ = -1; }

private:
    int shown_ = -1;
};
