// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A media file over several connections at once: the server is asked for the
// whole body as a range; when it answers 206 with the file's size, the file is
// given its final size and cut into segments, each fetched over a connection
// of its own and written in place. A segment whose connection breaks is asked
// for again (from where it stopped); a connection that runs out of work takes
// half of the largest segment still running, so the last bytes don't wait on
// one slow connection.
//
// What is left of each segment is kept in a small state file beside the file
// (SegmentStateFile), written before the file's size is reserved and removed
// once the file is whole: a later run (a retry, a restart after a crash)
// continues every segment from it. Each answer must carry the same size and
// the same ETag / Last-Modified as the first; a server that answers 200, 416,
// another size or another validator makes the download one of a single
// connection from the start (TSegmentedEnd::OneConnection), as does a file
// whose state is missing, broken or does not fit the file.
//
// Only the job's own file is written: opened without following a link, and,
// with OwnFile set, only when it is still that file.

#include "system/ZQ_FileSystem.h"
#include "net/SegmentState.h"
#include "net/ZQ_Internet.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class THostSlots;

struct TSegmentedRequest {
    std::string Url;
    std::string FileName;
    std::optional<TFileId> OwnFile;
    int Connections = 4;
    // Smaller files go over one connection (still a range request, still resumable).
    std::int64_t MinSize = 8 * 1024 * 1024;
    // No segment is split into pieces smaller than this.
    std::int64_t MinSplit = 512 * 1024;
    // The first connection runs alone this long after its first byte; more
    // follow only when it would need more than about a second for the rest.
    int SplitAfterMs = 250;
    std::int64_t MaxBytesPerSecond = 0;  // for the whole download; 0: none
    std::string UserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)";
    long ConnectTimeoutSeconds = 15;
    long StallTimeoutSeconds = 30;
    // Tries of one segment in a row that bring no byte, before the download
    // gives up (its state stays for a later try).
    int SegmentTries = 3;
    // The per-host limit shared with other jobs; none when null.
    THostSlots* Slots = nullptr;
    // Once the size is known: the bytes already in the file and the file's size.
    std::function<void(std::int64_t done, std::int64_t total)> OnStart;
    // As TInet's: the chunk just written and the bytes of the file done so far;
    // false stops. Called on the calling thread only.
    TInetProgressCallback OnProgress;
};

enum class TSegmentedEnd {
    Done,           // the file is whole; its state is gone
    OneConnection,  // download it over one connection from the start (state gone, nothing relied on)
    Failed,         // broke; the state stays so that a later call continues
    Aborted,        // OnProgress said stop or the network step ended; the state stays
};

struct TSegmentedResult {
    TSegmentedEnd End = TSegmentedEnd::Failed;
    std::int32_t Status = InetOk;  // a TInet status for the failure text
    int WriteError = 0;
    std::int64_t Total = 0;        // the file's size, when known
    int MostConnections = 0;       // the most connections that ran at once
};

TSegmentedResult DownloadSegmented(const TSegmentedRequest& request);


// One try of a direct file the way the download window and the command line
// make it: over `connections` connections (at most that many to the host
// across all jobs), with the settings of inet (Url, OwnFile, the speed limit,
// OnProgress, timeouts); a server that can't take part requests gets the
// file over one connection from the start, through inet. onStart is told the
// bytes already done and the size (0, 0 when the download starts anew over
// one connection). The outcome is inet.Status / inet.WriteError, as after
// TInet::DownloadToFile. The file must exist (made empty for a new download).
bool DownloadWithConnections(TInet& inet, const std::string& fileName, int connections,
                             const std::function<void(std::int64_t done, std::int64_t total)>& onStart,
                             std::int64_t minSize = 8 * 1024 * 1024, int splitAfterMs = 250);
// True when a try should go through DownloadWithConnections: a new download,
// or one whose segments' state lies beside its file.
bool UsesConnections(const std::string& fileName, bool continuing);
