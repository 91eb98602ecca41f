// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The state file beside a file fetched over several connections: the file's
// size, its validators and the parts still to fetch, so that a later try
// continues every part.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The state file beside a partial file.
std::string SegmentStateFile(const std::string& fileName);
bool HasSegmentState(const std::string& fileName);
void RemoveSegmentState(const std::string& fileName);

// What a state file holds: the file's size, its validators and the parts still
// to fetch, [From, To).
struct TSegmentState {
    std::int64_t Total = 0;
    std::string ETag;
    std::string LastModified;
    struct TPart {
        std::int64_t From = 0;
        std::int64_t To = 0;
        bool operator==(const TPart&) const = default;
    };
    std::vector<TPart> Parts;
};
// The bytes a state file gives: two copies in turn, each with a sequence
// number and a checksum, so that a write cut short leaves the other whole.
std::string EncodeSegmentState(const TSegmentState& state);
std::optional<TSegmentState> DecodeSegmentState(const std::string& bytes);
// Reads the newest whole copy of a state file; nothing when there is none.
std::optional<TSegmentState> ReadSegmentState(const std::string& fileName);

// The most parts a state keeps.
constexpr std::size_t MaxSegmentStateParts = 64;

// A copy of the state as read, with its sequence number.
struct TSegmentStateCopy {
    TSegmentState State;
    std::uint64_t Sequence = 0;
};
// The newest whole copy in a state file (a link there is not followed).
std::optional<TSegmentStateCopy> ReadNewestStateCopy(const std::string& stateFile);

// The state file written in place: copies go to its two slots in turn.
class TSegmentStateWriter {
public:
    TSegmentStateWriter() = default;
    ~TSegmentStateWriter();
    TSegmentStateWriter(const TSegmentStateWriter&) = delete;
    TSegmentStateWriter& operator=(const TSegmentStateWriter&) = delete;
    // A new state file; false when something is at its name that is no state.
    bool Create(const std::string& path);
    // The state file that is there, continued after its newest copy.
    bool Continue(const std::string& path, std::uint64_t sequence);
    bool Write(const TSegmentState& state);

private:
    int fd_ = -1;
    std::uint64_t sequence_ = 0;
};

// A decimal number of at most 18 digits, nothing else.
std::optional<std::int64_t> SegmentNumber(const std::string& text);
// A validator header's value as kept: trimmed, bounded.
std::string SegmentValidator(const std::string& value);
