// SPDX-License-Identifier: GPL-3.0-or-later
// The URL and text helpers on any text.

#include "FuzzSupport.h"
#include "base/ZQ_Strings.h"
#include "base/ZQ_URL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);

    FUZZ_CHECK(UrlDecode(text).size() <= text.size());
    std::string scheme, host, path;
    SplitUrl(text, scheme, host, path);
    FUZZ_CHECK(scheme.size() + host.size() + path.size() <= text.size());
    (void)HexToInt64(text);

    const std::string trimmed = Trim(text);
    FUZZ_CHECK(trimmed.size() <= text.size());
    FUZZ_CHECK(Trim(trimmed) == trimmed);
    FUZZ_CHECK(LowerAscii(text).size() == text.size());
    FUZZ_CHECK(SameTextAscii(LowerAscii(text), UpperAscii(text)));

    for (std::size_t limit : {std::size_t(0), std::size_t(1), std::size_t(7), size / 2}) {
        const std::string cut = Utf8Cut(text, limit);
        FUZZ_CHECK(cut.size() <= limit);
        FUZZ_CHECK(text.compare(0, cut.size(), cut) == 0);
        if (IsValidUtf8(text))
            FUZZ_CHECK(IsValidUtf8(cut));
    }

    std::size_t total = 0;
    for (const std::string& line : SplitLines(text)) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        total += line.size();
    }
    FUZZ_CHECK(total <= text.size());
    if (!text.empty()) {
        const std::string find = text.substr(0, 1);
        FUZZ_CHECK(ReplaceAll(text, find, "").find(find) == std::string::npos);
    }
    const std::size_t p = LastCharPos(text, '/');
    FUZZ_CHECK(p <= text.size());
    FUZZ_CHECK(p == 0 || text[p - 1] == '/');
    return 0;
}
