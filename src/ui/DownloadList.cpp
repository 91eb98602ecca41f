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
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
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
#include <QToolBar>
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
const QString RowsMimeType = QStringLiteral("application/x-brimtale-rows");
constexpr int PollMs = 500;
// How long the reports of a process that has ended may still come.
constexpr int ReportGraceMs = 300;

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
    const bool lookingUp = row.Job.Switch.empty() && row.Added;
    const QString address = Q(row.Added ? row.Added->Address : row.Job.Source);
    if (role == Qt::ToolTipRole) {
        QString tip = lookingUp ? address : Q(row.Job.OutputFile);
        if (!row.Message.empty())
            tip += "\n" + Q(row.Message);
        // The engine's own words below the program's.
        if (!row.Details.empty())
            tip += "\n" + Q(PrintableText(row.Details));
        return tip;
    }
    if (role == Qt::TextAlignmentRole)
        return index.column() >= ColSize || index.column() == ColPosition ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                                          : QVariant();
    if (role == TitleUnknownRole)
        return lookingUp || row.Title.empty();
    const TDownloadListTexts& t = DownloadListTexts(AppSettings.LangPolish);
    const QString state = row.State == TJobState::Queued && row.Running && row.Job.Switch.empty()
                              ? QString::fromUtf8(t.Waiting)
                              : QString::fromUtf8(t.States[static_cast<std::size_t>(row.State)]);
    if (role == FilterRole)
        return Q(row.Title) + "\n" + address + "\n" + state;
    if (role == SortRole) {
        switch (index.column()) {
        case ColPosition:
            return index.row();
        case ColTitle:
            return Q(row.Title.empty() ? (row.Added ? row.Added->Address : row.Job.Source) : row.Title);
        case ColState:
            return state;
        case ColSize:
            return static_cast<qlonglong>(row.Size);
        case ColPercent:
            return row.Percent();
        case ColSpeed:
            return static_cast<qlonglong>(row.Speed);
        case ColLeft:
            return static_cast<qlonglong>(row.SecondsLeft);
        default:
            return {};
        }
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColPosition:
        return index.row() + 1;
    case ColTitle:
        return row.Title.empty() || lookingUp ? address : Q(row.Title);
    case ColState:
        return state;
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

Qt::ItemFlags TJobTableModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled : flags | Qt::ItemIsDropEnabled;
}

Qt::DropActions TJobTableModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

QStringList TJobTableModel::mimeTypes() const
{
    return {RowsMimeType};
}

QMimeData* TJobTableModel::mimeData(const QModelIndexList& indexes) const
{
    std::vector<int> rows;
    for (const QModelIndex& index : indexes)
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QByteArray ids;
    for (const int row : rows)
        ids += QByteArray::number(static_cast<qulonglong>(IdAt(row))) + "\n";
    auto* data = new QMimeData();
    data->setData(RowsMimeType, ids);
    return data;
}

bool TJobTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int, const QModelIndex& parent)
{
    if (!data || action != Qt::MoveAction || !data->hasFormat(RowsMimeType) || !OnDrop)
        return false;
    std::vector<std::uint64_t> ids;
    for (const QByteArray& line : data->data(RowsMimeType).split('\n')) {
        bool ok = false;
        const qulonglong id = line.toULongLong(&ok);
        if (ok && list_.Find(id))
            ids.push_back(id);
    }
    // Dropped on a row: before it; between rows: before the one below.
    const int target = row >= 0 ? row : parent.isValid() ? parent.row() : rowCount();
    OnDrop(ids, IdAt(target));
    // The rows are moved here, not copied: the view removes nothing.
    return false;
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

void TJobTableModel::Moving(const std::function<void()>& change)
{
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint64_t> ids;
    for (const QModelIndex& index : before)
        ids.push_back(IdAt(index.row()));
    change();
    QModelIndexList after;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const long row = list_.IndexOf(ids[i]);
        after.push_back(row < 0 ? QModelIndex() : index(static_cast<int>(row), before[static_cast<int>(i)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void TJobTableModel::Reset(const std::function<void()>& change)
{
    beginResetModel();
    if (change)
        change();
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
    // What continues at a start came as many: one notification at its end.
    const std::uint64_t batch = list_.NewBatch();
    for (const TJobRow& row : list_.Rows())
        if (row.State == TJobState::Queued || row.Running)
            list_.Find(row.Id)->Batch = batch;
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

std::uint64_t TDownloadQueue::AddJob(const TDownloadJob& job, const std::string& title, bool opensWindow,
                                     std::uint64_t batch)
{
    TJobRow row;
    row.Title = title;
    row.Job = job;
    row.OpensWindow = opensWindow;
    // A job without a window of its own is told of by the list, as a batch of one.
    row.Batch = opensWindow ? 0 : batch ? batch : list_.NewBatch();
    const std::uint64_t id = list_.Add(row);
    Added(id ? 1 : 0);
    return id;
}

std::uint64_t TDownloadQueue::AddBatch()
{
    if (!list_.BatchOpen(addBatch_))
        addBatch_ = list_.NewBatch();
    return addBatch_;
}

void TDownloadQueue::AddAddresses(const std::vector<TAddedAddress>& added, std::uint64_t batch)
{
    if (batch == 0)
        batch = list_.NewBatch();
    int count = 0;
    for (const TAddedAddress& one : added) {
        TJobRow row;
        row.Added = one;
        row.Batch = batch;
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
        Settled(id);
        return;
    }
    // Jobs that come as many never open windows by themselves.
    const bool show = row->OpensWindow;
    const std::int64_t pid = StartProcess ? StartProcess(ListedJobArgs(row->Job, id, show, row->Resume, AppSettings.AutoClose)) : 0;
    if (pid <= 0) {
        list_.StartFailed(id, AppSettings.LangPolish ? "Nie można uruchomić procesu pobierania"
                                                     : "The download process could not be started");
        model_->Changed(id);
        emit stateChanged(id, TJobState::Failed);
        ScheduleSave();
        Settled(id);
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
        Settled(id);
        Pump();
        return;
    }
    row->Job = job;
    row->Title = title;
    row->Running = false;
    ScheduleSave();
    if (row->PauseAsked) {
        // Paused while its page was read: it waits with what was found.
        row->PauseAsked = false;
        list_.Pause(id);
        model_->Changed(id);
        emit stateChanged(id, row->State);
        Pump();
        return;
    }
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
    const TJobRow* row = list_.Find(id);
    if (!row)
        return;
    // A process that ended quickly may have sent its last report over a
    // connection this program has not read yet: it is given a moment.
    if (!JobStateEnded(row->State) && !graced_.count(id)) {
        graced_.insert(id);
        QTimer::singleShot(ReportGraceMs, this, [this, id] { Ended(id); });
        return;
    }
    graced_.erase(id);
    connections_.erase(id);
    const TJobState before = row->State;
    list_.ProcessEnded(id);
    model_->Changed(id);
    if (row->State != before)
        emit stateChanged(id, row->State);
    ScheduleSave();
    Settled(id);
    Pump();
}

void TDownloadQueue::Settled(std::uint64_t id)
{
    const TJobRow* row = list_.Find(id);
    if (!row || row->Batch == 0)
        return;
    const std::uint64_t batch = row->Batch;
    const std::string title = row->Title.empty() ? row->Job.OutputFile : row->Title;
    if (const auto end = list_.BatchEnded(batch))
        emit batchEnded(*end, end->Done + end->Failed + end->Aborted == 1 ? title : std::string());
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
    if (!row->Running) {
        Settled(report.Id);
        Pump();
    }
}

void TDownloadQueue::ShowWindow(std::uint64_t id)
{
    const auto it = connections_.find(id);
    if (it != connections_.end() && it->second) {
        // A window the user sees may stay open: its place goes with its last report.
        if (TJobRow* row = list_.Find(id))
            row->WindowShown = true;
        Command(id, TJobCommand::Show);
    }
}

void TDownloadQueue::Command(std::uint64_t id, TJobCommand command)
{
    const auto it = connections_.find(id);
    if (it == connections_.end() || !it->second)
        return;
    const std::string line = FormatJobCommand(id, command);
    it->second->write(line.data(), static_cast<qint64>(line.size()));
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
        Command(id, TJobCommand::Abort);
    } else if (row->Running && row->Pid > 0) {
        // Not heard from yet: ended, the partial file stays for Resume.
        AskProcessToEnd(row->Pid);
    }
}

void TDownloadQueue::Pause(std::uint64_t id)
{
    TJobRow* row = list_.Find(id);
    if (!row)
        return;
    if (list_.Pause(id)) {
        model_->Changed(id);
        emit stateChanged(id, row->State);
        ScheduleSave();
        return;
    }
    // A running job ends as an Abort from the list does (its bytes stay),
    // and its end is a pause.
    if (row->PauseAsked && row->Pid > 0)
        Abort(id);
}

bool TDownloadQueue::Resume(std::uint64_t id)
{
    return list_.Resume(id) && Requeued(id);
}

bool TDownloadQueue::Requeued(std::uint64_t id)
{
    model_->Changed(id);
    emit stateChanged(id, TJobState::Queued);
    ScheduleSave();
    Pump();
    return true;
}

bool TDownloadQueue::Move(const std::vector<std::uint64_t>& ids, TMove where)
{
    return Moved([&] {
        return where == TMove::Up     ? list_.MoveUp(ids)
               : where == TMove::Down ? list_.MoveDown(ids)
                                      : list_.MoveToTop(ids);
    });
}

bool TDownloadQueue::MoveBefore(const std::vector<std::uint64_t>& ids, std::uint64_t before)
{
    return Moved([&] { return list_.MoveBefore(ids, before); });
}

bool TDownloadQueue::Moved(const std::function<bool()>& move)
{
    bool moved = false;
    model_->Moving([&] { moved = move(); });
    if (moved) {
        ScheduleSave();
        Pump();
    }
    return moved;
}

int TDownloadQueue::ClearFinished()
{
    const bool had = list_.Size() > 0;
    std::vector<std::uint64_t> gone;
    model_->Reset([&] { gone = list_.ClearFinished(); });
    for (const std::uint64_t id : gone)
        connections_.erase(id);
    if (!gone.empty())
        ScheduleSave();
    if (had && list_.Size() == 0)
        emit hasRowsChanged(false);
    return static_cast<int>(gone.size());
}

bool TDownloadQueue::Retry(std::uint64_t id)
{
    return list_.Requeue(id) && Requeued(id);
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

namespace {

// The title column shortens an address that stands for a title not known yet
// in its middle, so that rows of one site stay tellable apart.
class TTitleDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(TJobTableModel::TitleUnknownRole).toBool())
            option->textElideMode = Qt::ElideMiddle;
    }
};

} // namespace

TDownloadListPane::TDownloadListPane(TDownloadQueue* queue, QWidget* parent)
    : QWidget(parent), queue_(queue), proxy_(new QSortFilterProxyModel(this)), view_(new QTableView(this)),
      menu_(new QMenu(this))
{
    setObjectName("DownloadList");
    proxy_->setSourceModel(queue->Model());
    proxy_->setSortRole(TJobTableModel::SortRole);
    proxy_->setFilterRole(TJobTableModel::FilterRole);
    proxy_->setFilterKeyColumn(TJobTableModel::ColTitle);
    proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    queue->Model()->OnDrop = [this](const std::vector<std::uint64_t>& ids, std::uint64_t before) {
        queue_->MoveBefore(ids, before);
    };

    edFilter = new QLineEdit(this);
    edFilter->setObjectName("edFilter");
    edFilter->setClearButtonEnabled(true);
    edFilter->setMaxLength(200);
    edFilter->setMinimumWidth(edFilter->fontMetrics().averageCharWidth() * 26);
    connect(edFilter, &QLineEdit::textChanged, this,
            [this](const QString& text) { proxy_->setFilterFixedString(text.trimmed()); });

    view_->setObjectName("lvDownloads");
    view_->setModel(proxy_);
    view_->setItemDelegateForColumn(TJobTableModel::ColTitle, new TTitleDelegate(view_));
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->setShowGrid(false);
    view_->setAlternatingRowColors(true);
    view_->setSortingEnabled(true);
    view_->sortByColumn(TJobTableModel::ColPosition, Qt::AscendingOrder);
    // Rows are dragged to another place in the queue.
    view_->setDragEnabled(true);
    view_->setAcceptDrops(true);
    view_->setDropIndicatorShown(true);
    view_->setDragDropMode(QAbstractItemView::InternalMove);
    view_->setDefaultDropAction(Qt::MoveAction);
    view_->setDragDropOverwriteMode(false);
    // Rows of one height: thousands of them cost nothing to lay out.
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setSectionResizeMode(TJobTableModel::ColTitle, QHeaderView::Stretch);
    view_->horizontalHeader()->setHighlightSections(false);
    // The numbers need little room; the title takes the rest.
    const int digit = view_->fontMetrics().horizontalAdvance('0');
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColPosition, 5 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColState, 14 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColSize, 10 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColPercent, 6 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColSpeed, 11 * digit);
    view_->horizontalHeader()->resizeSection(TJobTableModel::ColLeft, 9 * digit);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->setMinimumSize(560, 120);

    // The keys act while the list has the focus (the filter field keeps its own).
    auto make = [this](const char* name, const QKeySequence& key = {}) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WidgetShortcut);
            action->setShortcutVisibleInContextMenu(true);
            view_->addAction(action);
        }
        menu_->addAction(action);
        return action;
    };
    actShowWindow = make("actShowWindow");
    actPause = make("actPause", QKeySequence(Qt::Key_Space));
    actAbort = make("actAbortJob");
    actRetry = make("actRetry");
    menu_->addSeparator();
    actMoveToTop = make("actMoveToTop", QKeySequence(Qt::CTRL | Qt::Key_Home));
    actMoveUp = make("actMoveUp", QKeySequence(Qt::CTRL | Qt::Key_Up));
    actMoveDown = make("actMoveDown", QKeySequence(Qt::CTRL | Qt::Key_Down));
    menu_->addSeparator();
    actOpenFile = make("actOpenFile", QKeySequence(Qt::Key_Return));
    actOpenFolder = make("actOpenFolder");
    menu_->addSeparator();
    actRemove = make("actRemove", QKeySequence::Delete);
    actClearFinished = make("actClearFinished");
    // Enter on the keypad opens the file as Return does.
    auto* enter = new QAction(this);
    enter->setShortcut(QKeySequence(Qt::Key_Enter));
    enter->setShortcutContext(Qt::WidgetShortcut);
    view_->addAction(enter);
    connect(enter, &QAction::triggered, actOpenFile, &QAction::trigger);

    connect(actShowWindow, &QAction::triggered, this, [this] { queue_->ShowWindow(CurrentId()); });
    connect(actPause, &QAction::triggered, this, [this] { PauseOrResume(); });
    connect(actAbort, &QAction::triggered, this, [this] { ForEachSelected([this](auto id) { queue_->Abort(id); }); });
    connect(actRetry, &QAction::triggered, this, [this] { ForEachSelected([this](auto id) { queue_->Retry(id); }); });
    connect(actMoveUp, &QAction::triggered, this, [this] { queue_->Move(SelectedIds(), TDownloadQueue::TMove::Up); });
    connect(actMoveDown, &QAction::triggered, this,
            [this] { queue_->Move(SelectedIds(), TDownloadQueue::TMove::Down); });
    connect(actMoveToTop, &QAction::triggered, this,
            [this] { queue_->Move(SelectedIds(), TDownloadQueue::TMove::Top); });
    connect(actOpenFile, &QAction::triggered, this, [this] { queue_->OpenFile(CurrentId()); });
    connect(actOpenFolder, &QAction::triggered, this, [this] { queue_->OpenFolder(CurrentId()); });
    connect(actRemove, &QAction::triggered, this, [this] { ForEachSelected([this](auto id) { queue_->Remove(id); }); });
    connect(actClearFinished, &QAction::triggered, this, [this] { queue_->ClearFinished(); });
    connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        queue_->OpenFile(queue_->Model()->IdAt(proxy_->mapToSource(index).row()));
    });
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!view_->indexAt(at).isValid())
            return;
        UpdateActions();
        menu_->popup(view_->viewport()->mapToGlobal(at));
    });
    connect(menu_, &QMenu::aboutToShow, this, [this] { UpdateActions(); });

    lblDetails = new QLabel(this);
    lblDetails->setObjectName("lblDetails");
    lblDetails->setTextFormat(Qt::PlainText);
    lblDetails->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    // The row buttons: what does not fit a narrow window goes behind the
    // bar's "more" button (the context menu has them all).
    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(4);
    auto* bar = new QToolBar(this);
    bar->setObjectName("tbDownloads");
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setIconSize(QSize(1, 1));
    for (QAction* action : {actShowWindow, actPause, actAbort, actRetry, actMoveToTop, actMoveUp, actMoveDown,
                            actOpenFile, actOpenFolder, actRemove, actClearFinished}) {
        bar->addAction(action);
        bar->widgetForAction(action)->setObjectName(QString("btn") + action->objectName().mid(3));
    }
    buttons->addWidget(bar, 1);
    buttons->addWidget(edFilter, 0);
    layout->addLayout(buttons);
    layout->addWidget(view_, 1);
    layout->addWidget(lblDetails);

    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateActions(); });
    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { UpdateActions(); });
    connect(queue->Model(), &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from) {
        if (proxy_->mapToSource(view_->currentIndex()).row() == from.row())
            UpdateActions();
    });
    connect(queue->Model(), &QAbstractItemModel::layoutChanged, this, [this] { UpdateActions(); });
    connect(queue->Model(), &QAbstractItemModel::modelReset, this, [this] { UpdateActions(); });
    SetLang();
    UpdateActions();
}

void TDownloadListPane::SetLang()
{
    const TDownloadListTexts& t = DownloadListTexts(AppSettings.LangPolish);
    actShowWindow->setText(QString::fromUtf8(t.ShowWindow));
    actPause->setText(QString::fromUtf8(resumes_ ? t.Resume : t.Pause));
    actAbort->setText(QString::fromUtf8(t.Abort));
    actRetry->setText(QString::fromUtf8(t.Retry));
    actMoveUp->setText(QString::fromUtf8(t.MoveUp));
    actMoveDown->setText(QString::fromUtf8(t.MoveDown));
    actMoveToTop->setText(QString::fromUtf8(t.MoveToTop));
    actOpenFile->setText(QString::fromUtf8(t.OpenFile));
    actOpenFolder->setText(QString::fromUtf8(t.OpenFolder));
    actRemove->setText(QString::fromUtf8(t.Remove));
    actClearFinished->setText(QString::fromUtf8(t.ClearFinished));
    edFilter->setPlaceholderText(QString::fromUtf8(t.Filter));
    queue_->Model()->Reset();
}

QModelIndex TDownloadListPane::ViewIndex(int listRow, int column) const
{
    return proxy_->mapFromSource(queue_->Model()->index(listRow, column));
}

std::vector<std::uint64_t> TDownloadListPane::SelectedIds() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows())
        rows.push_back(proxy_->mapToSource(index).row());
    if (rows.empty() && view_->currentIndex().isValid())
        rows.push_back(proxy_->mapToSource(view_->currentIndex()).row());
    std::sort(rows.begin(), rows.end());
    std::vector<std::uint64_t> ids;
    for (const int row : rows)
        if (const std::uint64_t id = queue_->Model()->IdAt(row))
            ids.push_back(id);
    return ids;
}

void TDownloadListPane::ForEachSelected(const std::function<void(std::uint64_t)>& action)
{
    // The rows may change under the action (a removed one goes): ids first.
    for (const std::uint64_t id : SelectedIds())
        action(id);
    UpdateActions();
}

void TDownloadListPane::PauseOrResume()
{
    const bool resume = resumes_;
    ForEachSelected([this, resume](std::uint64_t id) {
        if (resume)
            queue_->Resume(id);
        else
            queue_->Pause(id);
    });
}

std::uint64_t TDownloadListPane::CurrentId() const
{
    return queue_->Model()->IdAt(proxy_->mapToSource(view_->currentIndex()).row());
}

QString TDownloadListPane::ColumnWidths() const
{
    QStringList widths;
    for (int column = 0; column < TJobTableModel::ColumnCount; ++column)
        widths << QString::number(view_->horizontalHeader()->sectionSize(column));
    return widths.join(',');
}

void TDownloadListPane::SetColumnWidths(const QString& widths)
{
    const QStringList parts = widths.split(',');
    if (parts.size() != TJobTableModel::ColumnCount)
        return;
    for (int column = 0; column < TJobTableModel::ColumnCount; ++column) {
        bool ok = false;
        const int width = parts[column].toInt(&ok);
        // The title stretches; the others take what was kept, within reason.
        if (ok && column != TJobTableModel::ColTitle && width >= 16 && width <= 2000)
            view_->horizontalHeader()->resizeSection(column, width);
    }
}

void TDownloadListPane::ShowDetails()
{
    const TJobRow* row = queue_->List().Find(CurrentId());
    if (!row) {
        lblDetails->clear();
        lblDetails->setToolTip(QString());
        return;
    }
    QString text = Q(row->Job.Switch.empty() && row->Added ? row->Added->Address : row->Job.OutputFile);
    if (!row->Message.empty())
        text += "  \u2014  " + Q(PrintableText(row->Message));
    const QString tip = queue_->Model()->data(queue_->Model()->index(static_cast<int>(queue_->List().IndexOf(row->Id)), 0),
                                              Qt::ToolTipRole).toString();
    lblDetails->setText(QString::fromStdString(PrintableText(text.toStdString())));
    lblDetails->setToolTip(tip);
}

void TDownloadListPane::UpdateActions()
{
    const std::vector<std::uint64_t> ids = SelectedIds();
    bool anyAbortable = false, anyRetry = false, anyRemovable = false, anyPausable = false,
         allPaused = !ids.empty();
    for (const std::uint64_t id : ids) {
        const TJobRow* row = queue_->List().Find(id);
        if (!row)
            continue;
        const bool running = row->Running;
        const bool ended = !running && row->State != TJobState::Queued;
        anyAbortable = anyAbortable || running || row->State == TJobState::Queued;
        anyRetry = anyRetry || (ended && row->State != TJobState::Done && row->State != TJobState::Paused);
        anyRemovable = anyRemovable || !running;
        anyPausable = anyPausable || (!JobStateEnded(row->State) && row->State != TJobState::Interrupted);
        allPaused = allPaused && row->State == TJobState::Paused;
    }
    const TJobRow* row = queue_->List().Find(CurrentId());
    const bool hasFile = row && !row->Job.OutputFile.empty() && FileExists(row->Job.OutputFile);
    // Only a finished job's file is whole enough to open.
    const bool done = hasFile && row->State == TJobState::Done;
    actShowWindow->setEnabled(row && row->Running && row->Pid > 0);
    resumes_ = allPaused;
    actPause->setText(QString::fromUtf8(resumes_ ? DownloadListTexts(AppSettings.LangPolish).Resume
                                                 : DownloadListTexts(AppSettings.LangPolish).Pause));
    actPause->setEnabled(allPaused || anyPausable);
    actAbort->setEnabled(anyAbortable);
    actRetry->setEnabled(anyRetry);
    const bool several = queue_->List().Size() > 1 && !ids.empty();
    actMoveUp->setEnabled(several);
    actMoveDown->setEnabled(several);
    actMoveToTop->setEnabled(several);
    actOpenFile->setEnabled(done);
    actOpenFolder->setEnabled(hasFile || (row && !row->Job.OutputFile.empty() &&
                                          DirectoryExists(ExtractFileDir(row->Job.OutputFile))));
    actRemove->setEnabled(anyRemovable);
    actClearFinished->setEnabled(queue_->List().Counts().Done > 0);
    ShowDetails();
}
