#include "ui/RunningInstance.h"

#include "app/InstanceMessage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Only a process of the same user may hand over an address, or take one.
bool PeerIsSameUser(qintptr descriptor)
{
    struct ucred peer {};
    socklen_t size = sizeof peer;
    if (descriptor < 0 || ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == ::geteuid();
}

int Remaining(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

QString InstanceSocketPath()
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    return dir + "/brimtale-" + QString::number(::geteuid()) + ".socket";
}

bool SendToRunningInstance(const std::string& address, int timeoutMs, const QString& path)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(Remaining(deadline)) || !PeerIsSameUser(socket.socketDescriptor()))
        return false;
    const std::string message = EncodeInstanceMessage(address);
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

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this))
{
    // No access options: with them the socket is made elsewhere and renamed
    // into place, over a socket another program listens on. Who may connect is
    // checked on every connection instead.
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection())
            Accept(socket);
    });
}

TInstanceServer::~TInstanceServer() = default;

bool TInstanceServer::Listen(const QString& path)
{
    if (server_->listen(path))
        return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(InstanceAnswerMs / 4))
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
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A caller that sends nothing (or too slowly) is not waited for.
    QTimer::singleShot(InstanceAnswerMs, socket, drop);
    auto reader = std::make_shared<TInstanceMessageReader>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader, drop] {
        const QByteArray bytes = socket->readAll();
        if (reader->State() != TInstanceMessageReader::TState::More)
            return;
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
            QMetaObject::invokeMethod(
                this, [this, address = QByteArray::fromStdString(reader->Address())] { emit addressReceived(address); },
                Qt::QueuedConnection);
            return;
        }
    });
}
