// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part for the list of jobs: the list below the tabs (shown
// while it has rows), its options on the Options tab, and the addresses of
// "brimtale --add".

#include "ui/Main.h"

#include "app/DownloadListTexts.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "base/ZQ_Strings.h"
#include "download/JobListTexts.h"
#include "system/ConRun.h"
#include "plan/AddedJob.h"
#include "ui/DownloadList.h"
#include "ui/MessageBoxes.h"
#include "ui/WindowParts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>

namespace {
constexpr int StatusDelayMs = 250;
}

void TFormMain::CreateDownloadList(QBoxLayout* root)
{
    queue_ = new TDownloadQueue(JobListFile(), this);
    queue_->StartProcess = [this](const std::vector<std::string>& args) -> std::int64_t {
        std::int64_t pid = 0;
        if (ProgramExecutable.empty() || !StartDetached(ProgramExecutable, args, &pid))
            return 0;
        LastDownloadPid = pid;
        return pid;
    };
    pnDownloads = new TDownloadListPane(queue_, this);
    pnDownloads->SetColumnWidths(QString::fromStdString(AppSettings.ListColumns));
    root->addWidget(pnDownloads, 1);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    root->addWidget(lblStatus);

    // Reports come several times a second from each job: the status line,
    // the title and the tray's tooltip follow them a few times a second.
    tmStatus_ = new QTimer(this);
    tmStatus_->setSingleShot(true);
    tmStatus_->setInterval(StatusDelayMs);
    connect(tmStatus_, &QTimer::timeout, this, [this] { UpdateListStatus(); });
    const auto later = [this] {
        if (!tmStatus_->isActive())
            tmStatus_->start();
    };
    TJobTableModel* model = queue_->Model();
    connect(model, &QAbstractItemModel::dataChanged, this, later);
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::rowsRemoved, this, later);
    connect(model, &QAbstractItemModel::modelReset, this, later);
    connect(model, &QAbstractItemModel::layoutChanged, this, later);
    // Jobs that came as many are told of once, when the last of them ends.
    connect(queue_, &TDownloadQueue::batchEnded, this, [this](const TJobList::TBatchEnd& end, const std::string& title) {
        Notify(ApplicationTitle, QString::fromStdString(PrintableText(BatchEndText(end, title, AppSettings.LangPolish))));
    });
}

QWidget* TFormMain::CreateDownloadOptions(QWidget* parent)
{
    gbDownloads = new QGroupBox(parent);
    gbDownloads->setObjectName("gbDownloads");
    auto* grid = new QGridLayout(gbDownloads);
    lblMaxDownloads = new QLabel(gbDownloads);
    seMaxDownloads = new QSpinBox(gbDownloads);
    seMaxDownloads->setObjectName("seMaxDownloads");
    seMaxDownloads->setRange(1, MaxDownloadsLimit);
    lblMaxDownloads->setBuddy(seMaxDownloads);
    chShowDownloadWindows = new QCheckBox(gbDownloads);
    chShowDownloadWindows->setObjectName("chShowDownloadWindows");
    chResumeAtStart = new QCheckBox(gbDownloads);
    chResumeAtStart->setObjectName("chResumeAtStart");
    lblConnections = new QLabel(gbDownloads);
    seConnections = new QSpinBox(gbDownloads);
    seConnections->setObjectName("seConnections");
    seConnections->setRange(1, ConnectionsLimit);
    lblConnections->setBuddy(seConnections);
    grid->addWidget(lblMaxDownloads, 0, 0);
    grid->addWidget(seMaxDownloads, 0, 1);
    grid->addWidget(lblConnections, 1, 0);
    grid->addWidget(seConnections, 1, 1);
    grid->addWidget(chShowDownloadWindows, 2, 0, 1, 2);
    grid->addWidget(chResumeAtStart, 3, 0, 1, 2);
    grid->addWidget(chListFolder, 4, 0, 1, 2);
    grid->addWidget(chNotifications, 5, 0, 1, 2);
    grid->setColumnStretch(2, 1);
    {
        TUpdatingControls quiet;
        seMaxDownloads->setValue(AppSettings.MaxDownloads);
        chShowDownloadWindows->setChecked(AppSettings.ShowDownloadWindows);
        chResumeAtStart->setChecked(AppSettings.ResumeAtStart);
        seConnections->setValue(AppSettings.Connections);
    }
    connect(seMaxDownloads, &QSpinBox::valueChanged, this, [this] { DownloadOptionsChanged(); });
    connect(chShowDownloadWindows, &QCheckBox::clicked, this, [this] { DownloadOptionsChanged(); });
    connect(chResumeAtStart, &QCheckBox::clicked, this, [this] { DownloadOptionsChanged(); });
    connect(seConnections, &QSpinBox::valueChanged, this, [this] { DownloadOptionsChanged(); });
    return gbDownloads;
}

void TFormMain::DownloadOptionsChanged()
{
    if (UpdatingControls)
        return;
    AppSettings.MaxDownloads = seMaxDownloads->value();
    AppSettings.ShowDownloadWindows = chShowDownloadWindows->isChecked();
    AppSettings.ResumeAtStart = chResumeAtStart->isChecked();
    AppSettings.Connections = seConnections->value();
    SaveDownloadListSettings(SettingsFile);
    // More places: the next jobs start now.
    queue_->Pump();
}

void TFormMain::SetDownloadListLang()
{
    const TDownloadListTexts& t = DownloadListTexts(AppSettings.LangPolish);
    gbDownloads->setTitle(QString::fromUtf8(t.Tab));
    lblMaxDownloads->setText(QString::fromUtf8(t.MaxDownloads));
    chShowDownloadWindows->setText(QString::fromUtf8(t.ShowDownloadWindows));
    chResumeAtStart->setText(QString::fromUtf8(t.ResumeAtStart));
    lblConnections->setText(QString::fromUtf8(t.Connections));
    pnDownloads->SetLang();
    UpdateListStatus();
}

bool TFormMain::AddHandedAddresses(const std::string& request)
{
    const std::optional<std::vector<TAddedAddress>> added = ParseAddRequest(request);
    if (!added)
        return false;
    // An address that is in the list already becomes a second job only when
    // the user says so.
    std::vector<TAddedAddress> wanted;
    std::vector<std::string> again;
    for (const TAddedAddress& one : *added)
        if (queue_->List().HasAddress(one.Address))
            again.push_back(one.Address);
    bool takeAgain = again.empty();
    if (!takeAgain) {
        BringUp();
        takeAgain = AskYesNo(
            this, "Brimtale", QString::fromStdString(AddedAgainQuestion(again.size(), again.front(), AppSettings.LangPolish)));
    }
    for (const TAddedAddress& one : *added)
        if (takeAgain || !queue_->List().HasAddress(one.Address))
            wanted.push_back(one);
    queue_->AddAddresses(wanted, queue_->AddBatch());
    return true;
}
