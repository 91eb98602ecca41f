// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/JobReporter.h"

#include "ui/RunningInstance.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QTimer>

namespace {
// A program that is not there is looked for again at most this often.
constexpr std::int64_t ReconnectMs = 1000;
// Lines kept while the program can't be reached (the oldest go first).
constexpr std::size_t WaitingMax = 32;

std::int64_t NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

TJobReporter::TJobReporter(std::uint64_t id, const QString& socketPath, QObject* parent)
    : QObject(parent), id_(id), path_(socketPath), socket_(new QLocalSocket(this)), later_(new QTimer(this)),
      retry_(new QTimer(this))
{
    later_->setSingleShot(true);
    later_->setInterval(1000 / ReportsPerSecond);
    connect(later_, &QTimer::timeout, this, [this] {
        if (lastSent_)
            return;
        if (pacer_.Allow(last_.State, NowMs()))
            Queue();
        else
            later_->start();
    });
    retry_->setSingleShot(true);
    retry_->setInterval(static_cast<int>(ReconnectMs));
    connect(retry_, &QTimer::timeout, this, [this] {
        if (!waiting_.empty())
            Send();
    });
    last_.Id = id;
    last_.Pid = QCoreApplication::applicationPid();
    connect(socket_, &QLocalSocket::connected, this, [this] {
        // The other end must be this user's program.
        if (!PeerIsSameUser(socket_->socketDescriptor())) {
            foreign_ = true;
            socket_->abort();
            return;
        }
        Send();
    });
    connect(socket_, &QLocalSocket::readyRead, this, [this] {
        const QByteArray bytes = socket_->readAll();
        for (const std::string& line : commands_.Add(bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
            const std::optional<TJobCommand> command = ParseJobCommand(line, id_);
            if (command == TJobCommand::Show)
                emit showRequested();
            else if (command == TJobCommand::Abort)
                emit abortRequested();
        }
        if (commands_.Bad())
            socket_->abort();
    });
    Connect();
}

TJobReporter::~TJobReporter() = default;

void TJobReporter::Connect()
{
    if (foreign_ || path_.isEmpty() || socket_->state() != QLocalSocket::UnconnectedState)
        return;
    const std::int64_t now = NowMs();
    if (now - lastTry_ < ReconnectMs)
        return;
    lastTry_ = now;
    commands_ = TLineReader{};
    socket_->connectToServer(path_);
}

void TJobReporter::Report(TJobState state, std::int64_t done, std::int64_t total, std::int64_t speed,
                          std::int64_t secondsLeft, const std::string& file)
{
    last_.State = state;
    last_.Done = done;
    last_.Total = total;
    last_.Speed = speed;
    last_.SecondsLeft = secondsLeft;
    last_.File = file;
    if (!pacer_.Allow(state, NowMs())) {
        // Goes with the next report that may, or a moment later.
        lastSent_ = false;
        if (!later_->isActive())
            later_->start();
        return;
    }
    Queue();
}

void TJobReporter::Queue()
{
    const std::string line = FormatJobReport(last_);
    lastSent_ = true;
    if (line.empty())
        return;
    if (waiting_.size() >= WaitingMax)
        waiting_.pop_front();
    waiting_.push_back(line);
    Send();
}

void TJobReporter::Send()
{
    if (socket_->state() != QLocalSocket::ConnectedState) {
        Connect();
        if (!foreign_ && !retry_->isActive())
            retry_->start();
        return;
    }
    while (!waiting_.empty()) {
        socket_->write(waiting_.front().data(), static_cast<qint64>(waiting_.front().size()));
        waiting_.pop_front();
    }
    socket_->flush();
}

void TJobReporter::Flush(int timeoutMs)
{
    if (!lastSent_) {
        // The latest state goes whatever the pace.
        const std::string line = FormatJobReport(last_);
        if (!line.empty())
            waiting_.push_back(line);
        lastSent_ = true;
    }
    later_->stop();
    retry_->stop();
    const QDeadlineTimer deadline(timeoutMs);
    if (socket_->state() == QLocalSocket::UnconnectedState) {
        lastTry_ = -ReconnectMs;
        Connect();
    }
    if (socket_->state() == QLocalSocket::ConnectingState)
        socket_->waitForConnected(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    if (socket_->state() != QLocalSocket::ConnectedState || foreign_)
        return;
    if (!PeerIsSameUser(socket_->socketDescriptor()))
        return;
    Send();
    while (socket_->bytesToWrite() > 0 && !deadline.hasExpired())
        if (!socket_->waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            break;
}
