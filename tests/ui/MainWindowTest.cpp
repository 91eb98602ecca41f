// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: both windows switch language at once, the tray menu's
// show/hide text, the shortcut boxes, opening the dialog with the clipboard,
// dropped files, the hand-off of a job to a process of its own, closing, and
// the licence in the about tab.

#include "UiTestSupport.h"

#include "app/DownloadJob.h"
#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ZQ_FileSystem.h"
#include "support/TestHttpServer.h"
#include "plan/AddedJob.h"
#include "download/JobList.h"
#include "ui/DownloadList.h"
#include "ui/Main.h"
#include "ui/New.h"
#include "app/Texts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QRadioButton>
#include <QToolButton>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QtTest>

#include <sys/stat.h>

#include <fstream>

namespace {

int CountFormatFetches(const testhttp::TestHttpServer& server)
{
    int n = 0;
    for (const auto& r : server.Requests())
        n += r.query.find("fmt=") != std::string::npos;
    return n;
}

std::string ReadAll(const std::string& path)
{
    return FileExists(path) ? TempDir::Read(path) : std::string();
}

// Puts a tray of the test's own in place of the desktop's while it lives.
struct TTrayFake {
    explicit TTrayFake(bool available) : Available(available), saved_(SystemTrayAvailable)
    {
        SystemTrayAvailable = [this] { return Available; };
    }
    ~TTrayFake() { SystemTrayAvailable = saved_; }
    TTrayFake(const TTrayFake&) = delete;
    TTrayFake& operator=(const TTrayFake&) = delete;
    bool Available;

private:
    std::function<bool()> saved_;
};

} // namespace

class TMainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void languageSwitchesBothWindows()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        TFormNew* f = w.FormNew();
        f->show();
        f->edURL->setText("kept");
        QCOMPARE(w.pc->tabText(1), QString("Options"));

        w.cbLanguage->setCurrentIndex(1);
        QVERIFY(AppSettings.LangPolish);
        QCOMPARE(w.pc->tabText(0), QString("Pobieranie / Konwersja"));
        QCOMPARE(w.btnNew->text(), QString("Pobierz / Konwertuj plik wideo..."));
        QCOMPARE(w.actClose->toolTip(), QString("Zakończ"));
        QCOMPARE(w.chShortcut_Desktop->text(), QString("Skrót na Pulpicie"));
        QCOMPARE(f->windowTitle(), QString("Nowy"));
        QCOMPARE(f->btnGET->text(), QString("POBIERZ / KONWERTUJ"));
        QCOMPARE(f->btnPasteUrl->toolTip(), QString("Wklej adres strony ze schowka"));
        QVERIFY(f->OpenVideoFilterText.startsWith("Wszystkie obsługiwane formaty wideo ("));
        QCOMPARE(f->edURL->text(), QString("kept"));
        // Qt's own texts (message box buttons, pickers, edit menus) follow.
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QString("&Tak"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QString("Szukaj w:"));

        // Back, and the stored language follows on close.
        w.cbLanguage->setCurrentIndex(0);
        QCOMPARE(f->windowTitle(), QString("New"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QString("&Yes"));
        QCOMPARE(f->gbYoutubeFormats->title(), QString("YouTube video format && quality"));
        w.cbLanguage->setCurrentIndex(1);
        w.close();
        QCOMPARE(Q(TIniFile(SettingsFile).ReadString("Main", "Language", "")), QString("PL"));
    }

    void trayMenuOffersShowOrHide()
    {
        TProgramFolder folder;
        const TTrayFake tray(true);
        TFormMain w;
        w.show();
        w.popTrayPopup();
        QCOMPARE(w.actShowHideMainWindow->text(), QString("Hide main window"));
        w.actMinimizeToTray->trigger();
        QVERIFY(!w.isVisible());
        w.popTrayPopup();
        QCOMPARE(w.actShowHideMainWindow->text(), QString("Show main window"));
        w.tiDblClick();
        QVERIFY(w.isVisible());
        QCOMPARE(w.actShowHideMainWindow->text(), QString("Hide main window"));
        w.actShowHideMainWindow->trigger();
        QVERIFY(!w.isVisible());
        AppSettings.LangPolish = true;
        w.popTrayPopup();
        QCOMPARE(w.actShowHideMainWindow->text(), QString("Pokaż okno główne"));

        // The menu: new, show/hide, a separator, exit.
        const QList<QAction*> items = w.popTray->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0], w.actNew);
        QCOMPARE(items[1], w.actShowHideMainWindow);
        QVERIFY(items[2]->isSeparator());
        QCOMPARE(items[3], w.actClose);
        QCOMPARE(w.actNew->shortcut(), QKeySequence("Ctrl+N"));
        QCOMPARE(w.actMinimizeToTray->shortcut(), QKeySequence("Ctrl+Shift+M"));
        QCOMPARE(w.actEsc->shortcut(), QKeySequence(Qt::Key_Escape));
        QCOMPARE(w.FormNew()->actClose->shortcut(), QKeySequence("Ctrl+N"));
    }

    void withoutTrayMinimizeInsteadOfHiding()
    {
        TProgramFolder folder;
        const TTrayFake tray(false);
        TFormMain w;
        w.show();
        w.actMinimizeToTray->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(w.isMinimized());
    }

    void aTrayThatComesLaterGetsTheIconAndAClickShowsTheWindow()
    {
        TProgramFolder folder;
        TTrayFake tray(false);
        const int savedPoll = TFormMain::TrayPollMs;
        TFormMain::TrayPollMs = 50;
        TFormMain w;
        TFormMain::TrayPollMs = savedPoll;
        w.show();
        QVERIFY(!w.TrayAvailable);
        QVERIFY(!w.ti->isVisible());

        // The panel starts after the program: the icon appears, and hiding to it works.
        tray.Available = true;
        QTRY_VERIFY_WITH_TIMEOUT(w.ti->isVisible(), 5000);
        QVERIFY(w.TrayAvailable);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!w.isVisible());

        // One click on the icon brings the window back; the double click it may
        // be part of leaves it shown.
        emit w.ti->activated(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible());
        QCOMPARE(w.actShowHideMainWindow->text(), QString("Hide main window"));
        emit w.ti->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());
        emit w.ti->activated(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible());

        // The tray goes away while the window is hidden: the window comes back.
        QTest::mouseClick(w.btnMinimizeToTray, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        tray.Available = false;
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 5000);
        QVERIFY(!w.ti->isVisible());
        QVERIFY(!w.TrayAvailable);
    }

    void shortcutBoxes()
    {
        TProgramFolder folder;
        const std::string desktop = TestHome() + "/Desktop";
        const std::string menu = TestHome() + "/data/applications";
        {
            TFormMain w;
            QVERIFY(!w.chShortcut_Desktop->isChecked());
            // Ticked: the folder is made and the entry written.
            w.chShortcut_Desktop->click();
            const std::string entry = ReadAll(desktop + "/brimtale.desktop");
            QVERIFY(entry.find("Exec=\"" + ProgramExecutable + "\"\n") != std::string::npos);
            QVERIFY(entry.find("Name=Brimtale\n") != std::string::npos);
            // Unticked: removed.
            w.chShortcut_Desktop->click();
            QVERIFY(!FileExists(desktop + "/brimtale.desktop"));
            // An entry that is already there is left as it is.
            ForceDirectories(menu);
            {
                std::ofstream(menu + "/brimtale.desktop") << "mine";
            }
            w.chShortcut_StartMenu->click();
            QCOMPARE(Q(ReadAll(menu + "/brimtale.desktop")), QString("mine"));
        }
        // At the next start the boxes show what is there.
        TFormMain again;
        QVERIFY(again.chShortcut_StartMenu->isChecked());
        QVERIFY(!again.chShortcut_Desktop->isChecked());
        again.chShortcut_StartMenu->click();
        QVERIFY(!FileExists(menu + "/brimtale.desktop"));
    }

    void newWithYouTubeAddressOnTheClipboard()
    {
        TProgramFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Handle("/watch", [&](const testhttp::Request&) {
            testhttp::Response r;
            r.body = "<html><head><title>Tom &amp; Jerry: Best of</title></head><body>" +
                     server.Url("/videoplayback?itag=22&id=0123456789abcdef") + "\n</body></html>";
            return r;
        });
        server.Serve("/videoplayback", std::string("FLV\x01") + std::string(100, 'x'), "video/x-flv");
        TFormMain w;
        TFormNew* f = w.FormNew();
        // A "/v/" address whose text carries the site's mark; only the first line counts.
        const QString page = Q(server.Url("/v/abc?m=.youtube."));
        QGuiApplication::clipboard()->setText(page + "\nsecond line");
        w.actNew->trigger();
        QVERIFY(f->isVisible());
        QCOMPARE(f->edURL->text(), Q(server.Url("/watch?v=abc?m=.youtube.")));
        QCOMPARE(f->edFileName->text(), QString("Tom & Jerry- Best of"));
        QCOMPARE(CountFormatFetches(server), 6);
        QVERIFY(f->rbMP4_720->isEnabled() && f->rbMP4_720->isChecked());
        QVERIFY(!f->rbMP4_1080->isEnabled());

        // The same address again: no second probe.
        w.actNew->trigger();
        QCOMPARE(CountFormatFetches(server), 6);

        // A first line longer than 800 bytes is cut to 800.
        QGuiApplication::clipboard()->setText(Q(server.Url("/watch?m=.youtube.&v=")) + QString(900, 'a'));
        w.actNew->trigger();
        QCOMPARE(f->edURL->text().size(), 800);
    }

    void newWithOtherClipboards()
    {
        TProgramFolder folder;
        TFormMain w;
        TFormNew* f = w.FormNew();
        QClipboard* clipboard = QGuiApplication::clipboard();

        // A local file: address, name and directory from its path; the history stays.
        const std::string clip = folder.Dir.Write("holiday clip.avi", "x");
        const int history = f->cbDirectory->count();
        clipboard->setText(Q(clip));
        w.actNew->trigger();
        QCOMPARE(f->edURL->text(), Q(clip));
        QCOMPARE(f->edFileName->text(), QString("holiday clip.avi"));
        QCOMPARE(f->cbDirectory->currentText(), Q(folder.Path()));
        QCOMPARE(f->cbDirectory->count(), history);

        // A folder, an image, nothing, megabytes of text: the fields are cleared.
        auto clearedBy = [&](auto fill) {
            f->edURL->setText("old");
            f->edFileName->setText("old");
            fill();
            QElapsedTimer t;
            t.start();
            w.actNew->trigger();
            return t.elapsed() < 5000 && f->edURL->text().isEmpty() && f->edFileName->text().isEmpty();
        };
        QVERIFY(clearedBy([&] { clipboard->setText(Q(folder.Path())); }));
        QVERIFY(clearedBy([&] {
            QImage image(16, 16, QImage::Format_RGB32);
            image.fill(Qt::blue);
            clipboard->setImage(image);
        }));
        QVERIFY(clearedBy([&] { clipboard->clear(); }));
        QVERIFY(clearedBy([&] { clipboard->setText(QString(4 * 1024 * 1024, 'z') + "\n.youtube."); }));
    }

    void droppedFilesOnTheMainWindow()
    {
        TProgramFolder folder;
        TFormMain w;
        TFormNew* f = w.FormNew();
        const std::string a = folder.Dir.Write("a.avi", "x");
        const std::string b = folder.Dir.Write("b.avi", "x");
        const std::string c = folder.Dir.Write("c.avi", "x");
        SendDrop(&w, {QUrl::fromLocalFile(Q(a)), QUrl::fromLocalFile(Q(b)), QUrl::fromLocalFile(Q(c))});
        QVERIFY(f->isVisible());
        QCOMPARE(f->edURL->text(), Q(a));
        QCOMPARE(f->edFileName->text(), QString("a.avi"));
        QCOMPARE(f->cbDirectory->itemText(0), Q(folder.Path()));

        // A folder is no file: the dialog opens unchanged.
        f->hide();
        w.DroppedFile(Q(folder.Path()));
        QVERIFY(f->isVisible());
        QCOMPARE(f->edURL->text(), Q(a));
    }

    void getFileRefusesAnInvalidJob()
    {
        TProgramFolder folder;
        AppSettings.LangPolish = true;
        TFormMain w;
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = folder.Dir.File("missing.avi");
        job.OutputFile = folder.Dir.File("out.avi");
        w.GetFile(job);
        QCOMPARE(ShownMessages.size(), size_t(1));
        QCOMPARE(ShownMessages[0].Text, QString("Nie można pobrać pliku z podanego adresu!"));
        QCOMPARE(w.LastDownloadPid, qint64(0));
    }

    // A list file that could not be read whole is said when the window
    // opens: how many rows were left out, and where the file as it was is.
    void aDamagedListFileIsSaidAtTheStart()
    {
        TProgramFolder folder;
        ShownMessages.clear();
        TJobList one;
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = job.MediaUrl = "http://127.0.0.1:9/v.mp4";
        job.OutputFile = folder.Dir.File("v.mp4");
        job.EncoderParams = job.EncoderExt = job.TargetExt = "-";
        TJobRow row;
        row.Job = job;
        row.State = TJobState::Done;
        one.Add(row);
        const std::string list = folder.Dir.Write("bmt_downloads.txt", one.Text() + "row \xff\xfe garbage\n");
        QCOMPARE(JobListFile(), list);
        TFormMain w;
        QVERIFY(QTest::qWaitFor([] { return !ShownMessages.empty(); }, 5000));
        QCOMPARE(ShownMessages[0].Text,
                 Q("Rows of the list of downloads that could not be read were left out: 1. The file as it was is kept as: " +
                   list + ".damaged"));
        QCOMPARE(w.Queue()->List().Size(), std::size_t(1));
        ShownMessages.clear();
    }

    // The same address given twice to "brimtale --add" asks before it becomes
    // a second job.
    void anAddressAddedAgainIsAskedAbout()
    {
        TProgramFolder folder;
        ShownMessages.clear();
        TFormMain w;
        TAddedAddress added;
        added.Address = "http://127.0.0.1:9/clip.mp4";
        added.Directory = folder.Path();
        const std::string request = EncodeAddRequest({added});
        QVERIFY(w.AddHandedAddresses(request));
        QCOMPARE(w.Queue()->List().Size(), std::size_t(1));
        QVERIFY(ShownMessages.empty());
        // No: nothing more.
        QVERIFY(w.AddHandedAddresses(request));
        QCOMPARE(ShownMessages.size(), std::size_t(1));
        QCOMPARE(ShownMessages[0].Kind, TMsgKind::Question);
        QCOMPARE(ShownMessages[0].Text,
                 Q("This address is already in the list of downloads:\nhttp://127.0.0.1:9/clip.mp4\nAdd it again?"));
        QCOMPARE(w.Queue()->List().Size(), std::size_t(1));
        // Yes: a second job; a new address among them is added either way.
        SetDetailedMessageHook(
            [](QWidget*, const QString&, const QString&, TMsgKind, const QString&) { return TMsgAnswer::Yes; });
        TAddedAddress other = added;
        other.Address = "http://127.0.0.1:9/other.mp4";
        QVERIFY(w.AddHandedAddresses(EncodeAddRequest({added, other})));
        RecordMessages();
        QCOMPARE(w.Queue()->List().Size(), std::size_t(3));
        ShownMessages.clear();
    }

    // An address handed over while a message box waits for its answer is
    // named in the main window, and opens in the dialog once the box is gone.
    void aHandedAddressWaitsVisiblyForAnOpenBox()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QDialog box(&w);
        box.setModal(true);
        box.show();
        QVERIFY(QTest::qWaitFor([&] { return QApplication::activeModalWidget() == &box; }, 5000));
        const std::string address = "/no/such/folder/clip.avi";
        w.OpenHandedAddress(address);
        QVERIFY(w.lblPending->isVisible());
        QCOMPARE(w.lblPending->toolTip(), Q("Waiting to be opened: " + address));
        QVERIFY(!w.FormNew()->isVisible());
        box.close();
        QVERIFY(QTest::qWaitFor([&] { return w.FormNew()->isVisible(); }, 5000));
        QVERIFY(!w.lblPending->isVisible());
        w.FormNew()->hide();
    }

    void getFileStartsAProcessWithTheFieldsAsArguments()
    {
        TProgramFolder folder;
        // A stand-in for the program that writes its arguments, each ended by a NUL.
        const std::string fake = folder.Dir.Write(
            "fake-brimtale",
            "#!/bin/sh\nout=\"$(dirname \"$0\")/args\"\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out.part\"\n"
            "mv \"$out.part\" \"$out\"\n");
        ::chmod(fake.c_str(), 0755);
        const std::string saved = ProgramExecutable;
        ProgramExecutable = fake;

        TDownloadJob job;
        job.Switch = "-get";
        job.Source = "http://127.0.0.1:9/watch?v=1&x=$(touch pwned);`id`";
        // Bytes that are no UTF-8 arrive as they are.
        job.MediaUrl = "http://127.0.0.1:9/media?a=1&b='2' \"3\"&t=\xff\xfe\xb1";
        job.OutputFile = folder.Path() + "/my clip\xb1\xea; rm -rf ~\nnext.flv";
        job.ExpectedSize = 1234;
        job.EncoderParams = "-";
        job.EncoderExt = "-";
        job.TargetExt = "-";
        AppSettings.AutoClose = true;
        TFormMain w;
        w.GetFile(job);
        ProgramExecutable = saved;
        QVERIFY(w.LastDownloadPid > 0);
        const std::string argsFile = folder.Dir.File("args");
        QVERIFY(QTest::qWaitFor([&] { return FileExists(argsFile); }, 10000));
        const std::string text = TempDir::Read(argsFile);
        std::vector<std::string> args;
        for (std::size_t from = 0; from < text.size();) {
            const std::size_t nul = text.find('\0', from);
            args.push_back(text.substr(from, nul - from));
            from = nul + 1;
        }
        // The job's fields, then the list's: its row, a shown window, a fresh start.
        // (The row's job also names the file it made for the job.)
        const TJobRow& row = w.Queue()->List().Rows().back();
        QCOMPARE(row.Job.OutputId, FileIdOf(job.OutputFile));
        QVERIFY(args == ListedJobArgs(row.Job, row.Id, true, false, true));
        std::vector<std::string> own = JobToArgs(job, true);
        QVERIFY(std::equal(own.begin(), own.end(), args.begin()));
        QVERIFY(!FileExists(folder.Dir.File("pwned")));
    }

    void closingKeepsAutoCloseAndSavesTheRest()
    {
        TProgramFolder folder;
        folder.Dir.Write("bmt.ini", "[Main]\r\nAutoClose=1\r\nLanguage=EN\r\n");
        AppSettings.AutoClose = false;
        AppSettings.LangPolish = true;
        TFormMain w;
        QSignalSpy closed(&w, &TFormMain::closed);
        w.show();
        w.actClose->trigger();
        QVERIFY(!w.isVisible());
        QCOMPARE(closed.count(), 1);
        const TIniFile ini(SettingsFile);
        QCOMPARE(Q(ini.ReadString("Main", "AutoClose", "")), QString("1"));
        QCOMPARE(Q(ini.ReadString("Main", "Language", "")), QString("PL"));
    }

    void notificationsOptionIsKeptInTheSettingsFile()
    {
        TProgramFolder folder;
        folder.Dir.Write("bmt.ini", "[Main]\r\nAutoClose=1\r\n");
        {
            TFormMain w;
            w.show();
            w.pc->setCurrentWidget(w.tsOptions);
            QVERIFY(w.chNotifications->isChecked());  // on by default
            QCOMPARE(w.chNotifications->text(), QString("Notify me when a download or conversion ends"));
            QTest::mouseClick(w.chNotifications, Qt::LeftButton);
            // Written at once, for the download processes started from now on; the rest stays.
            const TIniFile ini(SettingsFile);
            QCOMPARE(Q(ini.ReadString("Main", "Notifications", "")), QString("0"));
            QCOMPARE(Q(ini.ReadString("Main", "AutoClose", "")), QString("1"));
        }
        InitSettings();
        LoadSettings(SettingsFile);
        QVERIFY(!AppSettings.Notifications);
        TFormMain again;
        again.show();
        again.pc->setCurrentWidget(again.tsOptions);
        QVERIFY(!again.chNotifications->isChecked());
        QTest::mouseClick(again.chNotifications, Qt::LeftButton);
        QVERIFY(AppSettings.Notifications);
        QCOMPARE(Q(TIniFile(SettingsFile).ReadString("Main", "Notifications", "")), QString("1"));
    }

    void theLinkPanelIsWholeInBothLanguagesAndAfterAFontChange()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Every link label gets the height it needs, inside its panel, inside the window.
        auto whole = [&] {
            for (QLabel* label : {static_cast<QLabel*>(w.Label1), static_cast<QLabel*>(w.Label3)}) {
                const QRect inPanel(label->mapTo(w.Panel1, QPoint(0, 0)), label->size());
                const QRect inWindow(label->mapTo(&w, QPoint(0, 0)), label->size());
                if (label->height() < label->sizeHint().height() || !w.Panel1->contentsRect().contains(inPanel) ||
                    !w.rect().contains(inWindow))
                    return false;
            }
            const QRect panel(w.Panel1->mapTo(w.tsMain, QPoint(0, 0)), w.Panel1->size());
            return w.tsMain->rect().contains(panel);
        };
        QVERIFY(whole());
        w.cbLanguage->setCurrentIndex(1);
        QVERIFY(whole());

        // A bigger font (the desktop's, set after start): the window measures itself again.
        QFont big = w.font();
        big.setPixelSize(40);
        w.setFont(big);
        QTRY_VERIFY_WITH_TIMEOUT(whole(), 5000);
        w.cbLanguage->setCurrentIndex(0);
        QVERIFY(whole());
    }

    void aboutTabStatesTheLicenceWholeInBothLanguages()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.pc->setCurrentWidget(w.tsAbout);
        // Wrapped lines, every one of them inside its panel, the panel inside the tab.
        auto whole = [&] {
            QLabel* label = w.lblLicence;
            const QRect inPanel(label->mapTo(w.Panel2, QPoint(0, 0)), label->size());
            const QRect panel(w.Panel2->mapTo(w.tsAbout, QPoint(0, 0)), w.Panel2->size());
            return label->isVisible() && label->wordWrap() &&
                   label->height() >= label->heightForWidth(label->width()) &&
                   w.Panel2->contentsRect().contains(inPanel) && w.tsAbout->rect().contains(panel);
        };
        QCOMPARE(w.lblLicence->text(),
                 QString("Brimtale is free software: you can redistribute it and/or modify it under the terms of the "
                         "GNU General Public License, version 3 or later."));
        QVERIFY(whole());

        w.cbLanguage->setCurrentIndex(1);
        QCOMPARE(w.lblLicence->text(),
                 QString("Brimtale jest wolnym oprogramowaniem: możesz je rozpowszechniać i/lub modyfikować na "
                         "warunkach Powszechnej Licencji Publicznej GNU w wersji 3 lub późniejszej."));
        QVERIFY(whole());

        // A bigger font: the window measures itself again and the lines still fit.
        QFont big = w.font();
        big.setPixelSize(30);
        w.setFont(big);
        QTRY_VERIFY_WITH_TIMEOUT(whole(), 5000);
        w.cbLanguage->setCurrentIndex(0);
        QVERIFY(w.lblLicence->text().startsWith("Brimtale is free software"));
        QVERIFY(whole());
    }

    void siteLinks()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        QTest::mouseClick(w.Label1, Qt::LeftButton);
        QTest::mouseClick(w.Label3, Qt::LeftButton);
        // The about tab shows no address that leads nowhere, in either language.
        w.pc->setCurrentWidget(w.tsAbout);
        QVERIFY(!w.lblWww->isVisible());
        w.cbLanguage->setCurrentIndex(1);
        QVERIFY(!w.lblWww->isVisible());
        QCOMPARE(OpenedUrls.size(), size_t(2));
        QCOMPARE(OpenedUrls[0], QUrl("http://www.youtube.com"));
        QCOMPARE(OpenedUrls[1], QUrl("http://www.wrzuta.pl"));

        // Underlined while the mouse is over a link.
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(w.Label1, &enter);
        QVERIFY(w.Label1->font().underline());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.Label1, &leave);
        QVERIFY(!w.Label1->font().underline());
    }
};

int RunMainWindowTests(int argc, char** argv)
{
    TMainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
