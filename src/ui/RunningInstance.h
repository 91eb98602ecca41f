// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One interactive program per user: a later start with an address hands it to
// the program that runs already, over a local socket of the user's own, and
// ends. Download processes ("-get") are never involved.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include "download/JobReport.h"

#include <deque>
#include <string>

class QLocalServer;
class QLocalSocket;
class QTimer;

// How long a later start waits for the running program to take its address.
// The program answers at once, but on a busy machine "at once" has been seen
// to take two seconds, and a start that gives up too early opens a second
// program: it waits longer. When no program runs it knows at once.
constexpr int InstanceAnswerMs = 8000;

// The running program serves this many callers at a time, each for at most
// InstanceHoldMs, and looks every InstanceRelistenMs whether it still listens.
constexpr std::size_t InstanceMaxConnections = 16;
constexpr int InstanceHoldMs = 1000;
constexpr int InstanceRelistenMs = 1000;

// A download process of the list keeps its connection while it reports: it is
// dropped after ReportIdleMs without a report. At most ReportConnectionsMax
// such connections are kept (the oldest goes).
constexpr int ReportIdleMs = 120000;
constexpr std::size_t ReportConnectionsMax = 256;

// True when the process at the other end of a connected local socket runs as
// this process's user.
bool PeerIsSameUser(qintptr descriptor);
// The process at the other end of a local connection; 0 when unknown.
std::int64_t PeerProcess(qintptr descriptor);

// The socket: in the user's runtime folder ($XDG_RUNTIME_DIR), else in a folder
// of the user's own (mode 0700) in the temporary folder; its name carries the
// user id. Empty when that folder can't be had (someone else's is there).
QString InstanceSocketPath();

// Hands the address to the running program; true when that took it within
// timeoutMs. False at once when none runs.
bool SendToRunningInstance(const std::string& address, int timeoutMs = InstanceAnswerMs,
                           const QString& path = InstanceSocketPath());

// Hands the request of "brimtale --add" to the running program; true when that
// took it within timeoutMs.
bool SendAddToRunningInstance(const std::string& request, int timeoutMs = InstanceAnswerMs,
                              const QString& path = InstanceSocketPath());

// The running program's end: takes the addresses of later starts.
class TInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;

    // Starts listening. A socket that a program left behind when it ended
    // without closing it (nobody answers there) is replaced. False when another
    // program answers there, or the socket can't be made.
    bool Listen(const QString& path = InstanceSocketPath());

    // Connections taken so far (also those that sent nothing useful).
    int Connections() const { return connections_; }
    bool Listening() const;

signals:
    // A whole address has arrived, as the later start sent it.
    void addressReceived(const QByteArray& address);
    // The request of "brimtale --add" (download/AddedJob.h), as sent.
    void addReceived(const QByteArray& request);
    // A well-formed report of a download process; the connection is where
    // commands for its job go.
    void reportReceived(const TJobReport& report, QLocalSocket* connection);

private:
    void Accept(QLocalSocket* socket);
    bool ListenAt(const QString& path);
    // The connection sends report lines from now on.
    void TakeReports(QLocalSocket* socket, QTimer* idle, const QByteArray& first);

    QLocalServer* server_;
    QTimer* watch_;
    QString path_;
    std::deque<QPointer<QLocalSocket>> open_;  // the callers being served, oldest first
    std::deque<QPointer<QLocalSocket>> reporting_;  // the download processes' connections, oldest first
    int connections_ = 0;
};
