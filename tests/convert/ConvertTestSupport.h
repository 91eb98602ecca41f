// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The stand-in encoder of the conversion tests, copied into a test's own
// directory so that it is executable whatever the checkout did to its mode.

#include "support/TempDir.h"

#include <filesystem>
#include <string>

inline std::string InstallFakeEncoder(const TempDir& dir, const std::string& name = "fake_encoder.sh")
{
    namespace fs = std::filesystem;
    const std::string target = dir.File(name);
    fs::copy_file(std::string(BRIMTALE_SOURCE_DIR) + "/tests/convert/fixtures/fake_encoder.sh", target,
                  fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace);
    return target;
}
