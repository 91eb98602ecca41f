// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempDir.h"

#include "support/TestSystem.h"

#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir() : path_(testsys::MakeTempFolder("brimtale-test-")) {}

TempDir::~TempDir()
{
    std::error_code ec;
    // Make everything writable again so that read-only fixtures can go too.
    testsys::MakeWritableTree(path_);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const
{
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path;
}

std::string TempDir::Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
