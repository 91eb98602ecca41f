// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A growable in-memory byte stream with a read/write position, the buffer that
// page reads are collected in before they are turned into text.

#include <cstddef>
#include <cstdint>
#include <string>

class TMemoryStream {
public:
    // Writes at the current position (growing the stream) and moves past the data.
    void Write(const void* data, std::size_t count);
    // Reads up to count bytes from the current position; returns how many came.
    std::size_t Read(void* buffer, std::size_t count);

    std::int64_t Position() const { return static_cast<std::int64_t>(pos_); }
    // Moves the position; it is kept within 0..Size().
    void Seek(std::int64_t position);
    std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
    void Clear();

    const std::string& Data() const { return data_; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};
