// SPDX-License-Identifier: GPL-3.0-or-later
// INI text: parse, write, parse again gives the same document.

#include "FuzzSupport.h"
#include "app/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);
    TIniDocument doc(text);
    for (const std::string& section : doc.Sections())
        (void)doc.ReadString(section, "Language", "");

    const std::string written = doc.Text();
    TIniDocument again(written);
    FUZZ_CHECK(again.Text() == written);
    FUZZ_CHECK(again.Sections() == doc.Sections());

    // A key written with a value taken from the input reads back the same,
    // unless the value holds a line break (which no INI line can).
    const std::string value = text.substr(0, text.size() / 2);
    again.WriteString("Main", "LastDir", value);
    const TIniDocument reread(again.Text());
    if (value.find_first_of("\r\n") == std::string::npos)
        FUZZ_CHECK(reread.ReadString("Main", "LastDir", "\x01") == again.ReadString("Main", "LastDir", "\x02"));
    FUZZ_CHECK(TIniDocument(reread.Text()).Text() == reread.Text());
    return 0;
}
