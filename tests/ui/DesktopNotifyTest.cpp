// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications reach the session's notification service: a private
// bus daemon of the test's own and a stand-in service on it. The body is
// escaped only for a service that takes marked-up text.

#include "support/TempDir.h"
#include "ui/DesktopNotify.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

// The stand-in service: answers with its capabilities and records every Notify.
class TNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList Capabilities;
    QStringList Calls;  // "app|summary|body|desktop-entry"

public slots:
    QStringList GetCapabilities() { return Capabilities; }

    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int)
    {
        Calls << app + "|" + summary + "|" + body + "|" + hints.value("desktop-entry").toString();
        return static_cast<uint>(Calls.size());
    }
};

class TDesktopNotifyTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    QProcess daemon_;
    TNotificationService service_;

private slots:
    void initTestCase()
    {
        const QString exe = QStandardPaths::findExecutable("dbus-daemon");
        if (exe.isEmpty())
            QSKIP("dbus-daemon is not installed");
        dir_ = std::make_unique<TempDir>();
        // A session bus of this test alone, on a socket in its own folder.
        daemon_.start(exe, {"--session", "--nofork", "--print-address=1",
                            "--address=unix:dir=" + QString::fromStdString(dir_->Path())});
        QVERIFY(daemon_.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(daemon_.canReadLine(), 10000);
        const QByteArray address = daemon_.readLine().trimmed();
        QVERIFY(address.startsWith("unix:"));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), "service");
        QVERIFY(bus.isConnected());
        QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &service_, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService("org.freedesktop.Notifications"));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("service");
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }

    void theServiceGetsSummaryAndBody_data()
    {
        QTest::addColumn<bool>("markup");
        QTest::addColumn<QString>("body");
        QTest::newRow("marked-up text") << true << "Error (1)\n/v/a &amp; &lt;b&gt;.mp4";
        QTest::newRow("plain text") << false << "Error (1)\n/v/a & <b>.mp4";
    }

    void theServiceGetsSummaryAndBody()
    {
        QFETCH(bool, markup);
        QFETCH(QString, body);
        service_.Capabilities = markup ? QStringList{"body", "body-markup"} : QStringList{"body"};
        service_.Calls.clear();
        QElapsedTimer t;
        t.start();
        DesktopNotify("Conversion failed", "Error (1)\n/v/a & <b>.mp4");
        QVERIFY2(t.elapsed() < 1000, "the call waited for the service");
        QTRY_COMPARE_WITH_TIMEOUT(service_.Calls.size(), 1, 10000);
        QCOMPARE(service_.Calls[0], "Brimtale|Conversion failed|" + body + "|brimtale");
    }
};

QTEST_MAIN(TDesktopNotifyTest)
#include "DesktopNotifyTest.moc"
