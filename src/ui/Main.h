// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window of the interactive mode: the button that opens the
// new-download dialog, the site links, the options and about tabs, and the tray
// icon. It starts a download process for every finished job (GetFile).

#include "app/DownloadJob.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QString>
#include "ui/WindowParts.h"

#include <QWidget>

#include <deque>
#include <functional>
#include <string>

class QAction;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class TFollowingView;
class QTimer;
class QToolButton;
class QUrl;
class QSpinBox;
class TDownloadListPane;
class TDownloadQueue;
class TEngineBox;
class TFormNew;
class TLinkLabel;

// The executable that GetFile starts for a job; the running program unless a
// test points it elsewhere.
extern std::string ProgramExecutable;

// Opens a web address in the browser (tests replace it).
extern std::function<void(const QUrl&)> OpenUrlInBrowser;

// Whether the desktop offers a tray now (tests replace it). The main window asks
// every TrayPollMs, so a tray that comes after the program gets the icon.
extern std::function<bool()> SystemTrayAvailable;

// The main window; null before it is created and after it is gone.
class TEngineAccessBox;
class TFormMain;
extern TFormMain* FormMain;

class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    TFormNew* FormNew() const { return formNew_; }
    // The list of jobs and its queue.
    TDownloadQueue* Queue() const { return queue_; }
    // Addresses of "brimtale --add" (the request as it came); false when it is none.
    bool AddHandedAddresses(const std::string& request);

    // Puts a job of the dialog in the list, whose queue starts its download
    // process; false (after the refusal message, shown above the dialog when
    // that is open) when the job is not valid. A single job opens its window
    // as "Show a window for each download" says; a list's or a batch's jobs
    // open none and share one notification.
    bool GetFile(TDownloadJob job);
    // The same for one of many jobs (a batch's number from the queue).
    bool GetOneOfMany(TDownloadJob job, std::uint64_t batch);

    // What closing with work left asks (tests answer it through the message hook).
    enum class TCloseAnswer { Quit, KeepRunning, Cancel };
    TCloseAnswer AskWorkLeft();
    // Quit from the tray menu: asks as closing does, then ends the program.
    void actQuitExecute();
    // The status line, the window's title and the tray's tooltip, from the list.
    void UpdateListStatus();
    // What a notification of the list shows (tests replace it).
    std::function<void(const QString& summary, const QString& body)> OnNotify;

    void SetLang();
    void InitActions();

    // Opens the dialog with the clipboard's first line (Ctrl+N).
    void actNewExecute();
    // Opens the dialog with an address or a file, as Ctrl+N does with the
    // clipboard: recognition, clean-up, the proposed name, the format probe.
    // False (the dialog only brought up) while the dialog's network step runs.
    bool OpenAddress(std::string text);
    // An address from a later start of the program: opened now, or, while the
    // dialog looks something up, once that has ended. None is lost.
    void OpenHandedAddress(const std::string& text);
    void actShowHideMainWindowExecute();
    void actMinimizeToTrayExecute();
    void actCloseExecute();
    void actEscExecute();
    void cbLanguageChange();
    void chShortcut_DesktopClick();
    void chShortcut_StartMenuClick();
    void chNotificationsClick();
    void chListFolderClick();
    void popTrayPopup();
    void tiDblClick();
    // A single click on the tray icon: the window is shown and brought up.
    void tiClick();
    // Follows the tray coming and going: the icon is shown once there is one,
    // and the window once there is none (it could not be found again hidden).
    void tmTrayTimer();
    static inline int TrayPollMs = 2000;
    // A file dropped on the window (only the first one counts).
    void DroppedFile(const QString& path);

    // Window caption and application title are kept apart; both are "Brimtale 1.6" here.
    QString ApplicationTitle;
    // Whether hiding to the tray is possible; when not, the window minimises instead.
    bool TrayAvailable = false;
    // Process id of the last download process started (0: none).
    qint64 LastDownloadPid = 0;

    QTabWidget* pc = nullptr;
    QWidget* tsMain = nullptr;
    QWidget* tsOptions = nullptr;
    QWidget* tsAbout = nullptr;
    TFollowingView* tsFollowing = nullptr;  // the followed pages (the last tab)
    QPushButton* btnNew = nullptr;
    QLabel* lblPending = nullptr;  // addresses handed over that wait for their turn
    QLabel* lblStatus = nullptr;   // under the list: how many jobs are in each state, the speed
    QFrame* Panel1 = nullptr;
    TLinkLabel* Label1 = nullptr;
    TLinkLabel* Label3 = nullptr;
    QToolButton* btnMinimizeToTray = nullptr;
    QLabel* lblLanguage = nullptr;
    QComboBox* cbLanguage = nullptr;
    QGroupBox* gbShortcuts = nullptr;
    QCheckBox* chShortcut_StartMenu = nullptr;
    QCheckBox* chShortcut_Desktop = nullptr;
    QCheckBox* chNotifications = nullptr;
    QCheckBox* chListFolder = nullptr;  // a list's videos in a folder named after it
    TEngineBox* gbEngine = nullptr;
    QGroupBox* gbDownloads = nullptr;
    QLabel* lblMaxDownloads = nullptr;
    QSpinBox* seMaxDownloads = nullptr;
    QLabel* lblConnections = nullptr;
    QSpinBox* seConnections = nullptr;
    QCheckBox* chShowDownloadWindows = nullptr;
    QCheckBox* chResumeAtStart = nullptr;
    TDownloadListPane* pnDownloads = nullptr;
    TEngineAccessBox* gbEngineAccess = nullptr;  // cookies to sign in with, a speed limit
    QFrame* Panel2 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblAboutDate = nullptr;
    QLabel* lblLicence = nullptr;  // wrapped to the tab's width
    TLinkLabel* lblWww = nullptr;

    QAction* actNew = nullptr;
    QAction* actMinimizeToTray = nullptr;
    QAction* actEsc = nullptr;
    QAction* actClose = nullptr;
    QAction* actShowHideMainWindow = nullptr;

    QSystemTrayIcon* ti = nullptr;
    QMenu* popTray = nullptr;
    QTimer* tmTray = nullptr;

signals:
    // The window has closed: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Shows the window (restored when minimized) in front of the others.
    void BringUp();
    void FormCreate();
    void FormClose();
    void FitSize();
    bool AddToList(TDownloadJob job, bool opensWindow, std::uint64_t batch);
    // The first size: as the user left it, or what the window needs, within the screen.
    void PlaceOnScreen();
    void SaveWindowLayout();
    void Notify(const QString& summary, const QString& body);
    void ShortcutBoxClicked(QCheckBox* box, const char* folderName);
    void Label1Click(TLinkLabel* label);
    void lblWwwClick();

    void OpenPendingAddresses();
    // The list and its options (parts of the window of their own).
    void CreateDownloadList(QBoxLayout* root);
    QWidget* CreateDownloadOptions(QWidget* parent);
    void DownloadOptionsChanged();
    void SetDownloadListLang();

    TFormNew* formNew_ = nullptr;
    TDownloadQueue* queue_ = nullptr;
    // When a single click last brought the window up (the double click that
    // follows it must not hide it again).
    QElapsedTimer shownByClick_;
    std::deque<std::string> pendingAddresses_;
    QTimer* tmStatus_ = nullptr;      // gathers the list's changes for the status line
    bool toldInTray_ = false;         // "keeps running in the tray" said once
    bool quitting_ = false;           // the user chose Quit: the window closes for good
    std::uint64_t handOver_ = 0;      // the dialog's hand-over of many jobs being taken
    std::uint64_t handOverBatch_ = 0; // and its batch
    std::uint64_t followBatch_ = 0;   // new videos of followed pages found in one check
    // Names the addresses that wait (none: hidden).
    void ShowPendingAddresses();
    static constexpr int PendingAddressRetryMs = 200;
};

// A label that looks and acts like a link: hand cursor, underlined while the
// mouse is over it, and a signal on click.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};

// The first local file of a drag, or the empty text.
QString FirstLocalFile(const QMimeData* mime);
