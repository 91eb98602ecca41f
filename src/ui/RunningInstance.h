#pragma once
// One interactive program per user: a later start with an address hands it to
// the program that runs already, over a local socket of the user's own, and
// ends. Download processes ("-get") are never involved.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <string>

class QLocalServer;
class QLocalSocket;
class QTimer;

// How long a later start waits for the running program to take its address,
// and how long the running program gives a caller to send one.
constexpr int InstanceAnswerMs = 2000;

// The running program serves this many callers at a time, each for at most
// InstanceHoldMs, and looks every InstanceRelistenMs whether it still listens.
constexpr std::size_t InstanceMaxConnections = 16;
constexpr int InstanceHoldMs = 1000;
constexpr int InstanceRelistenMs = 1000;

// The socket: in the user's runtime folder ($XDG_RUNTIME_DIR), else in a folder
// of the user's own (mode 0700) in the temporary folder; its name carries the
// user id. Empty when that folder can't be had (someone else's is there).
QString InstanceSocketPath();

// Hands the address to the running program; true when that took it within
// timeoutMs. False at once when none runs.
bool SendToRunningInstance(const std::string& address, int timeoutMs = InstanceAnswerMs,
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

private:
    void Accept(QLocalSocket* socket);
    bool ListenAt(const QString& path);

    QLocalServer* server_;
    QTimer* watch_;
    QString path_;
    std::deque<QPointer<QLocalSocket>> open_;  // the callers being served, oldest first
    int connections_ = 0;
};
