// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DownloadList.h"

#include "app/DownloadListTexts.h"
#include "app/Settings.h"
#include "system/ConRun.h"
#include "plan/AddedJob.h"
#include "base/ZQ_Conversion.h"
#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"
#include "system/ZQ_Processes.h"
#include "base/ZQ_Strings.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocalSocket>
#include <QMenu>
#include <QSocketNotifier>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <csignal>
#include <thread>

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// "1:05", "2:03:07".
QString TimeLeftText(std::int64_t seconds)
{
    const std::int64_t h = seconds / 3600;
    const std::int64_t m = seconds / 60 % 60;
    const std::int64_t s = seconds % 60;
    const QString mmss = QString("%1:%2").arg(h > 0 ? QString("%1").arg(m, 2, 10, QChar('0')) : QString::number(m))
                             .arg(s, 2, 10, QChar('0'));
    return h > 0 ? QString::number(h) + ":" + mmss : mmss;
}

constexpr int SaveDelayMs = 500;
constexpr int PollMs = 500;

} // namespace

// TJobTableModel

TJobTableModel::TJobTableModel(const TJobList& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}

int TJobTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(list_.Size());
}

int TJobTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TJobTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TJobRow& row = list_.Rows()[static_cast<std::size_t>(index.row())];
    if (role == Qt::ToolTipRole) {
        QString tip = Q(row.Job.Switch.empty() && row.Added ? row.Added->Address : row.Job.OutputFile);
        if (!row.Message.empty())
            tip += "\n" + Q(row.Message);
        // The engine's own words below the program's.
        if (!row.Details.empty())
            tip += "\n" + Q(PrintableText(row.Details));
        return tip;
    }
    if (role == Qt::TextAlignmentRole)
        return index.column() >= ColSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    const TDownloadListTexts& t = DownloadListTexts(AppSettings.LangPolish);
    switch (index.column()) {
    case ColTitle:
        return Q(row.Title);
    case ColState:
        if (row.State == TJobState::Queued && row.Running && row.Job.Switch.empty())
            return QString::fromUtf8(t.Waiting);
        return QString::fromUtf8(t.States[static_cast<std::size_t>(row.State)]);
    case ColSize:
        return row.Size > 0 ? Q(SizeText(static_cast<std::uint64_t>(row.Size))) : QString();
    case ColPercent:
        return row.Percent() >= 0 && row.State != TJobState::Queued ? QString::number(row.Percent()) + " %" : QString();
    case ColSpeed:
        return row.Speed > 0 ? Q(SizeText(static_cast<std::uint64_t>(row.Speed))) + "/s" : QString();
    case ColLeft:
        return row.SecondsLeft >= 0 && JobStateWorking(row.State) ? TimeLeftText(row.SecondsLeft) : QString();
    default:
        return {};
    }
}

QVariant TJobTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(DownloadListTexts(AppSettings.LangPolish).Columns[static_cast<std::size_t>(section)]);
}

std::uint64_t TJobTableModel::IdAt(int row) const
{
    return row >= 0 && row < rowCount() ? list_.Rows()[static_cast<std::size_t>(row)].Id : 0;
}

void TJobTableModel::Appended(int count)
{
    const int last = rowCount() - 1;
    beginInsertRows(QModelIndex(), last - count + 1, last);
    endInsertRows();
}

void TJobTableModel::Changed(std::uint64_t id)
{
    const long row = list_.IndexOf(id);
    if (row >= 0)
        emit dataChanged(index(static_cast<int>(row), 0), index(static_cast<int>(row), ColumnCount - 1));
}

void TJobTableModel::Removing(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
}

void TJobTableModel::Removed()
{
    endRemoveRows();
}

void TJobTableModel::Reset()
{
    beginResetModel();
    endResetModel();
}

// TDownloadQueue

TDownloadQueue::TDownloadQueue(const std::string& listFile, QObject* parent)
    : QObject(parent), model_(new TJobTableModel(list_, this)), listFile_(listFile), saveTimer_(new QTimer(this)),
      pollTimer_(new QTimer(this)), stopLookUps_(std::make_shared<std::atomic<bool>>(false))
{
    OpenPath = [](const std::string& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path))); };
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(SaveDelayMs);
    connect(saveTimer_, &QTimer::timeout, this, [this] { SaveNow(); });
    // Processes that can't be watched by a descriptor are looked at now and then.
    pollTimer_->setInterval(PollMs);
    connect(pollTimer_, &QTimer::timeout, this, [this] {
        bool any = false;
        for (const TJobRow& row : std::vector<TJobRow>(list_.Rows()))
            if (row.Running && row.Pid > 0 && !watchers_.count(row.Id)) {
                any = true;
                if (ProcessHasEnded(row.Pid))
                    Ended(row.Id);
            }
        if (!any)
            pollTimer_->stop();
    });
}

TDownloadQueue::~TDownloadQueue()
{
    *stopLookUps_ = true;
    if (saveTimer_->isActive())
        SaveNow();
    watchers_.clear();
    for (auto& [id, fd] : pidFds_)
        CloseFile(fd);
}

void TDownloadQueue::Load()
{
    list_ = LoadJobList(listFile_, loaded_);
    list_.Reopened(AppSettings.ResumeAtStart,
                   [](const TJobRow& row) { return ProcessRunsListedJob(row.Pid, row.Id); });
    model_->Reset();
    // Their reports come again once they find this program.
    for (const TJobRow& row : list_.Rows())
        if (row.Running)
            Watch(row.Id, row.Pid);
    emit hasRowsChanged(list_.Size() > 0);
    if (list_.Size() > 0)
        ScheduleSave();
    Pump();
}

void TDownloadQueue::Added(int count)
{
    if (count <= 0)
        return;
    model_->Appended(count);
    if (static_cast<int>(list_.Size()) == count)
        emit hasRowsChanged(true);
    ScheduleSave();
    Pump();
}

std::uint64_t TDownloadQueue::AddJob(const TDownloadJob& job, const std::string& title)
{
    TJobRow row;
    row.Title = title;
    row.Job = job;
    const std::uint64_t id = list_.Add(row);
    Added(id ? 1 : 0);
    return id;
}

void TDownloadQueue::AddAddresses(const std::vector<TAddedAddress>& added)
{
    int count = 0;
    for (const TAddedAddress& one : added) {
        TJobRow row;
        row.Title = one.Address;
        row.Added = one;
        count += list_.Add(row) ? 1 : 0;
    }
    Added(count);
}

void TDownloadQueue::Pump()
{
    for (const std::uint64_t id : list_.NextToStart(AppSettings.MaxDownloads))
        Start(id);
}

void TDownloadQueue::Start(std::uint64_t id)
{
    TJobRow* row = list_.Find(id);
    if (!row)
        return;
    if (row->Job.Switch.empty()) {
        StartLookUp(id);
        return;
    }
    if (!CheckRowOutput(*row, AppSettings.LangPolish)) {
        model_->Changed(id);
        emit stateChanged(id, TJobState::Failed);
        ScheduleSave();
        return;
    }
    const bool show = AppSettings.ShowDownloadWindows;
    const std::int64_t pid = StartProcess ? StartProcess(ListedJobArgs(row->Job, id, show, row->Resume, AppSettings.AutoClose)) : 0;
    if (pid <= 0) {
        list_.StartFailed(id, AppSettings.LangPolish ? "Nie można uruchomić procesu pobierania"
                                                     : "The download process could not be started");
        model_->Changed(id);
        emit stateChanged(id, TJobState::Failed);
        ScheduleSave();
        return;
    }
    list_.Started(id, pid, show);
    model_->Changed(id);
    Watch(id, pid);
}

void TDownloadQueue::StartLookUp(std::uint64_t id)
{
    const TJobRow* row = list_.Find(id);
    if (!row || !row->Added)
        return;
    list_.Started(id, 0, true);
    model_->Changed(id);
    const TAddedAddress added = *row->Added;
    const bool polish = AppSettings.LangPolish;
    QPointer<TDownloadQueue> self(this);
    std::shared_ptr<std::atomic<bool>> stop = stopLookUps_;
    // The look-up fetches pages: off the window's thread. The list may go
    // before it ends; then its answer goes nowhere.
    std::thread([self, stop, added, polish, id] {
        // A list page: its first entry is this row's job, the others are queued.
        std::vector<TAddedAddress> entries =
            added.Playlist ? ExpandPlaylist(added, stop.get()) : std::vector<TAddedAddress>{added};
        TAddedJob job;
        if (entries.empty())
            job.Message = polish ? "Na tej stronie nie ma listy filmów" : "This page lists no videos";
        else
            job = ResolveAddedJob(entries.front(), stop.get(), polish);
        if (*stop)
            return;
        if (!entries.empty())
            entries.erase(entries.begin());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, id, job, entries] {
                if (self)
                    self->LookedUp(id, job.Title, job.Job, job.Message, job.Details, entries);
            },
            Qt::QueuedConnection);
    }).detach();
}

void TDownloadQueue::LookedUp(std::uint64_t id, const std::string& title, const TDownloadJob& job,
                              const std::string& message, const std::string& details,
                              const std::vector<TAddedAddress>& more)
{
    if (!more.empty())
        AddAddresses(more);
    TJobRow* row = list_.Find(id);
    if (!row)
        return;
    if (!message.empty()) {
        list_.StartFailed(id, message, details);
        model_->Changed(id);
        emit stateChanged(id, TJobState::Failed);
        ScheduleSave();
        Pump();
        return;
    }
    row->Job = job;
    row->Title = title;
    row->Running = false;
    ScheduleSave();
    Start(id);
}

void TDownloadQueue::Watch(std::uint64_t id, std::int64_t pid)
{
    const int fd = ProcessEndDescriptor(pid);
    if (fd < 0) {
        pollTimer_->start();
        return;
    }
    pidFds_[id] = fd;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, id] { Ended(id); });
    watchers_[id] = std::move(notifier);
}

void TDownloadQueue::Ended(std::uint64_t id)
{
    if (auto it = watchers_.find(id); it != watchers_.end()) {
        it->second->setEnabled(false);
        it->second.release()->deleteLater();
        watchers_.erase(it);
    }
    if (auto it = pidFds_.find(id); it != pidFds_.end()) {
        CloseFile(it->second);
        pidFds_.erase(it);
    }
    // What the process sent before it ended is taken first: its last report
    // may still wait in the connection when its end is seen.
    if (auto it = connections_.find(id); it != connections_.end()) {
        const QPointer<QLocalSocket> connection = it->second;
        if (connection && connection->state() == QLocalSocket::ConnectedState)
            connection->waitForReadyRead(0);
    }
    connections_.erase(id);
    const TJobRow* row = list_.Find(id);
    if (!row)
        return;
    const TJobState before = row->State;
    list_.ProcessEnded(id);
    model_->Changed(id);
    if (row->State != before)
        emit stateChanged(id, row->State);
    ScheduleSave();
    Pump();
}

void TDownloadQueue::TakeReport(const TJobReport& report, QLocalSocket* connection)
{
    const TJobRow* row = list_.Find(report.Id);
    if (!row || !row->Running || row->Pid <= 0 || row->Pid != report.Pid)
        return;
    connections_[report.Id] = connection;
    const TJobState before = row->State;
    if (!list_.Apply(report))
        return;
    model_->Changed(report.Id);
    if (row->State != before) {
        emit stateChanged(report.Id, row->State);
        ScheduleSave();
    }
    if (!row->Running)
        Pump();
}

void TDownloadQueue::ShowWindow(std::uint64_t id)
{
    const auto it = connections_.find(id);
    if (it != connections_.end() && it->second) {
        // A window the user sees may stay open: its place goes with its last report.
        if (TJobRow* row = list_.Find(id))
            row->WindowShown = true;
        const std::string line = FormatJobCommand(id, TJobCommand::Show);
        it->second->write(line.data(), static_cast<qint64>(line.size()));
    }
}

void TDownloadQueue::Abort(std::uint64_t id)
{
    TJobRow* row = list_.Find(id);
    if (!row)
        return;
    if (row->State == TJobState::Queued && !row->Running) {
        row->State = TJobState::Aborted;
        row->Resume = true;
        model_->Changed(id);
        emit stateChanged(id, row->State);
        ScheduleSave();
        return;
    }
    const auto it = connections_.find(id);
    if (it != connections_.end() && it->second) {
        const std::string line = FormatJobCommand(id, TJobCommand::Abort);
        it->second->write(line.data(), static_cast<qint64>(line.size()));
    } else if (row->Running && row->Pid > 0) {
        // Not heard from yet: ended, the partial file stays for Resume.
        AskProcessToEnd(row->Pid);
    }
}

bool TDownloadQueue::Retry(std::uint64_t id)
{
    if (!list_.Requeue(id))
        return false;
    model_->Changed(id);
    emit stateChanged(id, TJobState::Queued);
    ScheduleSave();
    Pump();
    return true;
}

void TDownloadQueue::OpenFile(std::uint64_t id)
{
    const TJobRow* row = list_.Find(id);
    if (row && row->State == TJobState::Done && !row->Job.OutputFile.empty() && FileExists(row->Job.OutputFile) &&
        OpenPath)
        OpenPath(row->Job.OutputFile);
}

void TDownloadQueue::OpenFolder(std::uint64_t id)
{
    const TJobRow* row = list_.Find(id);
    if (!row)
        return;
    const std::string dir = row->Job.OutputFile.empty() ? std::string() : ExtractFileDir(row->Job.OutputFile);
    if (!dir.empty() && DirectoryExists(dir) && OpenPath)
        OpenPath(dir);
}

bool TDownloadQueue::Remove(std::uint64_t id)
{
    const TJobRow* row = list_.Find(id);
    if (!row || row->Running)
        return false;
    const long index = list_.IndexOf(id);
    model_->Removing(static_cast<int>(index));
    list_.Remove(id);
    model_->Removed();
    connections_.erase(id);
    ScheduleSave();
    if (list_.Size() == 0)
        emit hasRowsChanged(false);
    return true;
}

void TDownloadQueue::ScheduleSave()
{
    if (!saveTimer_->isActive())
        saveTimer_->start();
}

void TDownloadQueue::SaveNow()
{
    saveTimer_->stop();
    SaveJobList(listFile_, list_);
}

// TDownloadListPane

TDownloadListPane::TDownloadListPane(TDownloadQueue* queue, QWidget* parent)
    : QWidget(parent), queue_(queue), view_(new QTableView(this)), menu_(new QMenu(this))
{
    setObjectName("DownloadList");
    view_->setObjectName("lvDownloads");
    view_->setModel(queue->Model());
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->setShowGrid(false);
    view_->setAlternatingRowColors(true);
    // Rows of one height: thousands of them cost nothing to lay out.
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setSectionResizeMode(TJobTableModel::ColTitle, QHeaderView::Stretch);
    view_->horizontalHeader()->setHighlightSections(false);
    // The numbers need little room; the title takes the rest.
    const int digit = view_->fontMetrics().horizontalAdvance('0');
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColState, 13 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColSize, 10 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColPercent, 6 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColSpeed, 11 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColLeft, 9 * digit);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->setMinimumSize(660, 160);

    auto make = [this](const char* name) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        menu_->addAction(action);
        return action;
    };
    actShowWindow = make("actShowWindow");
    actAbort = make("actAbortJob");
    actRetry = make("actRetry");
    menu_->addSeparator();
    actOpenFile = make("actOpenFile");
    actOpenFolder = make("actOpenFolder");
    menu_->addSeparator();
    actRemove = make("actRemove");
    actRemove->setShortcut(QKeySequence::Delete);
    actRemove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(actRemove);

    connect(actShowWindow, &QAction::triggered, this, [this] { queue_->ShowWindow(CurrentId()); });
    connect(actAbort, &QAction::triggered, this, [this] { queue_->Abort(CurrentId()); });
    connect(actRetry, &QAction::triggered, this, [this] { queue_->Retry(CurrentId()); });
    connect(actOpenFile, &QAction::triggered, this, [this] { queue_->OpenFile(CurrentId()); });
    connect(actOpenFolder, &QAction::triggered, this, [this] { queue_->OpenFolder(CurrentId()); });
    connect(actRemove, &QAction::triggered, this, [this] { queue_->Remove(CurrentId()); });
    connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        queue_->OpenFile(queue_->Model()->IdAt(index.row()));
    });
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!view_->indexAt(at).isValid())
            return;
        UpdateActions();
        menu_->popup(view_->viewport()->mapToGlobal(at));
    });
    connect(menu_, &QMenu::aboutToShow, this, [this] { UpdateActions(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(view_);
    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(2);
    for (QAction* action : {actShowWindow, actAbort, actRetry, actOpenFile, actOpenFolder, actRemove}) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString("btn") + action->objectName().mid(3));
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { UpdateActions(); });
    connect(queue->Model(), &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from) {
        if (view_->currentIndex().row() == from.row())
            UpdateActions();
    });
    SetLang();
    UpdateActions();
}

void TDownloadListPane::SetLang()
{
    const TDownloadListTexts& t = DownloadListTexts(AppSettings.LangPolish);
    actShowWindow->setText(QString::fromUtf8(t.ShowWindow));
    actAbort->setText(QString::fromUtf8(t.Abort));
    actRetry->setText(QString::fromUtf8(t.Retry));
    actOpenFile->setText(QString::fromUtf8(t.OpenFile));
    actOpenFolder->setText(QString::fromUtf8(t.OpenFolder));
    actRemove->setText(QString::fromUtf8(t.Remove));
    queue_->Model()->Reset();
}

std::uint64_t TDownloadListPane::CurrentId() const
{
    return queue_->Model()->IdAt(view_->currentIndex().row());
}

void TDownloadListPane::UpdateActions()
{
    const TJobRow* row = queue_->List().Find(CurrentId());
    const bool running = row && row->Running;
    const bool ended = row && !row->Running && row->State != TJobState::Queued;
    const bool hasFile = row && !row->Job.OutputFile.empty() && FileExists(row->Job.OutputFile);
    // Only a finished job's file is whole enough to open.
    const bool done = hasFile && row->State == TJobState::Done;
    actShowWindow->setEnabled(running && row->Pid > 0);
    actAbort->setEnabled(row && (running || row->State == TJobState::Queued));
    actRetry->setEnabled(ended && row->State != TJobState::Done);
    actOpenFile->setEnabled(done);
    actOpenFolder->setEnabled(hasFile || (row && !row->Job.OutputFile.empty() &&
                                          DirectoryExists(ExtractFileDir(row->Job.OutputFile))));
    actRemove->setEnabled(row && !running);
}
