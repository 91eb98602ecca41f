// SPDX-License-Identifier: GPL-3.0-or-later
// The Page engine group of the Options tab and the update window, as the user
// works them: the group shows the engine in use, Update page engine runs the
// update without stopping the window, Esc cancels it, and a look-up that found
// nothing with an old engine offers the update. The release server is the
// test's own on 127.0.0.1.
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ConRun.h"
#include "engine/EngineChoice.h"
#include "engine/PageEngine.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "TextsFit.h"
#include "ui/EngineBox.h"
#include "ui/EngineChoicesBox.h"
#include "ui/Main.h"
#include "ui/MessageBoxes.h"
#include "ui/StatusLabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QTabWidget>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {
using testhttp::Request;
using testhttp::Response;

struct TShown {
    QString Text;
    TMsgKind Kind;
};

// A program folder of the test's own with an own engine of that version (or
// one on PATH alone, as with the system's engine), and releases from a server
// of the test's own.
class TEngineFolder {
public:
    enum TWhere { Own, OnPath };
    explicit TEngineFolder(const std::string& version, TWhere where = Own)
    {
        DataDir = dir.Path();
        AppDir.clear();
        SettingsFile = dir.File("bmt.ini");
        InitSettings();
        AppSettings.LangPolish = false;
        PageEngineOverride.reset();
        savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        // A folder of the test's own goes first: the system's engine, if any, is not seen.
        ::mkdir(dir.File("bin").c_str(), 0755);
        qputenv("PATH", QByteArray((dir.File("bin") + ":/usr/bin:/bin").c_str()));
        ::mkdir(dir.File("engine").c_str(), 0700);
        const std::string engine = where == Own ? dir.File("engine/yt-dlp") : dir.File("bin/yt-dlp");
        std::ofstream(engine) << "#!/bin/sh\necho " << version << "\n";
        ::chmod(engine.c_str(), 0755);
        qputenv("BRIMTALE_RELEASES_URL", QByteArray(server.Url("").c_str()));
        ForgetProgramVersions();
        ForgetPageLookUps();
        SetMessageHook([this](QWidget*, const QString&, const QString& text, TMsgKind kind) {
            shown.push_back({text, kind});
            return kind == TMsgKind::Question ? TMsgAnswer::No : TMsgAnswer::Ok;
        });
    }
    ~TEngineFolder()
    {
        SetMessageHook({});
        qputenv("PATH", QByteArray(savedPath.c_str()));
        qunsetenv("BRIMTALE_RELEASES_URL");
        ForgetProgramVersions();
    }

    TempDir dir;
    testhttp::TestHttpServer server;
    std::vector<TShown> shown;
    std::string savedPath;
};

// Calls check on the modal window every few milliseconds until it says it is done.
void WhileModal(const std::function<bool(QWidget*)>& check)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, check] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && check(modal)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

// Runs a program to its end; its exit code, or -1.
int RunTool(const std::string& program, const std::vector<std::string>& args, std::string* out = nullptr)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    try {
        const TCapturedRun run = RunCaptured(program, args, 1 << 20, [giveUp] {
            return std::chrono::steady_clock::now() >= giveUp;
        });
        if (out)
            *out = run.Out;
        return static_cast<int>(run.ExitCode);
    } catch (const EConsoleError&) {
        return -1;
    }
}

std::string Sha256Hex(const std::string& data)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(data.data(), static_cast<qsizetype>(data.size())));
    return hash.result().toHex().toStdString();
}

// A release of that tag on the folder's server, signed by a key of the test's
// own (trusted instead of the engine's): an engine that prints the tag. Not
// Ready when gpg or gpgv is missing.
class TSignedRelease {
public:
    TSignedRelease(TEngineFolder& folder, const std::string& tag)
    {
        const std::string gpg = FindExecutable("gpg");
        if (gpg.empty() || FindExecutable("gpgv").empty())
            return;
        ::chmod(home.Path().c_str(), 0700);
        qputenv("GNUPGHOME", QByteArray(home.Path().c_str()));
        if (RunTool(gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--quick-gen-key",
                          "Test <test@example.invalid>", "ed25519", "sign", "never"}) != 0)
            return;
        RunTool(gpg, {"--batch", "--armor", "--output", home.File("key.asc"), "--export", "test@example.invalid"});
        qputenv("BRIMTALE_RELEASES_KEYRING", QByteArray(home.File("key.asc").c_str()));
        const std::string engine = "#!/bin/sh\necho " + tag + "\n";
        const std::string sums = Sha256Hex(engine) + "  yt-dlp\n" + Sha256Hex(engine) + "  yt-dlp_linux\n";
        home.Write("SHA2-256SUMS", sums);
        RunTool(gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--detach-sign", "--output",
                      home.File("SHA2-256SUMS.sig"), home.File("SHA2-256SUMS")});
        const std::string signature = TempDir::Read(home.File("SHA2-256SUMS.sig"));
        testhttp::ServeEngineRelease(folder.server, tag, sums, signature, engine);
        Ready = !signature.empty();
    }
    ~TSignedRelease()
    {
        qunsetenv("BRIMTALE_RELEASES_KEYRING");
        if (const std::string gpgconf = FindExecutable("gpgconf"); !gpgconf.empty())
            RunTool(gpgconf, {"--kill", "gpg-agent"});
    }

    TempDir home;
    bool Ready = false;
};
} // namespace

class TEngineBoxTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheEngineAndUpdatesWhenAsked()
    {
        TEngineFolder folder("2026.08.19");
        folder.server.Handle("/yt-dlp/yt-dlp/releases/latest", [&](const Request&) {
            // A slow server, so that the window is seen at work.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Response r;
            r.status = 302;
            r.headers.emplace_back("Location", folder.server.Url("/yt-dlp/yt-dlp/releases/tag/2026.08.19"));
            return r;
        });
        TEngineBox box;
        QSignalSpy refreshed(&box, &TEngineBox::refreshed);
        box.show();
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(box.lblEngine->text().contains("2026.08.19, Brimtale's own copy"), qPrintable(box.lblEngine->text()));
        QVERIFY(box.lblEngine->text().contains("days old"));
        QCOMPARE(box.lblRuntime->text(), QString::fromUtf8("JavaScript runtime: none \u2014 YouTube needs one"));
        QVERIFY(!box.btnRestoreEngine->isEnabled());

        // The window goes on while the update runs: its step is seen from a timer.
        QString stepSeen;
        WhileModal([&](QWidget* modal) {
            if (auto* step = modal->findChild<QLabel*>("lblStep"); step && !step->text().isEmpty())
                stepSeen = step->text();
            return !stepSeen.isEmpty();
        });
        QTest::mouseClick(box.btnUpdateEngine, Qt::LeftButton);
        QVERIFY(!stepSeen.isEmpty());
        // The same release is already there; deno's server has nothing, and says so.
        QVERIFY2(box.lblEngineResult->text().startsWith("The page engine is already the newest (2026.08.19). deno was not fetched:"),
                 qPrintable(box.lblEngineResult->text()));
        QVERIFY(box.lblEngineResult->isVisible());
    }

    void escCancelsAStalledUpdate()
    {
        TEngineFolder folder("2025.01.01");
        folder.server.Handle("/yt-dlp/yt-dlp-nightly-builds/releases/latest", [](const Request&) {
            Response r;
            r.silent = true;  // never answers
            return r;
        });
        TEngineBox box;
        box.show();
        QTest::keyClick(box.cbEngineChannel, Qt::Key_Down);  // nightly
        QVERIFY(AppSettings.EngineNightly);
        bool pressed = false;
        WhileModal([&](QWidget* modal) {
            if (!folder.server.WaitForRequests(1, std::chrono::milliseconds(0)))
                return false;
            QTest::keyClick(modal, Qt::Key_Escape);
            pressed = true;
            return true;
        });
        QTest::mouseClick(box.btnUpdateEngine, Qt::LeftButton);
        QVERIFY(pressed);
        QCOMPARE(box.lblEngineResult->text(), QString("Update cancelled; the page engine is unchanged."));
        ForgetProgramVersions();
        QCOMPARE(QString::fromStdString(ChooseEngine().Version), QString("2025.01.01"));
    }

    void anOldEngineOffersTheUpdateAfterALookUpFoundNothing()
    {
        TEngineFolder folder("2023.03.04");
        const TEngineOffer offer = OfferEngineUpdate(nullptr, "No video or music found on this page.", false);
        QCOMPARE(offer, TEngineOffer::Declined);
        QCOMPARE(folder.shown.size(), std::size_t(1));
        QVERIFY(folder.shown[0].Text.startsWith("No video or music found on this page.\n\nThe page engine is "));
        QVERIFY(folder.shown[0].Text.endsWith(" days old, and sites change often. Update now?"));

        // A current engine with no runtime: only YouTube is offered the update.
        TEngineFolder current("9999.01.01");
        QCOMPARE(OfferEngineUpdate(nullptr, "x", false), TEngineOffer::NotOffered);
        QCOMPARE(OfferEngineUpdate(nullptr, "x", true), TEngineOffer::Declined);
        QVERIFY(current.shown.back().Text.endsWith("The page engine has no JavaScript runtime, which YouTube needs. Update now?"));
    }

    void yesToUpdateNowUpdatesTheEngine()
    {
        TEngineFolder folder("2023.03.04");
        TSignedRelease release(folder, "2026.08.19");
        if (!release.Ready)
            QSKIP("gpg or gpgv is not installed, or makes no key");
        TEngineFolder* f = &folder;
        SetMessageHook([f](QWidget*, const QString&, const QString& text, TMsgKind kind) {
            f->shown.push_back({text, kind});
            return kind == TMsgKind::Question ? TMsgAnswer::Yes : TMsgAnswer::Ok;
        });
        const TEngineOffer offer = OfferEngineUpdate(nullptr, "No video or music found on this page.", true);
        QCOMPARE(offer, TEngineOffer::Changed);
        QCOMPARE(folder.shown.size(), std::size_t(2));
        QCOMPARE(folder.shown[0].Kind, TMsgKind::Question);
        QVERIFY2(folder.shown[1].Text.startsWith("Page engine updated to 2026.08.19."), qPrintable(folder.shown[1].Text));
        ForgetProgramVersions();
        QCOMPARE(QString::fromStdString(ChooseEngine().Version), QString("2026.08.19"));
    }

    // Debian's engine on PATH, then the first update: Undo goes back to the
    // engine on PATH, and then there is nothing left to undo.
    void undoAfterTheFirstUpdateReturnsToTheEngineOnPath()
    {
        TEngineFolder folder("2023.03.04", TEngineFolder::OnPath);
        TSignedRelease release(folder, "2026.12.01");
        if (!release.Ready)
            QSKIP("gpg or gpgv is not installed, or makes no key");
        TEngineBox box;
        QSignalSpy refreshed(&box, &TEngineBox::refreshed);
        box.show();
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(box.lblEngine->text().contains("2023.03.04, on PATH"), qPrintable(box.lblEngine->text()));
        QVERIFY(!box.btnRestoreEngine->isEnabled());

        QTest::mouseClick(box.btnUpdateEngine, Qt::LeftButton);
        QVERIFY2(box.lblEngineResult->text().startsWith("Page engine updated to 2026.12.01."),
                 qPrintable(box.lblEngineResult->text()));
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(box.lblEngine->text().contains("2026.12.01, Brimtale's own copy"), qPrintable(box.lblEngine->text()));
        QVERIFY(box.btnRestoreEngine->isEnabled());

        QTest::mouseClick(box.btnRestoreEngine, Qt::LeftButton);
        const QString back = "The previous page engine is back (2023.03.04, on PATH).";
        QCOMPARE(box.lblEngineResult->text(), back);
        QVERIFY(!box.btnRestoreEngine->isEnabled());
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(box.lblEngine->text().contains("2023.03.04, on PATH (" + QString::fromStdString(folder.dir.File("bin/yt-dlp"))),
                 qPrintable(box.lblEngine->text()));
        QVERIFY(!box.btnRestoreEngine->isEnabled());

        // A second press does nothing: the newer engine stays aside.
        QTest::mouseClick(box.btnRestoreEngine, Qt::LeftButton);
        QCOMPARE(box.lblEngineResult->text(), back);
        ForgetProgramVersions();
        QCOMPARE(QString::fromStdString(ChooseEngine().Source), QString("path"));
        QVERIFY(std::filesystem::exists(folder.dir.File("engine/yt-dlp.undone")));
    }

    // The own copy before, in Polish: Undo brings it back once, never the newer one.
    void undoTwiceInPolishLeavesTheEngineBeforeTheUpdate()
    {
        TEngineFolder folder("2025.01.01");
        AppSettings.LangPolish = true;
        TSignedRelease release(folder, "2026.12.01");
        if (!release.Ready)
            QSKIP("gpg or gpgv is not installed, or makes no key");
        TEngineBox box;
        QSignalSpy refreshed(&box, &TEngineBox::refreshed);
        box.show();
        QVERIFY(refreshed.wait(20000));
        QVERIFY(!box.btnRestoreEngine->isEnabled());

        QTest::mouseClick(box.btnUpdateEngine, Qt::LeftButton);
        QVERIFY2(box.lblEngineResult->text().startsWith("Silnik stron zaktualizowany do wersji 2026.12.01."),
                 qPrintable(box.lblEngineResult->text()));
        QVERIFY(refreshed.wait(20000));
        QVERIFY(box.btnRestoreEngine->isEnabled());

        QTest::mouseClick(box.btnRestoreEngine, Qt::LeftButton);
        const QString back = QString::fromUtf8("Przywrócono poprzedni silnik stron (2025.01.01, własna kopia Brimtale).");
        QCOMPARE(box.lblEngineResult->text(), back);
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(box.lblEngine->text().contains(QString::fromUtf8("2025.01.01, własna kopia Brimtale")),
                 qPrintable(box.lblEngine->text()));
        QVERIFY(!box.btnRestoreEngine->isEnabled());

        QTest::mouseClick(box.btnRestoreEngine, Qt::LeftButton);
        QCOMPARE(box.lblEngineResult->text(), back);
        ForgetProgramVersions();
        QCOMPARE(QString::fromStdString(ChooseEngine().Version), QString("2025.01.01"));
        AppSettings.LangPolish = false;
    }

    // The Options tab at the main window's size, in English and then in the
    // Polish the user picks: every text is whole, the channel box is as wide
    // as "stabilny", the speed limit says what it takes beside its field, the
    // engine's long path is shortened in its middle with all of it in the
    // tooltip, and the line an update left below the buttons is said again in
    // the new language (the window makes room for it).
    void theOptionsTabFitsItsTextsInBothLanguages()
    {
        TEngineFolder folder("2025.01.01");
        folder.server.Handle("/yt-dlp/yt-dlp/releases/latest", [](const Request&) {
            Response r;
            r.silent = true;  // never answers: the update is cancelled
            return r;
        });
        std::string deep = folder.dir.File("programs");
        ::mkdir(deep.c_str(), 0700);
        for (const char* part : {"/a folder with a rather long name of its own", "/and another one that is long too", "/engine"})
            ::mkdir((deep += part).c_str(), 0700);
        const std::string engine = deep + "/yt-dlp";
        std::ofstream(engine) << "#!/bin/sh\necho 2025.01.01\n";
        ::chmod(engine.c_str(), 0755);
        PageEngineOverride = engine;
        ForgetProgramVersions();

        TFormMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.pc->setCurrentWidget(w.tsOptions);
        TEngineBox* box = w.gbEngine;
        QTRY_VERIFY2_WITH_TIMEOUT(box->lblEngine->text().contains(QString::fromStdString(engine)),
                                  qPrintable(box->lblEngine->text()), 20000);
        bool pressed = false;
        WhileModal([&](QWidget* modal) {
            if (!folder.server.WaitForRequests(1, std::chrono::milliseconds(0)))
                return false;
            QTest::keyClick(modal, Qt::Key_Escape);
            pressed = true;
            return true;
        });
        QTest::mouseClick(box->btnUpdateEngine, Qt::LeftButton);
        QVERIFY(pressed);
        QCOMPARE(box->lblEngineResult->text(), QString("Update cancelled; the page engine is unchanged."));
        QTRY_VERIFY_WITH_TIMEOUT(box->lblEngine->text().contains(QString::fromStdString(engine)), 20000);

        auto check = [&](const QString& stable) {
            QVERIFY2(textsfit::Unfitted(&w).isEmpty(), qPrintable(textsfit::Unfitted(&w).join("; ")));
            QCOMPARE(box->cbEngineChannel->itemText(0), stable);
            QComboBox fresh;
            fresh.setFont(box->cbEngineChannel->font());
            fresh.addItems({box->cbEngineChannel->itemText(0), box->cbEngineChannel->itemText(1)});
            QVERIFY2(box->cbEngineChannel->width() >= fresh.sizeHint().width(),
                     qPrintable(QString("%1 < %2").arg(box->cbEngineChannel->width()).arg(fresh.sizeHint().width())));
            // The engine's path is too long for the window: its middle gives way.
            const auto* line = dynamic_cast<const TStatusLabel*>(static_cast<QLabel*>(box->lblEngine));
            QVERIFY(line);
            const QString shown = line->FittedText();
            QVERIFY2(shown != box->lblEngine->text() && shown.contains(QString::fromUtf8("\u2026")) &&
                         shown.contains("/yt-dlp)"),
                     qPrintable(shown));
            QTRY_COMPARE_WITH_TIMEOUT(box->lblEngine->toolTip(), box->lblEngine->text(), 5000);
            QVERIFY(box->lblEngine->toolTip().contains(QString::fromStdString(engine)));
        };
        check("stable");
        const QLabel* hint = w.gbEngineAccess->findChild<QLabel*>("lblLimitRateHint");
        QVERIFY(hint);
        QCOMPARE(hint->text(), QString("Bytes a second, e.g. 500K or 2M"));
        QCOMPARE(w.gbEngineAccess->edLimitRate->placeholderText(), QString("no limit"));

        // The user picks Polish.
        w.cbLanguage->setFocus();
        QTest::keyClick(w.cbLanguage, Qt::Key_Down);
        QVERIFY(AppSettings.LangPolish);
        QCOMPARE(box->lblEngineResult->text(), QString::fromUtf8("Aktualizacja przerwana; silnik stron bez zmian."));
        QVERIFY(box->lblRuntime->text().startsWith(QString::fromUtf8("Środowisko JavaScript: ")));
        check("stabilny");
        QCOMPARE(hint->text(), QString::fromUtf8("Bajtów na sekundę, np. 500K lub 2M"));
        QCOMPARE(w.gbEngineAccess->edLimitRate->placeholderText(), QString("bez ograniczenia"));
        PageEngineOverride.reset();
    }

    void polishTexts()
    {
        TEngineFolder folder("2026.08.19");
        AppSettings.LangPolish = true;
        TEngineBox box;
        QCOMPARE(box.title(), QString("Silnik stron"));
        QCOMPARE(box.btnUpdateEngine->text(), QString("Aktualizuj silnik stron"));
        QCOMPARE(box.btnRestoreEngine->text(), QString::fromUtf8("Cofnij aktualizację"));
        QCOMPARE(box.chEngineWeekly->text(), QString("Szukaj nowszego silnika raz w tygodniu"));
        QVERIFY(!box.chEngineWeekly->isChecked());
        AppSettings.LangPolish = false;
        box.SetLang();
        QCOMPARE(box.chEngineWeekly->text(), QString("Look for a newer engine once a week"));
    }
};

QTEST_MAIN(TEngineBoxTest)
#include "EngineBoxTest.moc"
