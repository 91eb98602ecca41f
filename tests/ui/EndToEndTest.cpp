// SPDX-License-Identifier: GPL-3.0-or-later
// From the address of a page to the file on disk: the dialog's GET resolves a
// page served on loopback, the main window starts the built program as a
// download process of its own, and the file arrives.

#include "support/ProgramRun.h"
#include "UiTestSupport.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ZQ_FileSystem.h"
#include "engine/EngineDownload.h"
#include "support/MediaFixtures.h"
#include "support/TestHttpServer.h"
#include "app/Texts.h"
#include "ui/Main.h"
#include "ui/New.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace {

// True while the process runs (a zombie counts as ended).
bool ProcessRuns(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

} // namespace

class TEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void youTubePageToFile()
    {
        TProgramFolder folder;
        // The built program, copied so that its settings and files stay in the test's folder.
        const std::string exe = folder.Dir.File("brimtale");
        PlaceProgram(BRIMTALE_EXE, exe);
        AppSettings.AutoClose = true;  // the dialog saves it for the download process
        AppSettings.LangPolish = false;

        constexpr std::size_t MediaSize = 300 * 1024;
        std::string media = std::string("\0\0\0\x1C" "ftypmp42\0\0\0\0mp42isom", 24);
        media.resize(MediaSize, 'v');
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        server.Handle("/watch", [&](const testhttp::Request&) {
            testhttp::Response r;
            r.body = "<html><head><title>A clip</title></head><body>" +
                     server.Url("/videoplayback?itag=22&id=0123456789abcdef&k=1") + "\n" +
                     server.Url("/videoplayback?itag=18&id=0123456789abcdef&k=2") + "\n</body></html>";
            return r;
        });
        server.Serve("/videoplayback", media, "video/mp4");

        const std::string saved = ProgramExecutable;
        ProgramExecutable = exe;
        TFormMain w;
        TFormNew* f = w.FormNew();
        f->show();
        f->edURL->setText(Q(server.Url("/watch?v=abc&m=.youtube.")));
        f->edFileName->setText("A clip");
        f->SetDirectoryText(Q(folder.Path() + "/videos"));
        f->rbMP4_720->setChecked(true);
        f->actGetExecute();
        ProgramExecutable = saved;

        QVERIFY2(ShownMessages.empty(), ShownMessages.empty() ? "" : qPrintable(ShownMessages[0].Text));
        QVERIFY(!f->isVisible());
        const std::string out = folder.Path() + "/videos/A clip.mp4";
        QCOMPARE(Q(Job.OutputFile), Q(out));
        QCOMPARE(Job.ExpectedSize, std::int32_t(MediaSize));
        QVERIFY(Job.MediaUrl.find("itag=22") != std::string::npos);
        QCOMPARE(f->edFileName->text(), QString("A clip.mp4"));
        const qint64 pid = w.LastDownloadPid;
        QVERIFY(pid > 0);

        // The download process writes the file and, with Auto close, ends by itself.
        const bool arrived = QTest::qWaitFor([&] { return FileSizeOf(out) == std::int64_t(MediaSize); }, 30000);
        const bool ended = QTest::qWaitFor([&] { return !ProcessRuns(pid); }, 15000);
        if (ProcessRuns(pid))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        QVERIFY2(arrived, qPrintable(QString("size %1").arg(FileSizeOf(out))));
        QVERIFY(TempDir::Read(out) == media);
        QVERIFY(ended);
        QVERIFY(DirectoryExists(folder.Path() + "/videos"));
    }
    // Any other page: the title comes from the page engine, and the download
    // process saves the video through it.
    void otherPageThroughTheEngine()
    {
        TProgramFolder folder;
        const std::string exe = folder.Dir.File("brimtale");
        PlaceProgram(BRIMTALE_EXE, exe);
        AppSettings.AutoClose = true;
        AppSettings.LangPolish = false;
        const std::string clip = fixtures::MakeClip(folder.Dir.File("clip.mp4"), 2);
        QVERIFY(!clip.empty());
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        server.Serve("/clip.mp4", TempDir::Read(clip), "video/mp4");
        server.Serve("/page", "<html><head><title>Holiday</title></head><body><video src=\"/clip.mp4\"></video></body></html>");
        server.Serve("/empty", "<html><head><title>Words</title></head><body>no video</body></html>");

        const std::string saved = ProgramExecutable;
        ProgramExecutable = exe;
        TFormMain w;
        TFormNew* f = w.FormNew();
        f->show();
        f->SetDirectoryText(Q(folder.Path() + "/videos"));

        // A page without media: a clear message, the dialog stays, nothing starts.
        f->edURL->setText(Q(server.Url("/empty")));
        f->edFileName->setText("x");
        QTest::mouseClick(f->btnGET, Qt::LeftButton);
        QCOMPARE(ShownMessages.size(), size_t(1));
        QVERIFY(ShownMessages[0].Text.startsWith(MessageText(TMessageId::NoMediaOnPage, false)));
        QVERIFY(f->isVisible());
        QCOMPARE(w.LastDownloadPid, qint64(0));
        ShownMessages.clear();

        f->edURL->setText(Q(server.Url("/page")));
        QTest::mouseClick(f->btnPastePageTitle, Qt::LeftButton);
        QVERIFY2(f->edFileName->text().startsWith("Holiday") && f->edFileName->text().endsWith(".mp4"),
                 qPrintable(f->edFileName->text()));
        f->edFileName->setText("Holiday.mp4");
        QTest::mouseClick(f->btnGET, Qt::LeftButton);
        ProgramExecutable = saved;

        QVERIFY2(ShownMessages.empty(), ShownMessages.empty() ? "" : qPrintable(ShownMessages[0].Text));
        QVERIFY(!f->isVisible());
        QVERIFY(Job.ThroughEngine);
        QCOMPARE(Q(Job.MediaUrl), Q(server.Url("/page")));
        const std::string out = folder.Path() + "/videos/Holiday.mp4";
        QCOMPARE(Q(Job.OutputFile), Q(out));
        const qint64 pid = w.LastDownloadPid;
        QVERIFY(pid > 0);
        // The file appears under its name when it is whole (with the page's title in it).
        const bool arrived = QTest::qWaitFor([&] { return std::filesystem::exists(out); }, 60000);
        const bool ended = QTest::qWaitFor([&] { return !ProcessRuns(pid); }, 15000);
        if (ProcessRuns(pid))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        QVERIFY(arrived);
        QVERIFY(ended);
        QVERIFY(!std::filesystem::exists(EngineWorkDir(out)));
        QCOMPARE(fixtures::StreamTypes(out), (std::vector<std::string>{"video", "audio"}));
    }
    // A YouTube page whose formats the built-in reading can't find: the page
    // engine's formats decide which buttons are offered.
    void formatButtonsFromTheEngine()
    {
        TProgramFolder folder;
        const std::string clip = fixtures::MakeClip(folder.Dir.File("clip.mp4"), 2, "640x360");
        QVERIFY(!clip.empty());
        QVERIFY(fixtures::MakeDash(clip, folder.Dir.File("dash")));
        testhttp::TestHttpServer server(std::chrono::seconds(90));
        fixtures::ServeFiles(server, "/dash/", folder.Dir.File("dash"));

        TFormMain w;
        TFormNew* f = w.FormNew();
        f->show();
        f->edURL->setText(Q(server.Url("/dash/manifest.mpd?v=abc&m=.youtube.")));
        f->rbMP4_1080->setChecked(true);
        QTest::mouseClick(f->btnCheckFormats, Qt::LeftButton);
        QVERIFY(f->rbMP4_360->isEnabled());
        QVERIFY(f->rbFLV_360->isEnabled());
        for (QRadioButton* rb : {f->rbMP4_1080, f->rbMP4_720, f->rbFLV_480, f->rbFLV_240})
            QVERIFY2(!rb->isEnabled(), qPrintable(rb->objectName()));
        QVERIFY(f->rbMP4_360->isChecked());  // the remembered one is not offered: the first that is
    }
};

int RunEndToEndTests(int argc, char** argv)
{
    TEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "EndToEndTest.moc"
