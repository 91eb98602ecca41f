// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part for the list of jobs: the list below the tabs (shown
// while it has rows), its options on the Options tab, and the addresses of
// "brimtale --add".

#include "ui/Main.h"

#include "app/DownloadListTexts.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
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

void TFormMain::CreateDownloadList(QLayout* root)
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
    pnDownloads->hide();
    root->addWidget(pnDownloads);
    // The window grows to show the list while it has rows.
    connect(queue_, &TDownloadQueue::hasRowsChanged, this, [this](bool hasRows) {
        pnDownloads->setVisible(hasRows);
        FitSize();
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
    grid->addWidget(chShowDownloadWindows, 1, 0, 1, 2);
    grid->addWidget(chResumeAtStart, 2, 0, 1, 2);
    grid->addWidget(lblConnections, 3, 0);
    grid->addWidget(seConnections, 3, 1);
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
    queue_->AddAddresses(wanted);
    return true;
}
