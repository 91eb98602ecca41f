// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the program's three windows (and Qt's folder picker and question box as
// the program shows them) offscreen, in English and in Polish, into
// PNG files (scripts/screenshots.sh). Usage: brimtale_screenshots OUTPUT_DIR
// The windows get sample contents; nothing is downloaded and the settings are
// kept in a temporary folder.

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "ui/DownloadList.h"
#include "ui/GetMain.h"
#include "download/GetMainTexts.h"
#include "system/ZQ_FileSystem.h"
#include "ui/Main.h"
#include "ui/New.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QLayout>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

bool Save(QWidget* w, const QString& file)
{
    QCoreApplication::processEvents();
    if (!w->grab().save(file, "PNG")) {
        std::fprintf(stderr, "can't write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Brimtale");
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    // No window here starts a download process.
    ProgramExecutable.clear();
    const std::string dir = temp.path().toStdString();
    // Shortcuts are looked up, never made, but keep even that away from the real desktop.
    qputenv("HOME", temp.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (temp.path() + "/data").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (temp.path() + "/config").toLocal8Bit());

    WriteText(dir + "/bmt_encoder_profiles.ini",
              "[MAIN]\r\nDefaultVideoBitrate=280k\r\n"
              "[xvid]\r\nDisplayName=AVI - XviD video, MP3 audio\r\nParams=-i %1 -vcodec mpeg4 %2\r\nEncExt=avi\r\nExt=avi\r\n"
              "[mp3]\r\nDisplayName=MP3 - audio only\r\nParams=-i %1 -vn %2\r\nExt=mp3\r\n");
    WriteText(dir + "/bmt_directories.txt", "/home/user/Videos\r\n/home/user/Music\r\n");
    ForceDirectories(dir + "/Videos");

    bool ok = true;
    for (const bool polish : {false, true}) {
        const QString lang = polish ? "pl" : "en";
        InitAppDirsFor(dir);
        SettingsFile = dir + "/bmt.ini";
        WriteText(SettingsFile, std::string("[Main]\r\nLanguage=") + (polish ? "PL" : "EN") +
                                    "\r\nLastDir=" + dir + "/Videos\r\nConvert=1\r\n");
        InitSettings();
        LoadSettings(SettingsFile);

        {
            TFormMain main;
            main.show();
            ok &= Save(&main, outDir + "/main-" + lang + ".png");
            main.pc->setCurrentIndex(1);
            ok &= Save(&main, outDir + "/main-options-" + lang + ".png");
            main.pc->setCurrentIndex(2);
            ok &= Save(&main, outDir + "/main-about-" + lang + ".png");

            TFormNew* f = main.FormNew();
            f->edURL->setText("http://www.youtube.com/watch?v=Xb3dCq9kZ0s");
            f->edFileName->setText("Holiday on the Baltic coast.avi");
            f->SetDirectoryText("/home/user/Videos");
            f->show();
            ok &= Save(f, outDir + "/new-" + lang + ".png");
            f->hide();

            // Qt's own dialogs speak the program's language too.
            QFileDialog picker(&main, polish ? "Wybierz katalog" : "Select folder", QString::fromStdString(dir));
            picker.setFileMode(QFileDialog::Directory);
            picker.setOption(QFileDialog::ShowDirsOnly);
            picker.setOption(QFileDialog::DontUseNativeDialog);
            picker.show();
            ok &= Save(&picker, outDir + "/folder-picker-" + lang + ".png");
            picker.hide();
            QMessageBox question(QMessageBox::Question, "Brimtale",
                                 polish ? QString::fromUtf8("Usunąć niekompletny plik \"/home/user/Videos/clip.mp4\"?")
                                        : QString("Delete incomplete file \"/home/user/Videos/clip.mp4\"?"),
                                 QMessageBox::Yes | QMessageBox::No, &main);
            question.show();
            ok &= Save(&question, outDir + "/question-" + lang + ".png");
            question.hide();
            main.hide();
        }

        // The main window with its list of jobs in every state: three at
        // work, some waiting or paused, others ended. Nothing is started: the
        // "processes" are this one.
        {
            struct TSample {
                const char* Name;
                const char* State;
                std::int64_t Size;
                const char* Message;
            };
            const TSample samples[] = {
                {"Holiday on the Baltic coast.mp4", "queued", 52428800, ""},
                {"Concert in the park.mp4", "queued", 157286400, ""},
                {"Lecture 3 - Optics.mp4", "queued", 83886080, ""},
                {"Lecture 4 - Waves.mp4", "queued", 79691776, ""},
                {"Lecture 5 - Sound.mp4", "queued", 0, ""},
                {"", "queued", 0, ""},
                {"Mountain railway, a cab ride.mp4", "paused", 209715200, ""},
                {"Lecture 6 - Light.mp4", "queued", 0, ""},
                {"Cooking: pierogi the slow way.mp4", "queued", 0, ""},
                {"Lecture 7 - Heat.mp4", "paused", 73400320, ""},
                {"Old film.flv", "failed", 0, "HTTP 404"},
                {"Interview.mp4", "aborted", 31457280, ""},
                {"Lecture 1 - Motion.mp4", "done", 81788928, ""},
                {"Lecture 2 - Forces.mp4", "done", 80740352, ""},
                {"Birthday 2026.mp4", "done", 19922944, ""},
                {"River trip.mp4", "done", 45088768, ""},
                {"Radio play, part 1.mp3", "done", 12582912, ""},
                {"Night sky timelapse.mp4", "failed", 0, "The connection was refused"},
                {"Radio play, part 2.mp3", "queued", 0, ""},
                {"Garden in spring.mp4", "queued", 26214400, ""},
            };
            const auto field = [](const std::string& text) {
                std::string escaped;
                for (const char c : text)
                    escaped += c == ' ' ? std::string("%20") : c == ',' ? std::string("%2C") : std::string(1, c);
                return escaped;
            };
            std::string rows = "BrimtaleJobs 1\n";
            int id = 0;
            for (const TSample& one : samples) {
                ++id;
                const std::string number = std::to_string(id);
                if (!*one.Name) {
                    // An address added a moment ago: its page is read when its turn comes.
                    rows += "row " + number + " queued 0 0 0 0  " +
                            " 1 http://127.0.0.1:9/watch/2026/12/a-very-long-address-of-a-page-about-trains%3Fv%3Dq8Zr " +
                            "/home/user/Videos   0 0\n";
                    continue;
                }
                const std::string out = field(dir + "/Videos/" + one.Name);
                const bool done = std::string(one.State) == "done";
                const std::string paused = std::string(one.State) == "paused" ? std::to_string(one.Size / 3) : "0";
                rows += "row " + number + " " + one.State + " " + std::to_string(one.Size) + " " +
                        (done ? std::to_string(one.Size) : paused) + " 0 0 " + field(one.Name) + " " +
                        field(one.Message) + " 0     0 11 -get http://127.0.0.1:9/v" + number +
                        " http://127.0.0.1:9/v" + number + " " + out + " 0 " + std::to_string(one.Size) +
                        " 0 - - - 0\n";
            }
            WriteText(SettingsFile, std::string("[Main]\r\nLanguage=") + (polish ? "PL" : "EN") +
                                        "\r\nLastDir=" + dir + "/Videos\r\nMaxDownloads=3\r\nResumeAtStart=1\r\n");
            LoadSettings(SettingsFile);
            TFormMain main;
            main.Queue()->StartProcess = [](const std::vector<std::string>&) { return std::int64_t(::getpid()); };
            WriteText(dir + "/bmt_downloads.txt", rows);
            main.Queue()->Load();
            // Three at work: two downloading, one converting.
            const std::int64_t done[] = {31457280, 9437184, 50331648};
            for (std::size_t i = 0; i < 3; ++i) {
                const TJobRow& row = main.Queue()->List().Rows()[i];
                TJobReport report;
                report.Id = row.Id;
                report.State = i == 2 ? TJobState::Converting : TJobState::Downloading;
                report.Done = done[i];
                report.Total = row.Size;
                report.Speed = i == 0 ? 2411724 : i == 1 ? 1153433 : 0;
                report.SecondsLeft = report.Speed > 0 ? (row.Size - done[i]) / report.Speed : -1;
                report.Pid = ::getpid();
                main.Queue()->TakeReport(report, nullptr);
            }
            main.resize(1180, 640);
            main.show();
            main.pnDownloads->View()->selectRow(main.pnDownloads->ViewIndex(5).row());
            main.UpdateListStatus();
            ok &= Save(&main, outDir + "/main-list-" + lang + ".png");
            main.hide();
            std::remove((dir + "/bmt_downloads.txt").c_str());
        }

        // The download window with a sample job; it is drawn, never shown, so
        // its transfer doesn't start.
        TDownloadJob job;
        job.Switch = "-get";
        job.Source = "http://www.youtube.com/watch?v=Xb3dCq9kZ0s";
        job.MediaUrl = "http://127.0.0.1:9/videoplayback?itag=22";
        job.OutputFile = "/home/user/Videos/Holiday on the Baltic coast.mp4";
        job.ExpectedSize = 24117248;
        job.EncoderParams = "-";
        job.EncoderExt = "-";
        job.TargetExt = "-";
        TFormGetMain get(job);
        get.ensurePolished();
        if (get.layout())
            get.layout()->activate();
        ok &= Save(&get, outDir + "/download-" + lang + ".png");
        // A conversion's status line at the designed width: the percentage stays whole.
        const TGetMainTexts& t = GetMainTexts(polish);
        get.lblProgress->setText(QString::fromUtf8(t.ConvertWord) + "  ::::  " + QString::fromUtf8(t.FrameWord) +
                                 "750 / ~5125  ::::  " + QString::fromUtf8(t.CompleteWord) + "15 %");
        ok &= Save(&get, outDir + "/download-converting-" + lang + ".png");
    }
    return ok ? 0 : 1;
}
