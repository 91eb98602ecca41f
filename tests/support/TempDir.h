// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fresh temporary directory for one test, removed with everything in it.

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path of a name inside the directory.
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file inside the directory and returns its path.
    std::string Write(const std::string& name, const std::string& content) const;
    static std::string Read(const std::string& path);

private:
    std::string path_;
};
