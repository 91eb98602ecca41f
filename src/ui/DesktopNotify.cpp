// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DesktopNotify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace {

const char* const Service = "org.freedesktop.Notifications";
const char* const Path = "/org/freedesktop/Notifications";
const char* const Interface = "org.freedesktop.Notifications";
constexpr int CallTimeoutMs = 5000;

// Without an address and without the runtime folder's bus there is no session
// bus, and asking for one could start a bus launcher.
bool SessionBusExpected()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + "/bus");
}

} // namespace

void DesktopNotify(const QString& summary, const QString& body)
{
    if (!SessionBusExpected())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The body is marked-up text for a service that says so: a file name's
    // "&" or "<" must then be escaped, and must not be for any other.
    const QDBusMessage capabilities = QDBusMessage::createMethodCall(Service, Path, Interface, "GetCapabilities");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(capabilities, CallTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [summary, body](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QStringList> reply = *call;
        if (reply.isError())
            return;
        const bool markup = reply.value().contains("body-markup");
        QDBusMessage notify = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
        notify << QString("Brimtale") << 0u << QString("brimtale") << summary
               << (markup ? body.toHtmlEscaped() : body) << QStringList()
               << QVariantMap{{"desktop-entry", QString("brimtale")}} << -1;
        QDBusConnection::sessionBus().asyncCall(notify, CallTimeoutMs);
    });
}
