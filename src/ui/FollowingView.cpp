// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FollowingView.h"

#include "app/FollowTexts.h"
#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/Texts.h"
#include "plan/ListJobs.h"
#include "net/ZQ_Internet.h"
#include "plan/JobPlanner.h"
#include "convert/EncoderProfiles.h"
#include "engine/EngineSettings.h"
#include "system/PrivateFolders.h"
#include "system/ZQ_FileSystem.h"
#include "ui/DesktopNotify.h"
#include "ui/MessageBoxes.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <ctime>

namespace {
QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The request a followed page's jobs are made with: its format and profile,
// the engine's options as the dialog has them.
bool RequestFor(const TFollowedPage& page, const std::vector<TEncoderProfile>& profiles, TGetRequest& request,
                std::string& problem, bool polish)
{
    request = TGetRequest{};
    if (!page.Profile.empty()) {
        request.Profile = FindProfileNamed(profiles, page.Profile);
        if (!request.Profile) {
            problem = (polish ? "Nieznany profil " : "Unknown profile ") + page.Profile + " (" + page.Url + ")";
            return false;
        }
        request.Convert = true;
    }
    if (!page.Format.empty()) {
        const std::optional<TFormatChoice> choice = ParseFormatChoice(page.Format);
        if (choice)
            request.EngineChoice = EngineFormatFor(*choice);
    }
    request.EngineOptions = EngineOptionsFrom(ReadEngineDialogSettings(SettingsFile), ReadEngineAccessSettings(SettingsFile));
    request.EngineOptions.Clip = {};
    return true;
}
} // namespace

int ReadFollowEveryHours(const std::string& settingsFile)
{
    const TIniFile ini(settingsFile);
    const int hours = ini.ReadInteger("Main", "FollowEveryHours", 6);
    return hours < 0 || hours > 720 ? 6 : hours;
}

TFollowingView::TFollowingView(QWidget* parent, std::string followingDir, TJobStarter start)
    : QWidget(parent), dir_(std::move(followingDir)), start_(std::move(start))
{
    setObjectName("tsFollowing");
    auto* root = new QVBoxLayout(this);
    tbPages = new QTableWidget(0, 4, this);
    tbPages->setObjectName("tbPages");
    tbPages->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbPages->setSelectionMode(QAbstractItemView::SingleSelection);
    tbPages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbPages->verticalHeader()->hide();
    tbPages->horizontalHeader()->setStretchLastSection(true);
    root->addWidget(tbPages, 1);
    auto* buttons = new QHBoxLayout();
    btnCheckNow = new QPushButton(this);
    btnCheckNow->setObjectName("btnCheckNow");
    btnRemove = new QPushButton(this);
    btnRemove->setObjectName("btnRemove");
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblFollowStatus");
    buttons->addWidget(btnCheckNow);
    buttons->addWidget(btnRemove);
    buttons->addWidget(lblStatus, 1);
    root->addLayout(buttons);
    tmCheck = new QTimer(this);
    connect(tmCheck, &QTimer::timeout, this, [this] { CheckNow(); });
    connect(btnCheckNow, &QPushButton::clicked, this, [this] { CheckNow(); });
    connect(btnRemove, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    Notify = [](const QString& summary, const QString& body) { DesktopNotify(summary, body); };
    LookUp = [this](const std::string& url) {
        // Each list's look-up ends with the program (or its own limit).
        const TNetworkStepScope step(std::chrono::seconds(PageLookUpSeconds), &stop_);
        return ReadPageList(url);
    };
    SetLang();
    Refresh();
}

TFollowingView::~TFollowingView()
{
    stop_ = true;
    if (worker_ && worker_->joinable())
        worker_->join();
}

void TFollowingView::SetLang()
{
    const TFollowTexts& t = FollowTexts(AppSettings.LangPolish);
    tbPages->setHorizontalHeaderLabels(
        {QString::fromUtf8(t.colAddress), QString::fromUtf8(t.colFolder), QString::fromUtf8(t.colLastCheck),
         QString::fromUtf8(t.colTaken)});
    btnCheckNow->setText(QString::fromUtf8(t.btnCheckNow));
    btnRemove->setText(QString::fromUtf8(t.btnRemove));
    if (Checking())
        lblStatus->setText(QString::fromUtf8(t.Checking));
    Refresh();
}

void TFollowingView::Refresh()
{
    const std::vector<TFollowedPage> pages = ReadFollowedPages(FollowedListFile(dir_));
    tbPages->setRowCount(static_cast<int>(pages.size()));
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const TFollowedPage& page = pages[i];
        const int row = static_cast<int>(i);
        tbPages->setItem(row, 0, new QTableWidgetItem(Q(page.Url)));
        tbPages->setItem(row, 1, new QTableWidgetItem(Q(page.Directory)));
        tbPages->setItem(row, 2, new QTableWidgetItem(Q(CheckTimeText(page.LastCheck, AppSettings.LangPolish))));
        tbPages->setItem(row, 3, new QTableWidgetItem(QString::number(page.Taken)));
    }
    btnRemove->setEnabled(!pages.empty());
}

void TFollowingView::SetEveryHours(int hours)
{
    everyHours_ = hours;
    tmCheck->stop();
    if (hours > 0)
        tmCheck->start(hours * 3600 * 1000);
}

void TFollowingView::RemoveSelected()
{
    const int row = tbPages->currentRow();
    if (row < 0 || !tbPages->item(row, 0))
        return;
    const std::string url = tbPages->item(row, 0)->text().toUtf8().toStdString();
    const QString question =
        QString::fromUtf8(FollowTexts(AppSettings.LangPolish).RemoveQuestion).arg(Q(url));
    if (!AskYesNo(this, QString::fromUtf8(AppTitle), question))
        return;
    if (RemoveFollowedPage(FollowedListFile(dir_), url) == TFollowEdit::Done)
        RemoveFile(SeenListFile(dir_, url));
    Refresh();
}

bool TFollowingView::CheckNow()
{
    const TFollowTexts& t = FollowTexts(AppSettings.LangPolish);
    if (Checking()) {
        lblStatus->setText(QString::fromUtf8(t.CheckRunning));
        return false;
    }
    if (!DirectoryExists(dir_) && !ForceDirectories(dir_))
        return false;
    // One check at a time, brimtale-cli's too.
    hold_ = std::make_unique<TFolderHold>(dir_, FollowCheckHold);
    if (hold_->Result() != TFolderHold::TResult::Held) {
        hold_.reset();
        lblStatus->setText(QString::fromUtf8(t.CheckRunning));
        return false;
    }
    lblStatus->setText(QString::fromUtf8(t.Checking));
    btnCheckNow->setEnabled(false);
    TFollowCheckHooks hooks;
    hooks.LookUp = LookUp;
    hooks.Polish = AppSettings.LangPolish;
    hooks.ListInFolder = AppSettings.ListInFolder;
    hooks.ShouldStop = [this] { return stop_.load(); };
    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(AppSettings.ProfilesFile);
    const bool polish = AppSettings.LangPolish;
    hooks.RequestFor = [profiles, polish](const TFollowedPage& page, TGetRequest& request, std::string& problem) {
        return RequestFor(page, profiles, request, problem, polish);
    };
    // The jobs' requests point at the profiles: they live as long as the check.
    worker_ = std::make_unique<std::thread>([this, hooks, profiles] {
        std::vector<TFollowCheckPage> results = PrepareFollowCheck(dir_, hooks);
        QMetaObject::invokeMethod(this, [this, results = std::move(results)]() mutable { Finished(std::move(results)); },
                                  Qt::QueuedConnection);
    });
    return true;
}

void TFollowingView::Finished(std::vector<TFollowCheckPage> results)
{
    if (worker_ && worker_->joinable())
        worker_->join();
    worker_.reset();
    const bool polish = AppSettings.LangPolish;
    QStringList problems;
    for (const TFollowCheckPage& page : results) {
        std::vector<std::string> handed;
        for (std::size_t i = 0; i < page.Jobs.size(); ++i) {
            if (start_ && start_(page.Jobs[i]))
                handed.push_back(page.EntryUrls[i]);
            else
                ReleaseMadeJob(page.Jobs[i]);
        }
        if (page.Problem.empty())
            FinishFollowCheck(dir_, page, handed, static_cast<std::int64_t>(std::time(nullptr)));
        else
            problems << Q(page.Problem);
        if (!page.Notice.empty())
            problems << Q(page.Notice);
        if (!handed.empty() && Notify)
            Notify(QString::fromUtf8(AppTitle), Q(FollowFoundText(handed.size(), page.Title, polish)));
    }
    hold_.reset();
    btnCheckNow->setEnabled(true);
    lblStatus->setText(problems.join("\n"));
    Refresh();
    emit checked();
}
