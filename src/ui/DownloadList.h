// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's list of jobs: the model the view shows (a row per job,
// nothing per row but data), and the queue that starts a download process for
// each job in turn, follows its reports and keeps the list file.

#include "download/JobList.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

class QLabel;
class QLineEdit;
class QLocalSocket;
class QMimeData;
class QSortFilterProxyModel;
class QSocketNotifier;
class QTableView;
class QTimer;
class QMenu;
class QAction;

class TJobTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColPosition, ColTitle, ColState, ColSize, ColPercent, ColSpeed, ColLeft, ColumnCount };
    // The value a column sorts by; the text the filter looks in (title,
    // address, state); whether the row's title is not known yet (its address
    // stands there, shortened in the middle).
    enum TRole { SortRole = Qt::UserRole, FilterRole, TitleUnknownRole };

    explicit TJobTableModel(const TJobList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Rows are dragged to another place in the queue.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    // What a drop asks for: these rows before that one (0: at the end).
    std::function<void(const std::vector<std::uint64_t>& ids, std::uint64_t before)> OnDrop;

    std::uint64_t IdAt(int row) const;
    // The list has changed: rows appended at its end, one row changed or gone,
    // rows moved (change moves them), everything (a new language).
    void Appended(int count);
    void Changed(std::uint64_t id);
    void Removing(int row);
    void Removed();
    void Moving(const std::function<void()>& change);
    void Reset(const std::function<void()>& change = {});

private:
    const TJobList& list_;
};

// Runs the list's jobs: at most MaxDownloads at once, each in a download
// process of its own ("-get" with the list's fields).
class TDownloadQueue : public QObject {
    Q_OBJECT
public:
    TDownloadQueue(const std::string& listFile, QObject* parent = nullptr);
    ~TDownloadQueue() override;

    // Reads the list file: unfinished jobs show as Interrupted and, with
    // ResumeAtStart, continue.
    void Load();
    // What the last Load left out of the list file.
    const TListLoad& Loaded() const { return loaded_; }
    const TJobList& List() const { return list_; }
    TJobTableModel* Model() const { return model_; }

    // A job from the dialog; its id. A single job may open its window by
    // itself (opensWindow); jobs that come as many share a batch (one
    // notification when the last of them ends).
    std::uint64_t AddJob(const TDownloadJob& job, const std::string& title, bool opensWindow = false,
                         std::uint64_t batch = 0);
    // A new batch number for jobs that come as many.
    std::uint64_t NewBatch() { return list_.NewBatch(); }
    // Addresses of several "brimtale --add" in a row join one batch while
    // its jobs are not all done.
    std::uint64_t AddBatch();
    // Addresses of "brimtale --add" (one batch); each is looked up when its turn comes.
    void AddAddresses(const std::vector<TAddedAddress>& added, std::uint64_t batch = 0);

    // A report from a download process (ignored unless it is the process of
    // one of this list's running jobs).
    void TakeReport(const TJobReport& report, QLocalSocket* connection);

    // Row actions.
    void ShowWindow(std::uint64_t id);
    void Abort(std::uint64_t id);
    bool Retry(std::uint64_t id);
    void OpenFile(std::uint64_t id);
    void OpenFolder(std::uint64_t id);
    // Removes the row (never its file); not while its job runs.
    bool Remove(std::uint64_t id);
    // Pause keeps the row's bytes and its place; Resume continues them (Range).
    void Pause(std::uint64_t id);
    bool Resume(std::uint64_t id);
    // Places in the queue (the rows keep their order among themselves).
    enum class TMove { Up, Down, Top };
    bool Move(const std::vector<std::uint64_t>& ids, TMove where);
    bool MoveBefore(const std::vector<std::uint64_t>& ids, std::uint64_t before);
    // Removes the rows of finished jobs; how many.
    int ClearFinished();

    // Starts what may start now.
    void Pump();
    // Writes the list file now.
    void SaveNow();

    // What starts a job's process (tests replace it): the program with the
    // arguments; the process id, 0 when it could not start.
    std::function<std::int64_t(const std::vector<std::string>& args)> StartProcess;
    // What opens a file or a folder (tests replace it).
    std::function<void(const std::string& path)> OpenPath;

signals:
    // The list has its first row, or has none any more.
    void hasRowsChanged(bool hasRows);
    // A row's state has changed (after the list took it).
    void stateChanged(std::uint64_t id, TJobState state);
    // Every job of a batch has ended (title: the job's, when it was one).
    void batchEnded(const TJobList::TBatchEnd& end, const std::string& title);

private:
    void Start(std::uint64_t id);
    void StartLookUp(std::uint64_t id);
    // The look-up of an added address has ended (message and details: why it
    // gave no job); more: the other entries of a list page (they join the
    // queue at its end).
    void LookedUp(std::uint64_t id, const std::string& title, const TDownloadJob& job, const std::string& message,
                  const std::string& details, const std::vector<TAddedAddress>& more);
    void Watch(std::uint64_t id, std::int64_t pid);
    void Ended(std::uint64_t id);
    void ScheduleSave();
    void Added(int count);
    // After a row's job may have ended: the batch it belongs to may be over.
    void Settled(std::uint64_t id);
    void Command(std::uint64_t id, TJobCommand command);
    // The row is queued again: shown, kept, and started when its turn comes.
    bool Requeued(std::uint64_t id);
    // Rows moved in the queue (move says whether any did).
    bool Moved(const std::function<bool()>& move);

    TJobList list_;
    TListLoad loaded_;
    TJobTableModel* model_;
    std::string listFile_;
    QTimer* saveTimer_;
    std::map<std::uint64_t, QPointer<QLocalSocket>> connections_;
    std::map<std::uint64_t, std::unique_ptr<QSocketNotifier>> watchers_;
    std::map<std::uint64_t, int> pidFds_;
    std::set<std::uint64_t> graced_;
    std::uint64_t addBatch_ = 0;  // ended processes whose last reports may still come
    QTimer* pollTimer_;  // where a process can't be watched by its descriptor
    std::shared_ptr<std::atomic<bool>> stopLookUps_;
};

// The list as the main window shows it: the view (sorted and filtered by a
// proxy; the queue's order is the "#" column), the row actions for every
// selected row (buttons, keys, a context menu, dragging rows to another
// place), and a line with the current row's details.
class TDownloadListPane : public QWidget {
    Q_OBJECT
public:
    TDownloadListPane(TDownloadQueue* queue, QWidget* parent = nullptr);

    void SetLang();
    QTableView* View() const { return view_; }
    QSortFilterProxyModel* Proxy() const { return proxy_; }
    // The view's index of a row of the list (by its place in the list).
    QModelIndex ViewIndex(int listRow, int column = 0) const;
    // The ids of the selected rows, in the list's order.
    std::vector<std::uint64_t> SelectedIds() const;
    // The actions as they apply to the selected rows.
    void UpdateActions();
    // The columns' widths as "W,W,...", and back (the main window keeps them).
    QString ColumnWidths() const;
    void SetColumnWidths(const QString& widths);

    QLineEdit* edFilter = nullptr;
    QLabel* lblDetails = nullptr;  // the current row's address, file and why it failed
    QAction* actShowWindow = nullptr;
    QAction* actPause = nullptr;   // Pause, or Resume when every selected row is paused (Space)
    QAction* actAbort = nullptr;
    QAction* actRetry = nullptr;
    QAction* actMoveUp = nullptr;
    QAction* actMoveDown = nullptr;
    QAction* actMoveToTop = nullptr;
    QAction* actOpenFile = nullptr;  // Enter
    QAction* actOpenFolder = nullptr;
    QAction* actRemove = nullptr;    // Delete
    QAction* actClearFinished = nullptr;

private:
    std::uint64_t CurrentId() const;
    void ForEachSelected(const std::function<void(std::uint64_t)>& action);
    void PauseOrResume();
    void ShowDetails();

    TDownloadQueue* queue_;
    QSortFilterProxyModel* proxy_;
    QTableView* view_;
    QMenu* menu_;
    bool resumes_ = false;  // actPause resumes now
};
