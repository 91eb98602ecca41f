// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RunningInstance.h"

#include "app/InstanceMessage.h"
#include "system/LocalPeers.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>

// Only a process of the same user may hand over an address, or take one.
bool PeerIsSameUser(qintptr descriptor)
{
    return LocalPeerIsSameUser(static_cast<std::intptr_t>(descriptor));
}

std::int64_t PeerProcess(qintptr descriptor)
{
    return LocalPeerProcess(static_cast<std::intptr_t>(descriptor));
}

namespace {

// A program that listens takes a connection at once; a socket left behind
// refuses it at once.
constexpr int ProbeConnectMs = 500;

int Remaining(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

QString InstanceSocketPath()
{
    return QString::fromStdString(InstanceEndpoint());
}

namespace {
bool SendInstanceMessage(const std::string& message, int timeoutMs, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(Remaining(deadline)) || !PeerIsSameUser(socket.socketDescriptor()))
        return false;
    socket.write(message.data(), static_cast<qint64>(message.size()));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(Remaining(deadline)))
            return false;
    while (socket.bytesAvailable() == 0)
        if (!socket.waitForReadyRead(Remaining(deadline)))
            return false;
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == InstanceAnswer;
}
} // namespace

bool SendToRunningInstance(const std::string& address, int timeoutMs, const QString& path)
{
    return SendInstanceMessage(EncodeInstanceMessage(address), timeoutMs, path);
}

bool SendAddToRunningInstance(const std::string& request, int timeoutMs, const QString& path)
{
    return SendInstanceMessage(EncodeAddMessage(request), timeoutMs, path);
}

TInstanceServer::TInstanceServer(QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), watch_(new QTimer(this))
{
    // Should the server ever stop listening (Qt closes it when accepting
    // fails) or its socket vanish, it listens again.
    watch_->setInterval(InstanceRelistenMs);
    connect(watch_, &QTimer::timeout, this, [this] {
        if (server_->isListening() && InstanceEndpointExists(path_.toStdString()))
            return;
        server_->close();
        Listen(path_);
    });
    // No access options: with them the socket is made elsewhere and renamed
    // into place, over a socket another program listens on. Who may connect is
    // checked on every connection instead.
    // (A Windows pipe is made with its access list: this user only.)
    if (InstanceEndpointNeedsUserAccess())
        server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection())
            Accept(socket);
    });
}

TInstanceServer::~TInstanceServer() = default;

bool TInstanceServer::Listen(const QString& path)
{
    if (path.isEmpty())
        return false;
    if (!ListenAt(path))
        return false;
    path_ = path;
    watch_->start();
    return true;
}

bool TInstanceServer::ListenAt(const QString& path)
{
    if (server_->listen(path))
        return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(ProbeConnectMs))
            return false;
    }
    QLocalServer::removeServer(path);
    return server_->listen(path);
}

void TInstanceServer::Accept(QLocalSocket* socket)
{
    ++connections_;
    const auto drop = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    if (!PeerIsSameUser(socket->socketDescriptor())) {
        drop();
        return;
    }
    // Only a few callers are served at a time: a flood of connections that
    // send nothing would otherwise use up this program's descriptors. The
    // oldest one makes room.
    std::erase_if(open_, [](const QPointer<QLocalSocket>& s) { return s.isNull(); });
    while (open_.size() >= InstanceMaxConnections) {
        if (QLocalSocket* oldest = open_.front())
            oldest->abort();
        if (QLocalSocket* oldest = open_.front())
            oldest->deleteLater();
        open_.pop_front();
    }
    open_.emplace_back(socket);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A caller that sends nothing (or too slowly) is not waited for.
    auto* hold = new QTimer(socket);
    hold->setSingleShot(true);
    connect(hold, &QTimer::timeout, socket, drop);
    hold->start(InstanceHoldMs);
    auto reader = std::make_shared<TInstanceMessageReader>();
    auto head = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader, head, hold, drop] {
        QByteArray bytes = socket->readAll();
        if (reader->State() != TInstanceMessageReader::TState::More)
            return;
        // The first bytes say what the caller is: a download process of the
        // list sends report lines.
        static const QByteArray ReportHead("BMR1");
        if (head->size() < ReportHead.size()) {
            head->append(bytes);
            if (head->size() < ReportHead.size() && ReportHead.startsWith(*head))
                return;
            if (head->startsWith(ReportHead)) {
                disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
                TakeReports(socket, hold, *head);
                return;
            }
            bytes = *head;
            head->fill(' ', ReportHead.size());  // decided: a message of the later start
        }
        switch (reader->Add(bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
        case TInstanceMessageReader::TState::More:
            return;
        case TInstanceMessageReader::TState::Bad:
            drop();
            return;
        case TInstanceMessageReader::TState::Done:
            socket->write(&InstanceAnswer, 1);
            socket->disconnectFromServer();
            // Not from inside the socket's signal: a receiver that lets events
            // run (the dialog's look-ups) would see the socket deleted under it.
            if (reader->Kind() == TInstanceMessageKind::Add)
                QMetaObject::invokeMethod(
                    this, [this, request = QByteArray::fromStdString(reader->Address())] { emit addReceived(request); },
                    Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(
                    this, [this, address = QByteArray::fromStdString(reader->Address())] { emit addressReceived(address); },
                    Qt::QueuedConnection);
            return;
        }
    });
}

bool TInstanceServer::Listening() const
{
    return server_->isListening();
}

void TInstanceServer::TakeReports(QLocalSocket* socket, QTimer* idle, const QByteArray& first)
{
    std::erase_if(open_, [socket](const QPointer<QLocalSocket>& s) { return s.isNull() || s == socket; });
    std::erase_if(reporting_, [](const QPointer<QLocalSocket>& s) { return s.isNull(); });
    while (reporting_.size() >= ReportConnectionsMax) {
        if (QLocalSocket* oldest = reporting_.front()) {
            oldest->abort();
            oldest->deleteLater();
        }
        reporting_.pop_front();
    }
    reporting_.emplace_back(socket);
    idle->start(ReportIdleMs);
    auto lines = std::make_shared<TLineReader>();
    auto pacers = std::make_shared<std::map<std::uint64_t, TReportPacer>>();
    // A report speaks for the process that sends it and for no other: the
    // kernel names the sender, and a line that names another process is a lie.
    const std::int64_t sender = PeerProcess(socket->socketDescriptor());
    const auto take = [this, socket, idle, lines, pacers, sender](const QByteArray& bytes) {
        for (const std::string& line : lines->Add(bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
            const std::optional<TJobReport> report = ParseJobReport(line);
            if (!report || sender <= 0 || report->Pid != sender || pacers->size() > 64) {
                // Not a report of its own: this sender is not listened to any more.
                socket->abort();
                socket->deleteLater();
                return;
            }
            idle->start(ReportIdleMs);
            // A sender that reports more often than a job's process does is
            // not followed that often (twice the pace leaves room for jitter).
            if (pacers->try_emplace(report->Id, 2 * ReportsPerSecond).first->second.Allow(report->State, QDateTime::currentMSecsSinceEpoch()))
                emit reportReceived(*report, socket);
        }
        if (lines->Bad()) {
            socket->abort();
            socket->deleteLater();
        }
    };
    connect(socket, &QLocalSocket::readyRead, this, [socket, take] { take(socket->readAll()); });
    take(first);
}
