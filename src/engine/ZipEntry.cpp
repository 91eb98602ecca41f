// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ZipEntry.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <vector>

TZipEntryRead ReadZipEntry(int fd, const std::string& entryName, std::int64_t maxBytes,
                           const std::function<bool()>& begin,
                           const std::function<bool(const char* data, std::size_t size)>& sink, std::string& error)
{
    error.clear();
    std::unique_ptr<archive, decltype(&archive_read_free)> a(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(a.get());
    auto libraryError = [&] { error = archive_error_string(a.get()) ? archive_error_string(a.get()) : ""; };
    if (archive_read_open_fd(a.get(), fd, 64 * 1024) != ARCHIVE_OK) {
        libraryError();
        return TZipEntryRead::Broken;
    }
    archive_entry* entry = nullptr;
    int entries = 0;
    while (archive_read_next_header(a.get(), &entry) == ARCHIVE_OK && ++entries < 1000) {
        const char* path = archive_entry_pathname(entry);
        if (!path || std::string(path) != entryName || archive_entry_filetype(entry) != AE_IFREG) {
            archive_read_data_skip(a.get());
            continue;
        }
        if (!begin())
            return TZipEntryRead::NotTaken;
        std::int64_t total = 0;
        std::vector<char> buffer(64 * 1024);
        la_ssize_t n = 0;
        while ((n = archive_read_data(a.get(), buffer.data(), buffer.size())) > 0) {
            total += n;
            if (total > maxBytes)
                return TZipEntryRead::TooBig;
            if (!sink(buffer.data(), static_cast<std::size_t>(n)))
                return TZipEntryRead::NotTaken;
        }
        if (n < 0) {
            libraryError();
            return TZipEntryRead::Broken;
        }
        return TZipEntryRead::Ok;
    }
    return TZipEntryRead::NotThere;
}
