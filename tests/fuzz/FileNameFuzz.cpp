// SPDX-License-Identifier: GPL-3.0-or-later
// A page title through the whole naming chain always gives one safe file name.

#include "FuzzSupport.h"
#include "base/ZQ_Strings.h"
#include "plan/OutputNaming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string title = FuzzText(data, size);
    for (const char* extension : {"", ".flv", ".mp4"}) {
        const std::string name = FileNameFromTitle(title, extension);
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name != "." && name != "..");
        FUZZ_CHECK(name.find('/') == std::string::npos);
        for (unsigned char c : name)
            FUZZ_CHECK(c >= 32 && c != 127);
        FUZZ_CHECK(IsValidUtf8(name));
        FUZZ_CHECK(name.size() <= MaxProposedNameBytes);
    }
    return 0;
}
