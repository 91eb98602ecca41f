// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small types the file calls share (system/ZQ_FileSystem.h,
// system/FileDescriptors.h).
#include <cstdint>

// What reading a file whole came to.
enum class TFileRead {
    Ok,
    CannotOpen,   // missing, no permission, or a link where links are refused
    NotRegular,   // a FIFO, a device, a directory, a socket
    TooBig,       // more than the bytes allowed, whatever size it claims
    ReadFailed,
};

// Whether a symbolic link at the name itself is followed.
enum class TLinkAtName { Follow, Refuse };

// What a file is, whatever name it has now: its device and inode. A job keeps
// the identity of the file it made, so that it only ever writes that file.
struct TFileId {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;

    bool operator==(const TFileId&) const = default;
};
