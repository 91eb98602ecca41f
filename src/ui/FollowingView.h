// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's "Following" view: the followed pages (address, folder,
// last check, videos taken) with Check now and Remove, and a check every
// FollowEveryHours hours while the program runs. A check reads the lists off
// the window's thread; the new videos join the downloads list and its queue,
// and a check that found something says so in one notification.

#include "plan/FollowCheck.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;
class TFolderHold;

class TFollowingView : public QWidget {
    Q_OBJECT
public:
    using TJobStarter = std::function<bool(const TDownloadJob&)>;
    TFollowingView(QWidget* parent, std::string followingDir, TJobStarter start);
    ~TFollowingView() override;
    void SetLang();
    // Reads the list again (after a follow from the dialog, say).
    void Refresh();
    // Starts a check of every page; false (and said) when one runs already.
    bool CheckNow();
    bool Checking() const { return worker_ != nullptr; }
    // The hours between two checks (0: never); from the "FollowEveryHours" setting.
    void SetEveryHours(int hours);
    int EveryHours() const { return everyHours_; }
    // Says a check's result (tests replace it; default: a desktop notification).
    std::function<void(const QString& summary, const QString& body)> Notify;
    // The look-up of a list (tests may replace it); default: the page engine's.
    std::function<TPageList(const std::string& url)> LookUp;

    QTableWidget* tbPages = nullptr;
    QPushButton* btnCheckNow = nullptr;
    QPushButton* btnRemove = nullptr;
    QLabel* lblStatus = nullptr;
    QTimer* tmCheck = nullptr;

signals:
    // A check has ended (its jobs handed over).
    void checked();

private:
    void RemoveSelected();
    void Finished(std::vector<TFollowCheckPage> results);

    std::string dir_;
    TJobStarter start_;
    int everyHours_ = 6;
    std::unique_ptr<std::thread> worker_;
    std::unique_ptr<TFolderHold> hold_;
    std::atomic<bool> stop_{false};
};

// "FollowEveryHours" of the settings file: 0 to 720, 6 when missing or wrong.
int ReadFollowEveryHours(const std::string& settingsFile);
