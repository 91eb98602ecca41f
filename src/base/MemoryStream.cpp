// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/MemoryStream.h"

#include <algorithm>
#include <cstring>

void TMemoryStream::Write(const void* data, std::size_t count)
{
    if (count == 0)
        return;
    if (pos_ + count > data_.size())
        data_.resize(pos_ + count);
    std::memcpy(data_.data() + pos_, data, count);
    pos_ += count;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    const std::size_t n = std::min(count, data_.size() - pos_);
    if (n > 0)
        std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
}

void TMemoryStream::Seek(std::int64_t position)
{
    if (position < 0)
        position = 0;
    pos_ = std::min(static_cast<std::size_t>(position), data_.size());
}

void TMemoryStream::Clear()
{
    data_.clear();
    pos_ = 0;
}
