#pragma once
// The worker that transfers the job's media address into its output file and
// reports progress to the download window. Every window update it makes runs on
// the window's thread.

#include <QThread>

#include <cstdint>

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
    // Runs f on the window's thread and waits for it.
    template <typename F> void OnWindow(F f);

    static constexpr std::int64_t UpdateIntervalMs = 40;

    TFormGetMain* form_;
    std::int64_t lastUpdate_ = -UpdateIntervalMs;  // worker thread only
};
