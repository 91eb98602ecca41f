// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The download process's side of the list: it tells the program that started
// it how its job goes (download/JobReport.h) over the program's local socket,
// and takes the program's commands (show the window, abort). Nothing here ever
// waits for the program; one that is gone or never answers only means that the
// process carries on alone.

#include "download/JobReport.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <string>

class QLocalSocket;
class QTimer;

class TJobReporter : public QObject {
    Q_OBJECT
public:
    TJobReporter(std::uint64_t id, const QString& socketPath, QObject* parent = nullptr);
    ~TJobReporter() override;

    std::uint64_t Id() const { return id_; }
    // A report of the job's state; progress of the same state goes at most
    // ReportsPerSecond times a second (the latest one is kept for later).
    void Report(TJobState state, std::int64_t done, std::int64_t total, std::int64_t speed, std::int64_t secondsLeft,
                const std::string& file);
    TJobState LastState() const { return last_.State; }
    // Sends what waits, for at most timeoutMs (before the process ends).
    void Flush(int timeoutMs);

signals:
    void showRequested();
    void abortRequested();

private:
    void Connect();
    void Queue();
    void Send();

    std::uint64_t id_;
    QString path_;
    QLocalSocket* socket_;
    QTimer* later_;  // sends a report the pace held back
    QTimer* retry_;  // looks for the program again while lines wait
    TReportPacer pacer_;
    TJobReport last_;
    bool lastSent_ = true;            // the latest report has gone out
    std::deque<std::string> waiting_;  // lines not sent yet, oldest first
    TLineReader commands_;
    std::int64_t lastTry_ = -1000000;  // when a connection was last tried (ms)
    bool foreign_ = false;             // the socket belongs to someone else: nothing goes there
};
