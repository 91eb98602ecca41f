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
#include <string>

class QLocalSocket;
class QSocketNotifier;
class QTableView;
class QTimer;
class QMenu;
class QAction;

class TJobTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColTitle, ColState, ColSize, ColPercent, ColSpeed, ColLeft, ColumnCount };

    explicit TJobTableModel(const TJobList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    std::uint64_t IdAt(int row) const;
    // The list has changed: rows appended at its end, one row changed or gone,
    // everything (a new language).
    void Appended(int count);
    void Changed(std::uint64_t id);
    void Removing(int row);
    void Removed();
    void Reset();

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

    // A job from the dialog; its id.
    std::uint64_t AddJob(const TDownloadJob& job, const std::string& title);
    // Addresses of "brimtale --add"; each is looked up when its turn comes.
    void AddAddresses(const std::vector<TAddedAddress>& added);

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

    TJobList list_;
    TListLoad loaded_;
    TJobTableModel* model_;
    std::string listFile_;
    QTimer* saveTimer_;
    std::map<std::uint64_t, QPointer<QLocalSocket>> connections_;
    std::map<std::uint64_t, std::unique_ptr<QSocketNotifier>> watchers_;
    std::map<std::uint64_t, int> pidFds_;
    QTimer* pollTimer_;  // where a process can't be watched by its descriptor
    std::shared_ptr<std::atomic<bool>> stopLookUps_;
};

// The list as the main window shows it: the view and the row actions (a
// context menu, and double-click opens the file).
class TDownloadListPane : public QWidget {
    Q_OBJECT
public:
    TDownloadListPane(TDownloadQueue* queue, QWidget* parent = nullptr);

    void SetLang();
    QTableView* View() const { return view_; }
    // The row's actions as the menu offers them for the current row.
    void UpdateActions();

    QAction* actShowWindow = nullptr;
    QAction* actAbort = nullptr;
    QAction* actRetry = nullptr;
    QAction* actOpenFile = nullptr;
    QAction* actOpenFolder = nullptr;
    QAction* actRemove = nullptr;

private:
    std::uint64_t CurrentId() const;

    TDownloadQueue* queue_;
    QTableView* view_;
    QMenu* menu_;
};
