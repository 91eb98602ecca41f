// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message a second start of the interactive program hands to the one that
// runs already: one address, as bytes, with its length in front, so that any
// byte (blanks, quotes, line breaks) arrives as it was sent.
//
//   "BMT1", the length as 4 bytes (most significant first), the address.
//
// The running program answers with one byte, InstanceAnswer, once it has the
// whole address.
//
// "brimtale --add" sends its addresses the same way with "BMA1" in front; a
// download process of the program's list sends report lines that begin with
// "BMR1" (download/JobReport.h) over a connection it keeps.

#include <cstddef>
#include <string>

constexpr std::size_t InstanceMessageMax = 64 * 1024;
constexpr char InstanceAnswer = '1';

// The message for an address (cut to InstanceMessageMax bytes).
std::string EncodeInstanceMessage(const std::string& address);

// The message for the addresses of "brimtale --add" (their encoded request).
std::string EncodeAddMessage(const std::string& request);

enum class TInstanceMessageKind { Address, Add };

// Collects a message from the bytes as they arrive.
class TInstanceMessageReader {
public:
    enum class TState { More, Done, Bad };

    // Adds bytes; Done once the whole address is there (bytes after it are
    // ignored), Bad for a message that is not one (and stays Bad).
    TState Add(const char* data, std::size_t size);
    TState State() const { return state_; }
    const std::string& Address() const { return address_; }
    TInstanceMessageKind Kind() const { return kind_; }

private:
    std::string head_;
    std::string address_;
    std::size_t length_ = 0;
    TInstanceMessageKind kind_ = TInstanceMessageKind::Address;
    TState state_ = TState::More;
};
