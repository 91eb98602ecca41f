// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Rows and reports the tests of the list make their lists of.

#include "download/JobList.h"

#include <string>

namespace listrows {

inline TDownloadJob WebJob(const std::string& output)
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = "http://127.0.0.1:1/page?a=b c";
    job.MediaUrl = "http://127.0.0.1:1/clip.mp4";
    job.OutputFile = output;
    job.ExpectedSize = 1000;
    job.EncoderParams = job.EncoderExt = job.TargetExt = "-";
    return job;
}

// A row titled as its output file.
inline TJobRow Row(const std::string& output)
{
    TJobRow row;
    row.Title = output;
    row.Job = WebJob(output);
    return row;
}

inline TJobReport Report(std::uint64_t id, TJobState state, std::int64_t pid, std::int64_t done = 0)
{
    TJobReport r;
    r.Id = id;
    r.State = state;
    r.Pid = pid;
    r.Done = done;
    r.Total = 1000;
    return r;
}

} // namespace listrows
