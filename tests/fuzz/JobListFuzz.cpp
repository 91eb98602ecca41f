// SPDX-License-Identifier: GPL-3.0-or-later
// The report lines of download processes, the list file and the request of
// "brimtale --add": what they take back is what they would write again.

#include "FuzzSupport.h"
#include "plan/AddedJob.h"
#include "download/JobList.h"
#include "download/JobReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = FuzzText(data, size);

    TLineReader reader;
    for (const std::string& line : reader.Add(text.data(), text.size())) {
        FUZZ_CHECK(line.size() < ReportLineMax);
        if (const std::optional<TJobReport> report = ParseJobReport(line)) {
            const std::string again = FormatJobReport(*report);
            FUZZ_CHECK(!again.empty() && ParseJobReport(again.substr(0, again.size() - 1)) == report);
        }
        ParseJobCommand(line, 1);
    }

    TJobList list;
    if (list.Parse(text)) {
        FUZZ_CHECK(list.Size() <= TJobList::RowsMax);
        TJobList back;
        FUZZ_CHECK(back.Parse(list.Text()));
        FUZZ_CHECK(back.Text() == list.Text());
        list.Reopened(true);
        list.NextToStart(3);
    }

    if (const auto added = ParseAddRequest(text)) {
        const auto back = ParseAddRequest(EncodeAddRequest(*added));
        FUZZ_CHECK(back && *back == *added);
    }
    return 0;
}
