// SPDX-License-Identifier: GPL-3.0-or-later
// The page engine's choices in the windows, as the user works them: the new
// download dialog's group for any other page (its formats checked with the
// real yt-dlp on 127.0.0.1, a quick choice, metadata off, remembered), and the
// Options tab's cookies and speed limit, kept in bmt.ini.
#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "engine/EngineSettings.h"
#include "engine/PageEngine.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "TextsFit.h"
#include "ui/EngineChoicesBox.h"
#include "ui/New.h"
#include "ui/StatusLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <optional>
#include <sys/stat.h>

class EngineChoicesBoxTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;

    void UseFolder()
    {
        dir_ = std::make_unique<TempDir>();
        DataDir = dir_->Path();
        AppDir = dir_->Path();
        SettingsFile = dir_->File("bmt.ini");
        InitSettings();
        AppSettings.LangPolish = false;
        ForgetPageLookUps();
    }

private slots:
    void init() { UseFolder(); }
    void cleanup()
    {
        SetLookUpCookies({});
        dir_.reset();
    }

    void anyPagesFormatsAQuickChoiceAndMetadataOff()
    {
        if (GetPageEnginePath().empty())
            QSKIP("yt-dlp is needed");
        const std::string clip = fixtures::MakeClip(dir_->File("clip.mp4"), 2);
        QVERIFY(!clip.empty());
        QVERIFY(fixtures::MakeDash(clip, dir_->File("dash")));
        testhttp::TestHttpServer server;
        fixtures::ServeFiles(server, "/dash/", dir_->File("dash"));
        const QString url = QString::fromStdString(server.Url("/dash/manifest.mpd"));

        std::optional<TDownloadJob> started;
        auto* form = new TFormNew(nullptr, [&](const TDownloadJob& job) {
            started = job;
            return true;
        });
        form->show();
        QTest::keyClicks(form->edURL, url);
        TEngineChoicesBox* box = form->gbEngineChoices;
        QVERIFY(box->isVisible());
        QVERIFY(!form->gbYoutubeFormats->isVisible());
        const int quick = box->cbEngineFormat->count();
        QCOMPARE(quick, 5);  // Best, up to 1080p, 720p, 480p, Audio only
        QCOMPARE(box->cbEngineFormat->itemText(0), QString("Best"));
        QCOMPARE(box->cbEngineFormat->itemText(2), QString("Best up to 720p"));

        // The page's own formats join the quick choices.
        QTest::mouseClick(box->btnCheckEngineFormats, Qt::LeftButton);
        // (under a line and their heading)
        QTRY_COMPARE_WITH_TIMEOUT(box->cbEngineFormat->count(), quick + 4, 30000);
        QCOMPARE(box->cbEngineFormat->itemText(quick + 1), QString("Formats of this page:"));
        QVERIFY2(box->cbEngineFormat->itemText(quick + 2).contains("160x120") ||
                     box->cbEngineFormat->itemText(quick + 3).contains("160x120"),
                 qPrintable(box->cbEngineFormat->itemText(quick + 2)));

        // Audio only, without title and chapters.
        box->cbEngineFormat->setFocus();
        box->cbEngineFormat->setCurrentIndex(box->cbEngineFormat->findData("audio"));
        QVERIFY(box->chMetadata->isChecked());
        QTest::mouseClick(box->chMetadata, Qt::LeftButton);
        QVERIFY(!box->chMetadata->isChecked());
        form->edFileName->setText("talk");
        form->cbDirectory->setCurrentText(QString::fromStdString(dir_->File("out")));
        QTest::mouseClick(form->btnGET, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(started.has_value(), 30000);
        QVERIFY(started->ThroughEngine);
        QCOMPARE(QString::fromStdString(started->EngineFormat), QString("ba/b"));
        QVERIFY(!started->EngineMetadata);
        delete form;

        // Remembered for the next dialog.
        const TEngineDialogSettings kept = ReadEngineDialogSettings(SettingsFile);
        QCOMPARE(FormatChoiceText(kept.Format), std::string("audio"));
        QVERIFY(!kept.Metadata);
        TFormNew again(nullptr, [](const TDownloadJob&) { return true; });
        QCOMPARE(again.gbEngineChoices->cbEngineFormat->currentData().toString(), QString("audio"));
        QVERIFY(!again.gbEngineChoices->chMetadata->isChecked());
    }

    // The page's own formats follow the quick choices under a heading of
    // theirs, in the dialog's language; each line tells what the page knows of
    // the format and leaves out what it does not. The heading is no choice.
    void thePagesFormatsComeUnderAHeadingInBothLanguages()
    {
        testhttp::TestHttpServer server;
        server.Serve("/page", "<html><head><title>Clip</title></head><body>video</body></html>");
        const std::string media = server.Url("/v.mp4");
        dir_->Write("answer.json",
                    "{\"title\": \"Clip\", \"ext\": \"mp4\", \"url\": \"" + media + "\", \"formats\": ["
                    "{\"format_id\": \"0\", \"ext\": \"mp4\", \"url\": \"" + media + "\"}, "
                    "{\"format_id\": \"hls-1\", \"ext\": \"mp4\", \"url\": \"" + media + "\", \"vcodec\": \"avc1\", "
                    "\"acodec\": \"mp4a.40.2\", \"width\": 640, \"height\": 360, \"fps\": 25, \"filesize\": 1536}, "
                    "{\"format_id\": \"a1\", \"ext\": \"m4a\", \"url\": \"" + media + "\", \"vcodec\": \"none\", "
                    "\"acodec\": \"mp4a.40.2\"}]}");
        const std::string engine = dir_->Write("engine", "#!/bin/sh\ncat '" + dir_->File("answer.json") + "'\n");
        ::chmod(engine.c_str(), 0755);
        PageEngineOverride = engine;
        for (bool polish : {false, true}) {
            AppSettings.LangPolish = polish;
            ForgetPageLookUps();
            TFormNew form(nullptr, [](const TDownloadJob&) { return true; });
            form.show();
            QTest::keyClicks(form.edURL, QString::fromStdString(server.Url("/page")));
            TEngineChoicesBox* box = form.gbEngineChoices;
            QVERIFY(box->isVisible());
            QComboBox* list = box->cbEngineFormat;
            QTest::mouseClick(box->btnCheckEngineFormats, Qt::LeftButton);
            // Five quick choices, a line between, the heading, the page's three.
            QTRY_COMPARE_WITH_TIMEOUT(list->count(), 10, 15000);
            QCOMPARE(list->itemText(6), QString::fromUtf8(polish ? "Formaty tej strony:" : "Formats of this page:"));
            QVERIFY(!(list->model()->flags(list->model()->index(6, 0)) & Qt::ItemIsEnabled));
            QCOMPARE(list->itemText(7), QString("0: mp4"));
            QCOMPARE(list->itemText(8), QString("hls-1: mp4, 640x360, 25 fps, avc1+mp4a.40.2, 1.50 KB"));
            QCOMPARE(list->itemText(9), QString::fromUtf8(polish ? "a1: m4a, tylko dźwięk, mp4a.40.2"
                                                                 : "a1: m4a, audio only, mp4a.40.2"));
            // From the last quick choice the key goes past the heading to the page's first.
            list->setCurrentIndex(4);
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(list->currentData().toString(), QString("0"));
            // At the dialog's smallest width every text is whole, the group's too.
            form.resize(form.minimumWidth(), form.height());
            QCOMPARE(form.width(), form.minimumWidth());
            const QStringList unfitted = textsfit::Unfitted(&form);
            QVERIFY2(unfitted.isEmpty(), qPrintable(unfitted.join("; ")));
        }
        PageEngineOverride.reset();
    }

    void cookiesAndSpeedLimitInOptions()
    {
        TEngineAccessBox box(nullptr);
        box.show();
        QCOMPARE(box.lblCookies->text(), QString("Sign in with the cookies of:"));
        QCOMPARE(box.cbCookies->currentIndex(), 0);  // none
        QCOMPARE(box.cbCookies->itemText(1), QString("Firefox"));

        box.cbCookies->setCurrentIndex(1);
        QCOMPARE(ReadEngineAccessSettings(SettingsFile).CookiesBrowser, std::string("firefox"));

        // A cookies file instead.
        const std::string cookies = dir_->Write("cookies.txt", "# Netscape HTTP Cookie File\n");
        box.PickFile = [&](QWidget*, const QString&) { return QString::fromStdString(cookies); };
        box.cbCookies->setCurrentIndex(5);
        TEngineAccessSettings saved = ReadEngineAccessSettings(SettingsFile);
        QCOMPARE(saved.CookiesFile, cookies);
        QVERIFY(saved.CookiesBrowser.empty());
        QVERIFY(box.lblCookiesFile->text().endsWith("cookies.txt"));

        // A speed limit: kept when it can be read, the last one stays otherwise.
        box.edLimitRate->setFocus();
        box.edLimitRate->selectAll();
        QTest::keyClicks(box.edLimitRate, "2M");
        QTest::keyClick(box.edLimitRate, Qt::Key_Return);
        QCOMPARE(ReadEngineAccessSettings(SettingsFile).LimitRate, std::string("2M"));
        box.edLimitRate->selectAll();
        QTest::keyClicks(box.edLimitRate, "fast");
        QTest::keyClick(box.edLimitRate, Qt::Key_Return);
        QCOMPARE(ReadEngineAccessSettings(SettingsFile).LimitRate, std::string("2M"));
        QCOMPARE(box.edLimitRate->text(), QString("2M"));
        const TEngineOptions options = EngineOptionsFrom({}, ReadEngineAccessSettings(SettingsFile));
        QCOMPARE(options.RateLimit, std::int64_t{2 * 1024 * 1024});
        QCOMPARE(options.CookiesFile, cookies);

        // Back to none; and the texts in Polish.
        box.cbCookies->setCurrentIndex(0);
        saved = ReadEngineAccessSettings(SettingsFile);
        QVERIFY(saved.CookiesBrowser.empty() && saved.CookiesFile.empty());
        AppSettings.LangPolish = true;
        box.SetLang();
        QCOMPARE(box.lblCookies->text(), QString::fromUtf8("Zaloguj ciasteczkami z:"));
        QCOMPARE(box.cbCookies->currentIndex(), 0);
        TEngineChoicesBox choices(nullptr);
        choices.SetLang();
        QCOMPARE(choices.chMetadata->text(), QString::fromUtf8("Dodaj do pliku tytu\u0142, rozdzia\u0142y i ok\u0142adk\u0119"));
        QCOMPARE(choices.cbEngineFormat->itemText(4), QString::fromUtf8("Tylko d\u017awi\u0119k"));
    }
};

QTEST_MAIN(EngineChoicesBoxTest)
#include "EngineChoicesBoxTest.moc"
