// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The worker that transfers the job's media address into its output file and
// reports progress to the download window. Every window update it makes runs on
// the window's thread.

#include <QThread>

#include <cstdint>
#include <string>

class TFormGetMain;

class TDownThread : public QThread {
    Q_OBJECT
public:
    explicit TDownThread(TFormGetMain* form);

    // The transfer's progress callback: bytes of the chunk just written and the
    // running total; false makes the client stop.
    bool DownloadProgress(std::int32_t chunkBytes, std::int64_t totalBytes);

protected:
    void run() override { Execute(); }

private:
    void Execute();
    // One transfer of the job's address into its file: from the start, or
    // continuing what is on disk. True when the whole body arrived.
    bool Transfer(bool continueFile);
    // The job's download through the page engine (continuing: what an earlier
    // run left in its folder). True when the file is in place.
    bool EngineTransfer(bool continuing);
    // Waits before the next try; false when Abort or closing came first.
    bool PauseBeforeTry(int milliseconds);
    // Runs f on the window's thread and waits for it.
    template <typename F> void OnWindow(F f);

    static constexpr std::int64_t UpdateIntervalMs = 40;

    TFormGetMain* form_;
    std::int64_t lastUpdate_ = -UpdateIntervalMs;  // worker thread only
    std::string engineError_;  // why the engine failed, worker thread only
    std::string engineNote_;   // what the user is told besides "Downloaded" (chapters, sponsor service)
    std::int32_t lastStatus_ = 0;  // how the last plain transfer ended (TInet::Status)
    int lastWriteError_ = 0;
};
