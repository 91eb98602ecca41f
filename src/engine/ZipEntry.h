// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One file out of a zip, read with libarchive (kept in its own file: on
// Windows its headers bring all of windows.h along).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class TZipEntryRead {
    Ok,
    NotThere,    // no regular file of that name among the zip's first thousand entries
    Broken,      // the zip can't be read (error says why)
    TooBig,      // more than maxBytes
    NotTaken,    // begin or sink said no
};

// Looks for the regular file entryName in the zip open as fd (read, never
// closed, here): when found, begin is called once, then sink with its bytes
// in pieces, at most maxBytes of them.
TZipEntryRead ReadZipEntry(int fd, const std::string& entryName, std::int64_t maxBytes,
                           const std::function<bool()>& begin,
                           const std::function<bool(const char* data, std::size_t size)>& sink, std::string& error);
