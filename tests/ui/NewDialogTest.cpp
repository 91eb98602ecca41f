// SPDX-License-Identifier: GPL-3.0-or-later
// The new-download dialog: the checks of GET and their messages, the output
// path, the format probe, the profiles, the stored settings and the directory
// history, paste and dropped files.

#include "UiTestSupport.h"

#include "app/DownloadJob.h"
#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "convert/EncoderCheck.h"
#include "system/ZQ_FileSystem.h"
#include "engine/PageEngine.h"
#include "support/TestHttpServer.h"
#include "ui/Main.h"
#include "ui/New.h"
#include "app/Texts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QToolButton>
#include <QFileSystemModel>
#include <QtTest>

#include <filesystem>

#include <sys/stat.h>

namespace {

const char* const Profiles = "[MAIN]\r\nDefaultVideoBitrate=300k\r\n"
                             "[main]\r\nParams=-not-a-profile\r\n"
                             "[avi]\r\nDisplayName=AVI (XviD)\r\nParams=-i %1 -vcodec mpeg4 %2\r\nEncExt=avi\r\nExt=avi\r\n"
                             "[blank]\r\nDisplayName=Blank\r\nParams=   \r\n"
                             "[noext]\r\nParams=-i %1 -f matroska %2\r\n"
                             "[mp3]\r\nDisplayName=MP3\r\nParams=-i %1 -vn %2\r\nExt=mp3\r\n";

void WriteProfiles(const TProgramFolder& folder)
{
    AppSettings.ProfilesFile = folder.Dir.Write("bmt_encoder_profiles.ini", Profiles);
}

// A page that offers the given formats, each with a stream address on loopback.
std::string StreamPage(const testhttp::TestHttpServer& server, const std::vector<int>& formats)
{
    std::string page = "<html><head><title>Clip</title></head><body><script>var map = \"";
    for (int f : formats)
        page += server.Url("/videoplayback?itag=" + std::to_string(f) + "&id=0123456789abcdefXYZ&sig=1") + "\n";
    return page + "\";</script></body></html>";
}

std::string Mp4Bytes()
{
    return std::string("\0\0\0\x1C" "ftypmp42\0\0\0\0mp42isom", 24) + std::string(4000, 'x');
}

int EnabledMask(const TFormNew& f)
{
    int mask = 0;
    for (int i = 0; i < 6; ++i)
        if (f.FormatButton(i)->isEnabled())
            mask |= 1 << i;
    return mask;
}

// Another page engine (or none: "") while it lives.
struct TEngineOverride {
    explicit TEngineOverride(const std::string& engine)
    {
        PageEngineOverride = engine;
        ForgetPageLookUps();
    }
    ~TEngineOverride()
    {
        PageEngineOverride.reset();
        ForgetPageLookUps();
    }
    TEngineOverride(const TEngineOverride&) = delete;
    TEngineOverride& operator=(const TEngineOverride&) = delete;
};

} // namespace

class TNewDialogTest : public QObject {
    Q_OBJECT
private slots:
    void getChecksInOrder_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    void getChecksInOrder()
    {
        QFETCH(bool, polish);
        TProgramFolder folder;
        AppSettings.LangPolish = polish;
        TFormNew f(nullptr);
        f.show();
        const std::string input = folder.Dir.Write("clip.avi", "data");
        auto expect = [&](const std::string& text) {
            ShownMessages.clear();
            f.actGetExecute();
            QCOMPARE(ShownMessages.size(), size_t(1));
            QCOMPARE(ShownMessages[0].Title, QString("Brimtale 1.6"));
            QCOMPARE(ShownMessages[0].Text, Q(text));
            QCOMPARE(int(ShownMessages[0].Kind), int(TMsgKind::Warning));
            QVERIFY(f.isVisible());
        };

        // 1. A local file without conversion, before anything else is looked at.
        f.edURL->setText(Q(input));
        f.edFileName->clear();
        f.SetDirectoryText(QString());
        expect(MessageText(TMessageId::NoProfile, polish));
        // 2. Nothing but blanks.
        f.edURL->setText(" \t ");
        expect(MessageText(TMessageId::NoUrl, polish));
        // 3. Neither an address nor an existing file.
        f.edURL->setText("video/1");
        expect(MessageText(TMessageId::InvalidUrl, polish));
        // 4. A directory that can't be made (its parent is a file); Job is cleared first.
        f.chConvert->setChecked(true);
        f.edURL->setText(Q(input));
        f.SetDirectoryText(Q(input + "/sub"));
        Job.Switch = "-get";
        Job.OutputFile = "/tmp/x";
        expect(CantCreateDirMessage(input + "/sub", polish));
        QVERIFY(Job == TDownloadJob{});
        // 5. No file name; the trimmed name is written back.
        const std::string out = folder.Dir.File("made/with/parents");
        f.SetDirectoryText(Q(out));
        f.edFileName->setText("   ");
        expect(MessageText(TMessageId::NoFileName, polish));
        QCOMPARE(f.edFileName->text(), QString());
        QVERIFY(DirectoryExists(out));
        // A name that is no file name at all.
        f.edFileName->setText(" .. ");
        expect(MessageText(TMessageId::NoFileName, polish));
        QVERIFY(Job.Switch.empty());
    }

    void keysCloseTheDialogWithTheMainWindowShown()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        TFormNew* f = w.FormNew();
        for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_N)}) {
            f->show();
            f->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(f));
            QVERIFY(w.isVisible() && f->isVisible());
            QTest::keyClick(f->edURL, key[0].key(), key[0].keyboardModifiers());
            QVERIFY2(!f->isVisible(), qPrintable(key.toString()));
            QVERIFY(w.isVisible());
        }
    }

    void aProfileWhoseEncoderIsMissingIsDisabledAndNeverUsed()
    {
        TProgramFolder folder;
        // The encoder beside the program lists no libx264.
        const std::string ffmpeg = folder.Dir.Write(
            "ffmpeg", "#!/bin/sh\nprintf ' ------\\n V....D mpeg4  MPEG-4\\n A....D aac  AAC\\n'\n");
        ::chmod(ffmpeg.c_str(), 0755);
        AppSettings.ProfilesFile = folder.Dir.Write(
            "bmt_encoder_profiles.ini", "[h264]\r\nDisplayName=H.264\r\nParams=-i %1 -c:v libx264 %2\r\nExt=mp4\r\n"
                                        "[avi]\r\nDisplayName=AVI\r\nParams=-i %1 -c:v mpeg4 %2\r\nExt=avi\r\n");
        // The stored choice is the unusable one.
        folder.Dir.Write("bmt.ini", "[Main]\r\nProfile=0\r\nConvert=1\r\n");
        for (bool polish : {false, true}) {
            AppSettings.LangPolish = polish;
            TFormNew f(nullptr);
            auto* model = qobject_cast<QStandardItemModel*>(f.cbProfiles->model());
            QVERIFY(model);
            QVERIFY(!model->item(0)->isEnabled());
            QVERIFY(model->item(1)->isEnabled());
            QCOMPARE(model->item(0)->toolTip(), Q(MissingEncoderText("libx264", polish)));
            QCOMPARE(f.cbProfiles->currentIndex(), 1);
            QVERIFY(!f.ProfileUsable(0));
            f.cbProfiles->setCurrentIndex(0); // even when forced, no job gets it
            TDownloadJob job;
            f.chConvert->setChecked(true);
            f.FillEncParams(job);
            QCOMPARE(Q(job.EncoderParams), QString("-"));
        }
        AppSettings.LangPolish = false;
    }

    void buttonsKeepTheirTextsAtTheNarrowestWidth()
    {
        TProgramFolder folder;
        for (bool polish : {false, true}) {
            AppSettings.LangPolish = polish;
            TFormNew f(nullptr);
            f.show();
            f.edURL->setText("http://www.youtube.com/watch?v=x");  // the formats are shown
            f.resize(1, f.height());
            QCoreApplication::processEvents();
            for (QPushButton* b : {f.btnCheckFormats, f.btnGET, f.btnClose, f.btnPastePageTitle})
                QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
        }
        AppSettings.LangPolish = false;
    }

    void aRefusedJobIsToldAboveTheDialogWhichStaysUsable()
    {
        TProgramFolder folder;
        TFormMain w;
        w.show();
        TFormNew* f = w.FormNew();
        f->show();
        f->chConvert->setChecked(true);
        // A local file that is gone by the time the job is checked.
        const std::string input = folder.Dir.Write("gone.avi", "x");
        f->edURL->setText(Q(input));
        f->edFileName->setText("out.avi");
        f->SetDirectoryText(Q(folder.Path()));
        ShownMessages.clear();
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = folder.Dir.File("missing.avi");
        job.OutputFile = folder.Dir.File("out.avi");
        QVERIFY(!w.GetFile(job));
        QCOMPARE(ShownMessages.size(), size_t(1));
        QCOMPARE(ShownMessages[0].Owner, static_cast<QWidget*>(f));
        QVERIFY(f->isVisible() && f->isEnabled() && f->actGet->isEnabled());
    }

    void aRealBoxOfTheDialogIsKeptAboveIt()
    {
        TProgramFolder folder;
        TFormNew f(nullptr);
        f.show();
        // The real box this time, answered by a timer as a user would.
        SetDetailedMessageHook({});
        const QByteArray autoAnswer = qgetenv("BRIMTALE_AUTO_ANSWER");
        qunsetenv("BRIMTALE_AUTO_ANSWER");
        bool onTop = false;
        QWidget* parent = nullptr;
        QTimer::singleShot(50, &f, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box)
                return;
            onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            parent = box->parentWidget();
            QTest::keyClick(box, Qt::Key_Return);
        });
        f.edURL->setText("   ");
        f.actGetExecute();
        qputenv("BRIMTALE_AUTO_ANSWER", autoAnswer);
        RecordMessages();
        QVERIFY(onTop);
        QCOMPARE(parent, static_cast<QWidget*>(&f));
        QVERIFY(f.isVisible() && f.actGet->isEnabled());
    }

    void aStalledServerNeverFreezesTheDialog_data()
    {
        QTest::addColumn<bool>("trickle");
        QTest::newRow("silent server") << false;
        QTest::newRow("trickling server") << true;
    }

    void aStalledServerNeverFreezesTheDialog()
    {
        QFETCH(bool, trickle);
        TProgramFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Handle("/watch", [trickle](const testhttp::Request&) {
            testhttp::Response r;
            r.silent = !trickle;
            r.body = "<html><head><title>" + std::string(5000, 'x');
            r.trickleMs = trickle ? 100 : 0;
            return r;
        });
        const int savedLimit = TFormNew::NetworkStepSeconds;
        TFormNew::NetworkStepSeconds = 2;
        TFormNew f(nullptr);
        f.show();
        f.edURL->setText(Q(server.Url("/watch?v=abc&m=.youtube.")));

        // Left alone, the title step ends at its limit; the dialog was painted meanwhile.
        int paints = 0;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, &f, [&] {
            if (f.Busy()) {
                f.lblStatus->grab();
                ++paints;
            }
        });
        watcher.start(100);
        QElapsedTimer step;
        step.start();
        f.actPageTitleExecute();
        QVERIFY2(step.elapsed() < 6000, qPrintable(QString::number(step.elapsed())));
        QVERIFY(paints >= 5);
        QVERIFY(!f.Busy() && f.actGet->isEnabled() && f.lblStatus->isHidden());

        // While the probe waits, the status says so, GET is off, and Esc ends it.
        TFormNew::NetworkStepSeconds = 60;
        QElapsedTimer sinceEsc;
        QString status;
        bool getWasOff = false;
        QTimer user;
        connect(&user, &QTimer::timeout, &f, [&] {
            if (f.Busy() && !sinceEsc.isValid()) {
                status = f.lblStatus->text();
                getWasOff = !f.btnGET->isEnabled();
                sinceEsc.start();
                QTest::keyClick(&f, Qt::Key_Escape);
            }
        });
        user.start(300);
        f.actCheckYoutubeFormatsExecute();
        TFormNew::NetworkStepSeconds = savedLimit;
        QVERIFY(sinceEsc.isValid());
        QVERIFY2(sinceEsc.elapsed() < 1000, qPrintable(QString::number(sinceEsc.elapsed())));
        QCOMPARE(status, QString::fromUtf8(NewTexts(false).StepFormats));
        QVERIFY(getWasOff);
        QVERIFY(!f.isVisible());
    }

    void homeFolderAndRelativeDirectories()
    {
        TProgramFolder folder;
        WriteProfiles(folder);
        const std::string input = folder.Dir.Write("clip.avi", "data");
        TFormNew f(nullptr);
        f.chConvert->setChecked(true);
        f.cbProfiles->setCurrentIndex(0);
        for (const auto& [typed, expected] : std::vector<std::pair<std::string, std::string>>{
                 {"~", TestHome()}, {"~/Videos/new", TestHome() + "/Videos/new"}, {"relative/dir", TestHome() + "/relative/dir"}}) {
            f.show();
            f.edURL->setText(Q(input));
            f.SetDirectoryText(Q(typed));
            f.edFileName->setText("clip.mkv");
            ShownMessages.clear();
            f.actGetExecute();
            QVERIFY(ShownMessages.empty());
            QCOMPARE(Q(ExtractFileDir(Job.OutputFile)), Q(expected));
            QVERIFY(DirectoryExists(expected));
            QCOMPARE(Q(AppSettings.LastDir), Q(expected));
        }
        QVERIFY(!DirectoryExists(QDir::currentPath().toStdString() + "/~"));
    }

    void outputPathRules()
    {
        TProgramFolder folder;
        WriteProfiles(folder);
        TFormNew f(nullptr);
        f.chConvert->setChecked(true);
        f.cbProfiles->setCurrentIndex(0);  // AVI
        const std::string in = folder.Dir.File("in");
        ForceDirectories(in);
        const std::string input = folder.Dir.Write("in/clip.avi", "data");
        const std::string out = folder.Path() + "/out";

        auto get = [&](const std::string& dir, const QString& name) {
            f.show();
            f.edURL->setText(Q(input));
            f.SetDirectoryText(Q(dir));
            f.edFileName->setText(name);
            ShownMessages.clear();
            ClearJob(Job);
            f.actGetExecute();
            QVERIFY(ShownMessages.empty());
            QVERIFY(!f.isVisible());
            QCOMPARE(Q(Job.Switch), QString("-get"));
            QCOMPARE(Job.Source, input);
            QVERIFY(Job.MediaUrl.empty());
            QCOMPARE(Job.ExpectedSize, 0);
            QCOMPARE(Q(Job.EncoderExt), QString("avi"));
            QVERIFY(IsJobValid(Job));
        };

        // A trailing "/" and a doubled "/" give single ones; the directory is made.
        get(out + "/", "clip.mp4");
        QCOMPARE(Q(Job.OutputFile), Q(out + "/clip.mp4"));
        QVERIFY(DirectoryExists(out));
        get(folder.Path() + "//deep/er/", "clip.mp4");
        QCOMPARE(Q(Job.OutputFile), Q(folder.Path() + "/deep/er/clip.mp4"));

        // An existing file gets the first free numbered name; it is never overwritten.
        folder.Dir.Write("out/clip.mp4", "old");
        get(out, "clip.mp4");
        QCOMPARE(Q(Job.OutputFile), Q(out + "/clip_01.mp4"));
        QCOMPARE(Q(TempDir::Read(out + "/clip.mp4")), QString("old"));

        // The input's own name in its own directory: never the input itself.
        get(in, "clip.avi");
        QVERIFY(Job.OutputFile != input);
        QCOMPARE(Q(Job.OutputFile), Q(in + "/clip_01.avi"));

        // A "/" in the name can't lead out of the chosen directory.
        get(out, "../../escape.mp4");
        QCOMPARE(Q(ExtractFileDir(Job.OutputFile)), Q(out));
        QCOMPARE(f.edFileName->text(), QString(".._.._escape.mp4"));
    }

    void formatProbe()
    {
        TProgramFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        std::vector<int> offered = {18, 34};
        server.Handle("/watch", [&](const testhttp::Request&) {
            testhttp::Response r;
            r.body = StreamPage(server, offered);
            return r;
        });
        server.Serve("/videoplayback", Mp4Bytes(), "video/mp4");

        TFormNew f(nullptr);
        QVERIFY(f.rbMP4_720->isChecked());
        QCOMPARE(EnabledMask(f), 0x3F);

        // An empty address changes nothing.
        f.edURL->setText("   ");
        f.actCheckYoutubeFormatsExecute();
        QCOMPARE(EnabledMask(f), 0x3F);
        QVERIFY(server.Requests().empty());

        // The chosen 720p isn't offered: the first enabled button is taken.
        f.edURL->setText(Q(" " + server.Url("/watch?v=abc&m=.youtube.") + " "));
        f.actCheckYoutubeFormatsExecute();
        QCOMPARE(EnabledMask(f), (1 << 2) | (1 << 4));  // MP4 360p, FLV 360p
        QVERIFY(f.rbMP4_360->isChecked());
        QCOMPARE(f.ChosenFormatNumber(), 18);
        QVERIFY(f.btnCheckFormats->isEnabled());
        QVERIFY(f.actGet->isEnabled() && f.btnGET->isEnabled());
        int pageFetches = 0;
        for (const auto& r : server.Requests())
            pageFetches += r.path == "/watch" && r.query.find("fmt=") != std::string::npos;
        QCOMPARE(pageFetches, 6);

        // A choice that stays offered stays.
        f.rbFLV_360->setChecked(true);
        f.actCheckYoutubeFormatsExecute();
        QVERIFY(f.rbFLV_360->isChecked());
        QCOMPARE(f.ChosenFormatNumber(), 34);

        // Only FLV 360p offered: it becomes checked.
        offered = {34};
        f.rbMP4_1080->setEnabled(true);
        f.rbMP4_1080->setChecked(true);
        f.actCheckYoutubeFormatsExecute();
        QCOMPARE(EnabledMask(f), 1 << 4);
        QVERIFY(f.rbFLV_360->isChecked());

        // Nothing offered: everything disabled, and GET asks for format 5.
        offered = {};
        f.actCheckYoutubeFormatsExecute();
        QCOMPARE(EnabledMask(f), 0);
        QVERIFY(f.rbFLV_360->isChecked());
        QCOMPARE(f.ChosenFormatNumber(), 5);
        QCOMPARE(f.CheckedYTRadio(), f.rbFLV_360);
        QVERIFY(f.actGet->isEnabled());
    }

    void expectedSizeOnlyWhenItFits()
    {
        TProgramFolder folder;
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        std::string announced;
        server.Handle("/watch", [&](const testhttp::Request&) {
            testhttp::Response r;
            r.body = server.Url("/videoplayback?itag=22&id=0123456789abcdef&len=" + announced) + "\n";
            return r;
        });
        server.Handle("/videoplayback", [](const testhttp::Request& req) {
            testhttp::Response r;
            r.body = Mp4Bytes();
            r.announcedLength = std::stoll(req.query.substr(req.query.find("len=") + 4));
            return r;
        });
        TFormNew f(nullptr);
        // Sizes that would turn negative or wrap around in 32 bits are unknown (0).
        const std::vector<std::pair<std::int64_t, std::int32_t>> cases = {
            {4096, 4096}, {2147483647, 2147483647}, {2147483648LL, 0}, {4294967396LL, 0}, {5000000000LL, 0}};
        for (const auto& [size, expected] : cases) {
            announced = std::to_string(size);
            f.show();
            f.edURL->setText(Q(server.Url("/watch?v=abc&m=.youtube.")));
            f.edFileName->setText("clip");
            f.SetDirectoryText(Q(folder.Path()));
            ShownMessages.clear();
            f.actGetExecute();
            QVERIFY(ShownMessages.empty());
            QVERIFY(Job.MediaUrl.find("len=" + announced) != std::string::npos);
            QCOMPARE(Q(ExtractFileName(Job.OutputFile)), QString("clip.mp4"));
            QCOMPARE(Job.ExpectedSize, expected);
            // The job took the name (an empty file holds it); the next case wants it again.
            QCOMPARE(QFileInfo(Q(Job.OutputFile)).size(), qint64(0));
            QFile::remove(Q(Job.OutputFile));
        }
    }

    void profileReactions()
    {
        TProgramFolder folder;
        WriteProfiles(folder);
        TFormNew f(nullptr);
        QCOMPARE(f.cbProfiles->count(), 3);
        QCOMPARE(f.cbProfiles->itemText(0), QString("AVI (XviD)"));
        QCOMPARE(f.cbProfiles->itemText(1), QString("noext"));  // no DisplayName: the section's name
        QCOMPARE(f.cbProfiles->itemText(2), QString("MP3"));
        QCOMPARE(f.cbProfiles->currentIndex(), 0);
        QVERIFY(!f.cbProfiles->isEnabled() && !f.chDelete->isEnabled());

        // Conversion off: the profile does not touch the name.
        f.edFileName->setText("clip.flv");
        f.cbProfilesChange();
        QCOMPARE(f.edFileName->text(), QString("clip.flv"));

        // Switched on: the profile's extension, and the controls come alive.
        f.chConvert->setChecked(true);
        f.chConvertClick();
        QCOMPARE(f.edFileName->text(), QString("clip.avi"));
        QVERIFY(f.cbProfiles->isEnabled() && f.chDelete->isEnabled());
        f.edFileName->setText("name without dot");
        f.cbProfilesChange();
        QCOMPARE(f.edFileName->text(), QString("name without dot.avi"));
        // A profile without "Ext" leaves the name.
        f.cbProfiles->setCurrentIndex(1);
        f.edFileName->setText("clip.flv");
        f.cbProfilesChange();
        QCOMPARE(f.edFileName->text(), QString("clip.flv"));
        QCOMPARE(Q(f.GetExt()), QString("-"));
        // Quiet while code changes the controls.
        f.cbProfiles->setCurrentIndex(2);
        {
            TUpdatingControls quiet;
            f.cbProfilesChange();
        }
        QCOMPARE(f.edFileName->text(), QString("clip.flv"));

        TDownloadJob job;
        f.FillEncParams(job);
        QCOMPARE(Q(job.EncoderParams), QString("-i %1 -vn %2"));
        QCOMPARE(Q(job.EncoderExt), QString("-"));
        QCOMPARE(Q(job.TargetExt), QString("mp3"));

        // Switched off: the name gets the extension of what the site delivers.
        auto switchOff = [&](const QString& url, QRadioButton* format, const QString& name) {
            f.chConvert->setChecked(true);
            f.edURL->setText(url);
            format->setChecked(true);
            f.edFileName->setText(name);
            f.chConvert->setChecked(false);
            f.chConvertClick();
            return f.edFileName->text();
        };
        QCOMPARE(switchOff("http://www.youtube.com/watch?v=x", f.rbMP4_720, "clip.avi"), QString("clip.mp4"));
        QCOMPARE(switchOff("http://www.youtube.com/watch?v=x", f.rbFLV_240, " clip.avi "), QString("clip.flv"));
        QCOMPARE(switchOff("http://www.wrzuta.pl/film/abc/x", f.rbMP4_720, "clip.avi"), QString("clip.flv"));
        QCOMPARE(switchOff("http://127.0.0.1:9/other", f.rbMP4_720, "clip.avi"), QString("clip.avi"));
        QCOMPARE(switchOff("http://www.youtube.com/watch?v=x", f.rbMP4_720, "  "), QString("  "));
        QVERIFY(!f.cbProfiles->isEnabled() && !f.chDelete->isEnabled());

        f.FillEncParams(job);
        QCOMPARE(Q(job.EncoderParams + job.EncoderExt + job.TargetExt), QString("---"));
        // On, but nothing selected.
        f.chConvert->setChecked(true);
        f.cbProfiles->setCurrentIndex(-1);
        f.FillEncParams(job);
        QCOMPARE(Q(job.EncoderParams + job.EncoderExt + job.TargetExt), QString("---"));
        QVERIFY(f.GetExt().empty());
    }

    void storedSettings()
    {
        TProgramFolder folder;
        WriteProfiles(folder);
        folder.Dir.Write("bmt.ini", "[MAIN]\r\nProfile=7\r\nAutoClose=1\r\nConvert=1\r\nYouTubeFormat=mp4_1080\r\n");
        {
            TFormNew f(nullptr);
            // An index beyond the list: no selection, then the first profile.
            QCOMPARE(f.cbProfiles->currentIndex(), 0);
            QVERIFY(f.chConvert->isChecked() && f.cbProfiles->isEnabled());
            // Not one of the six values exactly (letter case): 240p.
            QVERIFY(f.rbFLV_240->isChecked());
            QVERIFY(!f.chDelete->isChecked());

            f.show();
            f.rbFLV_480->setChecked(true);
            f.cbProfiles->setCurrentIndex(2);
            f.chDelete->setChecked(true);
            f.close();
        }
        const TIniFile ini(SettingsFile);
        QCOMPARE(ini.ReadInteger("Main", "Profile", -5), 2);
        QVERIFY(ini.ReadBool("Main", "Convert", false));
        QVERIFY(ini.ReadBool("Main", "DeleteInputAfterConversion", false));
        QCOMPARE(Q(ini.ReadString("Main", "YouTubeFormat", "")), QString("FLV_480"));
        QCOMPARE(ini.Sections().size(), size_t(1));
        QCOMPARE(Q(ini.ReadString("Main", "AutoClose", "")), QString("1"));

        // Read back as written.
        TFormNew again(nullptr);
        QCOMPARE(again.cbProfiles->currentIndex(), 2);
        QVERIFY(again.rbFLV_480->isChecked() && again.chDelete->isChecked());
    }

    void directoryHistory()
    {
        TProgramFolder folder;
        std::string lines;
        for (int i = 0; i < 4000; ++i) {
            lines += "/videos/dir" + std::to_string(i) + "\r\n";
            if (i % 100 == 0)
                lines += "\r\n   \t \n";
        }
        AppSettings.DirListFile = folder.Dir.Write("history.txt", lines);
        AppSettings.LastDir = folder.Path();
        TFormNew f(nullptr);
        QCOMPARE(f.cbDirectory->count(), 4000);
        QCOMPARE(f.cbDirectory->itemText(0), QString("/videos/dir0"));
        QCOMPARE(f.cbDirectory->currentText(), Q(folder.Path()));

        // Same directory in other letters, with "/" or "/." at the end, or blank: nothing.
        f.AddDir(" /VIDEOS/DIR17/ ");
        f.AddDir("/videos/Dir3999/.");
        f.AddDir("   ");
        QCOMPARE(f.cbDirectory->count(), 4000);
        // A new one goes on top without a trailing "/"; the field keeps its text.
        f.AddDir("/wideo/Źródła/");
        QCOMPARE(f.cbDirectory->count(), 4001);
        QCOMPARE(f.cbDirectory->itemText(0), QString("/wideo/Źródła"));
        QCOMPARE(f.cbDirectory->currentText(), Q(folder.Path()));
        // Upper-casing covers letters beyond ASCII.
        f.AddDir("/WIDEO/ŹRÓDŁA");
        QCOMPARE(f.cbDirectory->count(), 4001);

        // Picking a folder that is deeper in the list selects that entry.
        const std::string picked = folder.Dir.File("Picked");
        ForceDirectories(picked);
        f.AddDir(Q(picked));
        for (int i = 0; i < 3; ++i)
            f.AddDir(Q("/more/" + std::to_string(i)));
        QString askedTitle, askedStart;
        f.PickFolder = [&](const QString& title, const QString& start, QWidget*) {
            askedTitle = title;
            askedStart = start;
            return Q(picked + "/");
        };
        f.SetDirectoryText("/does/not/exist");
        f.actChangeDirectoryExecute();
        QCOMPARE(askedTitle, QString("Select folder"));
        QCOMPARE(askedStart, Q(AppDir));
        QCOMPARE(f.cbDirectory->count(), 4005);
        QCOMPARE(f.cbDirectory->currentIndex(), 3);
        QCOMPARE(f.cbDirectory->currentText(), Q(picked));
        // Cancelled: the directory stays.
        f.PickFolder = [](const QString&, const QString&, QWidget*) { return QString(); };
        f.actChangeDirectoryExecute();
        QCOMPARE(f.cbDirectory->currentText(), Q(picked));

        // Closing writes the list back and remembers the directory.
        f.show();
        f.close();
        QCOMPARE(Q(AppSettings.LastDir), Q(picked));
        const std::vector<std::string> saved = LoadDirList(AppSettings.DirListFile);
        QCOMPARE(saved.size(), size_t(4005));
        QCOMPARE(Q(saved[3]), Q(picked));
    }

    void emptyHistoryTakesTheDirectoryOnClose()
    {
        TProgramFolder folder;
        AppSettings.DirListFile = folder.Dir.File("history.txt");
        TFormNew f(nullptr);
        QCOMPARE(f.cbDirectory->count(), 0);
        f.SetDirectoryText(Q(folder.Path() + "/"));
        f.show();
        f.close();
        QVERIFY(LoadDirList(AppSettings.DirListFile) == std::vector<std::string>{folder.Path()});
        QCOMPARE(Q(AppSettings.LastDir), Q(folder.Path()));
    }

    void pasteTakesTheFirstLine()
    {
        TProgramFolder folder;
        TFormNew f(nullptr);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText("http://www.youtube.com/watch?v=1 \r\nsecond line");
        f.actPasteUrlExecute();
        QCOMPARE(f.edURL->text(), QString("http://www.youtube.com/watch?v=1 "));
        // 200 bytes at most, never half a letter: "ł" takes bytes 200 and 201.
        clipboard->setText(QString(199, 'a') + QString::fromUtf8("łb\nc"));
        f.actPasteUrlExecute();
        QCOMPARE(f.edURL->text(), QString(199, 'a'));
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        clipboard->setImage(image);
        f.actPasteUrlExecute();
        QCOMPARE(f.edURL->text(), QString());
    }

    void droppedFiles()
    {
        TProgramFolder folder;
        WriteProfiles(folder);
        TFormNew f(nullptr);
        f.chConvert->setChecked(true);
        f.chConvertClick();
        const std::string first = folder.Dir.Write("first.mkv", "x");
        const std::string second = folder.Dir.Write("second.mkv", "x");
        const int before = f.cbDirectory->count();

        // A missing first file: nothing happens.
        SendDrop(&f, {QUrl::fromLocalFile(Q(folder.Dir.File("missing.mkv"))), QUrl::fromLocalFile(Q(second))});
        QVERIFY(f.edURL->text().isEmpty());

        // Not a local file: skipped; the first local file counts.
        SendDrop(&f, {QUrl("http://127.0.0.1:9/x.flv"), QUrl::fromLocalFile(Q(first)), QUrl::fromLocalFile(Q(second))});
        QCOMPARE(f.edURL->text(), Q(first));
        QCOMPARE(f.edFileName->text(), QString("first.avi"));  // the profile's extension
        QCOMPARE(f.cbDirectory->currentText(), Q(folder.Path()));
        QCOMPARE(f.cbDirectory->count(), before + 1);
        QCOMPARE(f.cbDirectory->itemText(0), Q(folder.Path()));

        // Dropped on the address field: the same, not the file's address as text.
        SendDrop(f.edURL, {QUrl::fromLocalFile(Q(second))});
        QCOMPARE(f.edURL->text(), Q(second));
        QCOMPARE(f.edFileName->text(), QString("second.avi"));

        // The file dialog does the same.
        QString filter;
        f.PickVideoFile = [&](QWidget*, const QString& given) {
            filter = given;
            return Q(second);
        };
        f.btnBrowseFileClick();
        QCOMPARE(f.edURL->text(), Q(second));
        QVERIFY(filter.startsWith("All supported video files (*.avi *.divx"));
        QCOMPARE(f.cbDirectory->count(), before + 1);
    }

    void aPageWithoutMediaIsToldAtOnceInOneLine_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    void aPageWithoutMediaIsToldAtOnceInOneLine()
    {
        QFETCH(bool, polish);
        TProgramFolder folder;
        WriteProfiles(folder);
        AppSettings.LangPolish = polish;
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        ForgetPageLookUps();
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Serve("/empty", "<html><head><title>Nothing here</title></head><body>text only</body></html>");
        TFormMain w;
        w.show();
        TFormNew* f = w.FormNew();
        // Conversion on: an empty name must not become a bare extension.
        f->chConvert->setChecked(true);
        f->chConvertClick();
        f->edFileName->clear();

        auto openWithCtrlN = [&](const std::string& address) {
            if (f->isVisible())
                QTest::keyClick(f, Qt::Key_Escape);
            QVERIFY(!f->isVisible());
            QGuiApplication::clipboard()->setText(Q(address));
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
            QVERIFY(f->isVisible());
            QCOMPARE(f->edURL->text(), Q(address));
        };
        auto pressGet = [&] {
            ShownMessages.clear();
            QTest::mouseClick(f->btnGET, Qt::LeftButton);
            return ShownMessages.size() == 1 ? ShownMessages[0].Text
                                             : QString("%1 messages").arg(ShownMessages.size());
        };

        // A page with nothing to download: said at once, in the status line.
        openWithCtrlN(server.Url("/empty"));
        QVERIFY(f->lblStatus->isVisible());
        QCOMPARE(f->lblStatus->text(), QString::fromUtf8(MessageText(TMessageId::NoMediaOnPage, polish)));
        QCOMPARE(f->edFileName->text(), QString());
        // GET says the same, not that a file name is missing.
        const QString told = pressGet();
        QVERIFY2(told.startsWith(QString::fromUtf8(MessageText(TMessageId::NoMediaOnPage, polish))), qPrintable(told));
        QVERIFY(!told.contains("Traceback"));
        QVERIFY(f->isVisible());

        // A page that can't be reached: one line that says so, no engine output.
        const std::string closed = testhttp::ClosedPortUrl("/gone");
        openWithCtrlN(closed);
        QCOMPARE(f->lblStatus->text(), QString::fromUtf8(MessageText(TMessageId::PageUnreachable, polish)));
        QCOMPARE(f->edFileName->text(), QString());
        QCOMPARE(pressGet(), QString::fromUtf8(MessageText(TMessageId::PageUnreachable, polish)));
        // Even with a name typed, GET says only that.
        QTest::keyClicks(f->edFileName, "clip");
        QCOMPARE(pressGet(), QString::fromUtf8(MessageText(TMessageId::PageUnreachable, polish)));

        // Another address: the line goes.
        f->edURL->selectAll();
        QTest::keyClicks(f->edURL, "http://www.youtube.com/watch?v=x");
        QVERIFY(f->lblStatus->isHidden());
        QVERIFY(f->Note().isEmpty());
        AppSettings.LangPolish = false;
    }

    void aServersErrorAnswerIsToldInTheProgramsWords_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    // What the user sees of an address the server answers with an error, or
    // of a file that is no media: the program's words in the status line and
    // in GET's message; the engine's own line only in the line's tooltip and
    // the message's details.
    void aServersErrorAnswerIsToldInTheProgramsWords()
    {
        QFETCH(bool, polish);
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        TProgramFolder folder;
        AppSettings.LangPolish = polish;
        AppSettings.LastDir = folder.Dir.File("videos");
        ForgetPageLookUps();
        testhttp::TestHttpServer server(std::chrono::seconds(120));
        testhttp::ServeRefusalsAndAPlainFile(server);
        TFormNew f(nullptr);
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        const auto typeAddress = [&](const std::string& url) {
            f.edURL->clear();
            QTest::keyClicks(f.edURL, Q(url));
            f.edFileName->clear();
        };
        const auto pressGet = [&] {
            ShownMessages.clear();
            QTest::mouseClick(f.btnGET, Qt::LeftButton);
            return ShownMessages.size() == 1 ? ShownMessages[0] : TShownMessage{};
        };
        const auto noEngineText = [](const QString& text) {
            for (const char* engines : {"report", "yt-dlp", "HTTP Error", "[generic]", "Invalid data"})
                if (text.contains(QString::fromUtf8(engines)))
                    return false;
            return true;
        };

        // A page that is not there: said at once in the status line, and again by GET.
        const QString notThere = polish ? QString::fromUtf8("Serwer podaje, że ten adres nie istnieje (404).")
                                        : QString("The server says this address does not exist (404).");
        typeAddress(server.Url("/missing"));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.lblStatus->text(), notThere, 60000);
        QVERIFY(f.lblStatus->isVisible());
        QVERIFY2(f.lblStatus->toolTip().contains("HTTP Error 404"), qPrintable(f.lblStatus->toolTip()));
        TShownMessage told = pressGet();
        QCOMPARE(told.Text, notThere);
        QVERIFY2(told.Details.contains("HTTP Error 404"), qPrintable(told.Details));
        QVERIFY(f.isVisible());

        // Refused, failing, a file that is no media: GET with a name typed.
        struct TCase {
            const char* Path;
            const char* English;
            const char* Polish;
            const char* EngineLine;  // nullptr: the engine is not asked
        };
        const TCase cases[] = {
            {"/status403", "The server refused access (403).", "Serwer odmówił dostępu (403).", "HTTP Error 403"},
            {"/status500", "The server failed (500).", "Wystąpił błąd serwera (500).", "HTTP Error 500"},
            {"/files/data.bin", "This address gives a file that is no video or music.",
             "Pod tym adresem jest plik, który nie jest filmem ani muzyką.", nullptr},
        };
        for (const TCase& c : cases) {
            typeAddress(server.Url(c.Path));
            QTest::keyClicks(f.edFileName, "clip");
            told = pressGet();
            // An engine that may be the cause is offered an update below it.
            const QString said = QString::fromUtf8(polish ? c.Polish : c.English);
            QVERIFY2(told.Text == said || (told.Kind == TMsgKind::Question && told.Text.startsWith(said + "\n\n")),
                     qPrintable(told.Text));
            QVERIFY2(noEngineText(told.Text), qPrintable(told.Text));
            if (c.EngineLine)
                QVERIFY2(told.Details.contains(c.EngineLine), qPrintable(told.Details));
            else
                QVERIFY(told.Details.isEmpty());
            QVERIFY(f.isVisible());
        }

        // The real box carries the engine's line as its details.
        SetDetailedMessageHook({});
        const QByteArray autoAnswer = qgetenv("BRIMTALE_AUTO_ANSWER");
        qunsetenv("BRIMTALE_AUTO_ANSWER");
        QString boxText;
        QString boxDetails;
        // Answered as a user would, once the box is there (the look-up comes first).
        QTimer answer;
        connect(&answer, &QTimer::timeout, &f, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            answer.stop();
            boxText = box->text();
            boxDetails = box->detailedText();
            QTest::keyClick(box, Qt::Key_Return);
        });
        answer.start(50);
        typeAddress(server.Url("/status500"));
        QTest::keyClicks(f.edFileName, "clip");
        QTest::mouseClick(f.btnGET, Qt::LeftButton);
        qputenv("BRIMTALE_AUTO_ANSWER", autoAnswer);
        RecordMessages();
        QCOMPARE(boxText, QString::fromUtf8(polish ? "Wystąpił błąd serwera (500)." : "The server failed (500)."));
        QVERIFY2(boxDetails.contains("HTTP Error 500"), qPrintable(boxDetails));
        AppSettings.LangPolish = false;
    }

    void anEngineThatBreaksDownGivesOneLine()
    {
        TProgramFolder folder;
        TempDir dir;
        // The engine dies with a traceback, then its error line.
        const std::string engine = dir.Write("engine", "#!/bin/sh\n"
                                                       "echo 'Traceback (most recent call last):' >&2\n"
                                                       "echo '  File \"yt_dlp/YoutubeDL.py\", line 1' >&2\n"
                                                       "echo 'ERROR: [generic] Unsupported URL: http://127.0.0.1:9/x' >&2\n"
                                                       "echo 'urllib.error.URLError: <urlopen error>' >&2\n"
                                                       "exit 1\n");
        std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
        const TEngineOverride standIn(engine);
        TFormNew f(nullptr);
        f.show();
        QTest::keyClicks(f.edURL, "http://127.0.0.1:9/x");
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QCOMPARE(f.lblStatus->text(), QString::fromUtf8(MessageText(TMessageId::NoMediaOnPage, false)));
        QCOMPARE(f.lblStatus->toolTip(), QString("[generic] Unsupported URL: http://127.0.0.1:9/x"));
        QVERIFY(!f.lblStatus->text().contains('\n'));
    }

    void youTubeFormatsOnlyForYouTubeAddresses()
    {
        TProgramFolder folder;
        const TEngineOverride noEngine("");  // the probe asks no engine here
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Handle("/watch", [&](const testhttp::Request&) {
            testhttp::Response r;
            r.body = StreamPage(server, {});
            return r;
        });
        TFormNew f(nullptr);
        f.show();
        QVERIFY(!f.gbYoutubeFormats->isVisible());

        // Another site's page: no YouTube group, and the probe leaves the buttons alone.
        QTest::keyClicks(f.edURL, "http://127.0.0.1:9/clip");
        QVERIFY(!f.gbYoutubeFormats->isVisible());
        f.actCheckYoutubeFormats->trigger();
        QCOMPARE(EnabledMask(f), 0x3F);
        QVERIFY(server.Requests().empty());

        // A YouTube address that offers none of the formats: the group shows, and
        // the probe says that it found none.
        f.edURL->selectAll();
        QTest::keyClicks(f.edURL, Q(server.Url("/watch?v=abc&m=.youtube.")));
        QVERIFY(f.gbYoutubeFormats->isVisible());
        QTest::mouseClick(f.btnCheckFormats, Qt::LeftButton);
        QCOMPARE(EnabledMask(f), 0);
        QVERIFY(f.lblStatus->isVisible());
        QCOMPARE(f.lblStatus->text(), QString::fromUtf8(MessageText(TMessageId::NoYouTubeFormats, false)));

        // The next address starts afresh.
        QTest::keyClick(f.edURL, Qt::Key_Backspace);
        QCOMPARE(EnabledMask(f), 0x3F);
        QVERIFY(f.lblStatus->isHidden());
        f.edURL->selectAll();
        QTest::keyClicks(f.edURL, "http://127.0.0.1:9/other");
        QVERIFY(!f.gbYoutubeFormats->isVisible());
        QCOMPARE(EnabledMask(f), 0x3F);
    }

    void aPagesOnlyVideoIsNamedAfterThePage()
    {
        TProgramFolder folder;
        QVERIFY2(!GetPageEnginePath().empty(), "yt-dlp is needed (scripts/setup.sh installs it)");
        ForgetPageLookUps();
        testhttp::TestHttpServer server(std::chrono::seconds(60));
        server.Serve("/page", "<html><head><title>My Page</title></head><body><video src=\"/clip.mp4\"></video></body></html>");
        server.Serve("/clip.mp4", Mp4Bytes(), "video/mp4");
        TFormNew f(nullptr);
        f.show();
        QTest::keyClicks(f.edURL, Q(server.Url("/page")));
        QTest::mouseClick(f.btnPastePageTitle, Qt::LeftButton);
        QCOMPARE(f.edFileName->text(), QString("My Page.mp4"));
        QVERIFY(f.lblStatus->isHidden());
    }

    void theFileDialogWritesDatesInTheProgramsLanguage_data()
    {
        QTest::addColumn<bool>("polish");
        QTest::newRow("English") << false;
        QTest::newRow("Polish") << true;
    }

    void theFileDialogWritesDatesInTheProgramsLanguage()
    {
        QFETCH(bool, polish);
        TProgramFolder folder;
        AppSettings.LangPolish = polish;
        const std::string clip = folder.Dir.Write("clip.avi", std::string(3000, 'x'));
        const QDateTime when(QDate(2010, 8, 2), QTime(15, 4));
        {
            QFile file(Q(clip));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
        }
        const QLocale locale = polish ? QLocale(QLocale::Polish, QLocale::Poland)
                                      : QLocale(QLocale::English, QLocale::UnitedStates);
        TFormNew f(nullptr);
        f.show();
        QString shownDate;
        QString shownSize;
        QTimer::singleShot(0, &f, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->setDirectory(Q(folder.Path()));
            auto* proxy = dialog->proxyModel();
            auto* files = proxy ? qobject_cast<QFileSystemModel*>(proxy->sourceModel()) : nullptr;
            if (files) {
                if (!QTest::qWaitFor([&] { return files->lastModified(files->index(Q(clip), 3)).isValid(); }, 5000))
                    shownDate = "never read";
                if (shownDate.isEmpty())
                    shownDate = proxy->mapFromSource(files->index(Q(clip), 3)).data().toString();
                shownSize = proxy->mapFromSource(files->index(Q(clip), 1)).data().toString();
            }
            dialog->reject();
        });
        QTest::mouseClick(f.btnBrowseFile, Qt::LeftButton);
        QCOMPARE(shownDate, locale.toString(when, QLocale::ShortFormat));
        QCOMPARE(shownSize, locale.formattedDataSize(3000));
        QVERIFY(f.edURL->text().isEmpty());
        AppSettings.LangPolish = false;
    }
};

int RunNewDialogTests(int argc, char** argv)
{
    TNewDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "NewDialogTest.moc"
