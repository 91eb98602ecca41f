// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/TransferRate.h"

#include "base/ZQ_Conversion.h"

#include <algorithm>
#include <cmath>

void TTransferRate::Restart(std::int64_t totalBytes, std::int64_t nowMs)
{
    lastBytes_ = totalBytes;
    lastMs_ = nowMs;
    started_ = true;
    settled_ = false;
    based_ = false;
    rate_ = 0;
}

void TTransferRate::Sample(std::int64_t totalBytes, std::int64_t nowMs)
{
    if (!started_) {
        Restart(totalBytes, nowMs);
        return;
    }
    if (!based_) {
        // The time until the first bytes (a connection, a page engine starting)
        // is no part of the speed: the samples count from the first one.
        based_ = true;
        lastBytes_ = totalBytes;
        lastMs_ = nowMs;
        return;
    }
    const std::int64_t elapsed = nowMs - lastMs_;
    // The first speed is the average over the first SettleMs.
    if (elapsed < (settled_ ? MinSampleMs : SettleMs))
        return;
    settled_ = true;
    const double now = static_cast<double>(totalBytes - lastBytes_) * 1000.0 / static_cast<double>(elapsed);
    // The newest sample weighs a third: steady enough to read, quick to follow.
    rate_ = rate_ <= 0 ? now : rate_ + (now - rate_) / 3.0;
    if (rate_ < 0)
        rate_ = 0;
    lastBytes_ = totalBytes;
    lastMs_ = nowMs;
}

std::int64_t TTransferRate::SecondsLeft(std::int64_t remainingBytes) const
{
    if (rate_ <= 0)
        return -1;
    if (remainingBytes <= 0)
        return 0;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(remainingBytes) / rate_));
}

std::string DurationText(std::int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    const std::int64_t h = seconds / 3600;
    const std::int64_t m = seconds / 60 % 60;
    const std::int64_t s = seconds % 60;
    auto two = [](std::int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (h > 0)
        return std::to_string(h) + ":" + two(m) + ":" + two(s);
    return std::to_string(m) + ":" + two(s);
}

int RetryPauseUnits(int tryNumber)
{
    static constexpr int Pauses[TransferRetryTries] = {1, 2, 4, 8, 15, 30};
    return tryNumber >= 1 && tryNumber <= TransferRetryTries ? Pauses[tryNumber - 1] : 0;
}

int TShownPercent::Next(std::int64_t done, std::int64_t total)
{
    if (total <= 0)
        return shown_;
    const double exact = static_cast<double>(std::max<std::int64_t>(0, done)) * 100.0 / static_cast<double>(total);
    const int percent = static_cast<int>(std::min<std::int64_t>(100, RoundHalfEven(exact)));
    shown_ = std::max(shown_, percent);
    return shown_;
}
