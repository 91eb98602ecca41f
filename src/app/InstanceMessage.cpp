// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/InstanceMessage.h"

#include <algorithm>

namespace {
const std::string Magic = "BMT1";
const std::string AddMagic = "BMA1";
constexpr std::size_t HeadSize = 8;

std::string Encode(const std::string& magic, const std::string& address)
{
    const std::size_t length = std::min(address.size(), InstanceMessageMax);
    std::string message = magic;
    for (int shift = 24; shift >= 0; shift -= 8)
        message.push_back(static_cast<char>((length >> shift) & 0xFF));
    message.append(address, 0, length);
    return message;
}
} // namespace

std::string EncodeInstanceMessage(const std::string& address)
{
    return Encode(Magic, address);
}

std::string EncodeAddMessage(const std::string& request)
{
    return Encode(AddMagic, request);
}

TInstanceMessageReader::TState TInstanceMessageReader::Add(const char* data, std::size_t size)
{
    while (state_ == TState::More && size > 0) {
        if (head_.size() < HeadSize) {
            const std::size_t take = std::min(size, HeadSize - head_.size());
            head_.append(data, take);
            data += take;
            size -= take;
            if (head_.size() < HeadSize)
                break;
            if (head_.compare(0, AddMagic.size(), AddMagic) == 0) {
                kind_ = TInstanceMessageKind::Add;
            } else if (head_.compare(0, Magic.size(), Magic) != 0) {
                state_ = TState::Bad;
                break;
            }
            length_ = 0;
            for (std::size_t i = Magic.size(); i < HeadSize; ++i)
                length_ = (length_ << 8) | static_cast<unsigned char>(head_[i]);
            if (length_ > InstanceMessageMax) {
                state_ = TState::Bad;
                break;
            }
        } else {
            const std::size_t take = std::min(size, length_ - address_.size());
            address_.append(data, take);
            data += take;
            size -= take;
        }
        if (head_.size() == HeadSize && address_.size() == length_)
            state_ = TState::Done;
    }
    return state_;
}
