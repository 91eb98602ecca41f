// SPDX-License-Identifier: GPL-3.0-or-later
// One interactive program per user: a later "brimtale ADDRESS" hands its
// address to the running program and ends, and the address waits while the
// dialog looks something up; a socket left by a program that ended is
// replaced, a program that does not answer is not waited for long, and
// download processes are never involved.

#include "support/ProgramRun.h"
#include "UiTestSupport.h"

#include "app/InstanceMessage.h"
#include "support/TestHttpServer.h"
#include "ui/Main.h"
#include "ui/New.h"
#include "ui/RunningInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Starts the built program (a copy in the folder, so that its settings stay
// there) with the arguments; the run's HOME and XDG folders are inherited.
void StartProgram(QProcess& process, const TProgramFolder& folder, const QStringList& args)
{
    const std::string exe = folder.Dir.File("brimtale");
    if (!std::filesystem::exists(exe))
        PlaceProgram(BRIMTALE_EXE, exe);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(Q(exe), args);
}

} // namespace

class TInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void aLaterStartHandsItsAddressOver_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("sent");  // what arrives: a URI already as its path
        QTest::addColumn<QString>("shown");
        // A name a shell would make much of; it must reach the dialog as it is.
        const QString dir = Q(TestHome()) + "/my videos";
        const QString file = dir + "/it's a \"clip\" $(touch pwned) `id`;+1.avi";
        QTest::newRow("path") << file << file << file;
        // What a file manager passes for "Open with".
        QTest::newRow("file URI") << QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) << file << file;
        // A page address; nothing listens on the port, so the look-ups fail at once.
        QTest::newRow("address") << "http://127.0.0.1:1/v/abc?m=.youtube.&q='a b'"
                                 << "http://127.0.0.1:1/v/abc?m=.youtube.&q='a b'"
                                 << "http://127.0.0.1:1/watch?v=abc?m=.youtube.&q='a b'";
    }

    void aLaterStartHandsItsAddressOver()
    {
        QFETCH(QString, argument);
        QFETCH(QString, sent);
        QFETCH(QString, shown);
        TProgramFolder folder;
        std::filesystem::create_directories(TestHome() + "/my videos");
        std::ofstream(TestHome() + "/my videos/it's a \"clip\" $(touch pwned) `id`;+1.avi") << "x";

        TFormMain w;
        TInstanceServer server;
        QSignalSpy received(&server, &TInstanceServer::addressReceived);
        connect(&server, &TInstanceServer::addressReceived, &w,
                [&w](const QByteArray& address) { w.OpenHandedAddress(address.toStdString()); });
        QVERIFY(server.Listen());

        QProcess later;
        StartProgram(later, folder, {argument});
        // The events run meanwhile: this program answers from them.
        QTRY_VERIFY2_WITH_TIMEOUT(later.state() == QProcess::NotRunning, "the later start did not end", 15000);
        QVERIFY2(later.error() != QProcess::FailedToStart, qPrintable(later.errorString()));
        QCOMPARE(later.exitStatus(), QProcess::NormalExit);
        QCOMPARE(later.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
        QCOMPARE(received[0][0].toByteArray(), sent.toUtf8());
        TFormNew* f = w.FormNew();
        QTRY_COMPARE_WITH_TIMEOUT(f->edURL->text(), shown, 10000);
        QVERIFY(f->isVisible());
        if (QFileInfo(shown).isFile())
            QCOMPARE(f->edFileName->text(), QFileInfo(shown).fileName());
        QVERIFY(!QFile::exists(Q(folder.Dir.File("pwned"))));
    }

    void anAddressHandedOverWhileTheDialogLooksSomethingUpWaitsItsTurn()
    {
        TProgramFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Handle("/watch", [](const testhttp::Request&) {
            testhttp::Response r;
            r.silent = true;  // the title never comes
            return r;
        });
        const std::string file = folder.Dir.Write("later clip.avi", "x");
        TFormMain w;
        TFormNew* f = w.FormNew();
        bool handed = false;
        QTimer user;
        connect(&user, &QTimer::timeout, f, [&] {
            if (!f->Busy())
                return;
            if (!handed) {
                handed = true;
                w.OpenHandedAddress(file);
            } else {
                QTest::keyClick(f, Qt::Key_Escape);
            }
        });
        user.start(200);
        w.OpenAddress(server.Url("/watch?v=abc&m=.youtube."));
        user.stop();
        QVERIFY(handed);
        // The look-up was cancelled; then the waiting address comes.
        QTRY_COMPARE_WITH_TIMEOUT(f->edURL->text(), Q(file), 5000);
        QVERIFY(f->isVisible());
        QCOMPARE(f->edFileName->text(), QString("later clip.avi"));
    }

    void aSocketLeftBehindIsReplaced()
    {
        const QString path = Q(TestHome()) + "/left.socket";
        // A socket file nobody listens on any more, as a program that was killed leaves it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.toUtf8().constData(), sizeof address.sun_path - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFile::exists(path));
        QVERIFY(!SendToRunningInstance("x", InstanceAnswerMs, path));

        TInstanceServer server;
        QVERIFY(server.Listen(path));
        QSignalSpy received(&server, &TInstanceServer::addressReceived);
        // The sender waits for the answer without letting events run, and the
        // server answers from this thread's events: the sender gets a thread.
        bool sent = false;
        std::thread sender([&] { sent = SendToRunningInstance("line one\nline two", InstanceAnswerMs, path); });
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
        sender.join();
        QVERIFY(sent);
        QCOMPARE(received[0][0].toByteArray(), QByteArray("line one\nline two"));

        // A second server finds the first one answering and leaves it alone.
        TInstanceServer second;
        QVERIFY(!second.Listen(path));
        QVERIFY(QFile::exists(path));
    }

    void aProgramThatDoesNotAnswerIsNotWaitedForLong()
    {
        const QString path = Q(TestHome()) + "/deaf.socket";
        QLocalServer deaf;  // takes connections, never reads
        QVERIFY(deaf.listen(path));
        QElapsedTimer t;
        t.start();
        QVERIFY(!SendToRunningInstance("http://127.0.0.1:1/x", 500, path));
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    void aDownloadProcessNeverContactsTheRunningProgram()
    {
        TProgramFolder folder;
        folder.Dir.Write("bmt.ini", "[Main]\r\nAutoClose=1\r\n");
        const std::string input = folder.Dir.Write("in.avi", "x");
        TInstanceServer server;
        QVERIFY(server.Listen());

        // A local file and no conversion: the window says so and closes by itself.
        QProcess download;
        StartProgram(download, folder,
                     {"-get", Q(input), "-", Q(folder.Dir.File("out.avi")), "0", "0", "0", "-", "-", "-", "0"});
        QVERIFY2(download.waitForFinished(20000), "the download process did not end by itself");
        QCOMPARE(download.exitCode(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(server.Connections(), 0);
    }

    void aFloodOfSilentConnectionsLeavesTheHandOffWorking()
    {
        TProgramFolder folder;
        const QString runtime = Q(folder.Dir.File("runtime"));
        QVERIFY(QDir().mkpath(runtime));
        const QStringList env{"XDG_RUNTIME_DIR=" + runtime};
        const QString socket = runtime + "/brimtale-" + QString::number(::geteuid()) + ".socket";

        // The running program has the usual limit of 1024 descriptors.
        rlimit limit {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        const rlimit usual{std::min<rlim_t>(1024, limit.rlim_max), limit.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &usual), 0);
        QProcess running;
        StartWith(running, folder, env, {});
        const rlimit more{std::min<rlim_t>(4096, limit.rlim_max), limit.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &more), 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 15000);

        // More connections than it has descriptors, all held open and silent.
        std::vector<int> held;
        const QByteArray name = QFile::encodeName(socket);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
        QElapsedTimer t;
        t.start();
        while (held.size() < 1100 && t.elapsed() < 30000) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            QVERIFY(fd >= 0);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                held.push_back(fd);
                continue;
            }
            const int error = errno;
            ::close(fd);
            if (error != EAGAIN)
                break;  // no one listens there any more
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Whatever became of them, the running program still takes an address.
        QProcess later;
        StartWith(later, folder, env, {"http://127.0.0.1:1/x"});
        const bool ended = later.waitForFinished(15000);
        if (!ended)
            later.kill();
        for (const int fd : held)
            ::close(fd);
        const bool stillRunning = running.state() == QProcess::Running;
        running.kill();
        running.waitForFinished(5000);
        later.waitForFinished(5000);
        QVERIFY2(ended, "the later start opened a window of its own");
        QCOMPARE(later.exitCode(), 0);
        QVERIFY(stillRunning);
        QCOMPARE(held.size(), std::size_t(1100));  // it never stopped taking connections
    }

    void aServerThatStoppedListeningListensAgain()
    {
        const QString path = Q(TestHome()) + "/relisten.socket";
        TInstanceServer server;
        QVERIFY(server.Listen(path));
        // What Qt does when accepting fails: the server closes, its socket goes.
        QLocalServer::removeServer(path);
        QTRY_VERIFY_WITH_TIMEOUT(server.Listening() && QFileInfo::exists(path), 5000);
        bool sent = false;
        QSignalSpy received(&server, &TInstanceServer::addressReceived);
        std::thread sender([&] { sent = SendToRunningInstance("again", InstanceAnswerMs, path); });
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
        sender.join();
        QVERIFY(sent);
    }

    void withoutARuntimeFolderTheSocketIsInAPrivateFolderOfTheUsers()
    {
        TProgramFolder folder;
        const QString temp = Q(folder.Dir.File("tmp"));
        QVERIFY(QDir().mkpath(temp));
        const QStringList env{"XDG_RUNTIME_DIR", "TMPDIR=" + temp};
        const QString own = temp + "/brimtale-" + QString::number(::geteuid());
        QProcess running;
        StartWith(running, folder, env, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(own + "/brimtale.socket"), 15000);
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QCOMPARE(st.st_uid, ::geteuid());
        QProcess later;
        StartWith(later, folder, env, {"http://127.0.0.1:1/x"});
        const bool ended = later.waitForFinished(15000);
        if (!ended)
            later.kill();
        running.kill();
        running.waitForFinished(5000);
        QVERIFY2(ended, "the later start did not find the running program");
        QCOMPARE(later.exitCode(), 0);

        // What someone else may have put there is never used.
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray tmpdir = qgetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(temp));
        QDir(own).removeRecursively();
        const QString elsewhere = Q(folder.Dir.File("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::link(elsewhere, own));
        const QString linked = InstanceSocketPath();
        QFile::remove(own);
        QVERIFY(QDir().mkdir(own));
        QVERIFY(QFile::setPermissions(own, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                               QFileDevice::ReadOther | QFileDevice::ExeOther));
        const QString opened = InstanceSocketPath();  // its own folder: made private again
        QString foreign = "skipped";
        if (::geteuid() == 0) {
            QVERIFY(::chown(QFile::encodeName(own).constData(), 65534, 65534) == 0);
            foreign = InstanceSocketPath();
        }
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("TMPDIR", tmpdir);
        QCOMPARE(linked, QString());
        QCOMPARE(opened, own + "/brimtale.socket");
        QCOMPARE(QFileInfo(own).permissions() & (QFileDevice::ReadOther | QFileDevice::ExeOther), QFileDevice::Permissions());
        QVERIFY(foreign.isEmpty() || foreign == "skipped");
        TInstanceServer server;
        QVERIFY(!server.Listen(QString()));
        QVERIFY(!SendToRunningInstance("x", 500, QString()));
    }

private:
    // The built program with changes to the environment ("NAME=value" sets,
    // "NAME" alone removes), offscreen.
    static void StartWith(QProcess& process, const TProgramFolder& folder, const QStringList& changes,
                          const QStringList& args)
    {
        const std::string exe = folder.Dir.File("brimtale");
        if (!std::filesystem::exists(exe))
            PlaceProgram(BRIMTALE_EXE, exe);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString& change : changes) {
            const qsizetype eq = change.indexOf('=');
            if (eq < 0)
                env.remove(change);
            else
                env.insert(change.left(eq), change.mid(eq + 1));
        }
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(Q(exe), args);
    }
};

int RunInstanceTests(int argc, char** argv)
{
    TInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "InstanceTest.moc"
