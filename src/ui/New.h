// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The new-download dialog: turns a page address or a local video file into a
// download job and hands it to the main window. Created once with the main
// window; closing it hides it, and its fields keep their contents.

#include "app/DownloadJob.h"
#include "convert/EncoderProfiles.h"
#include "plan/JobPlanner.h"

#include <QDialog>
#include <QKeySequence>
#include <QString>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class QAction;
struct TGetPlan;
class TClipChoicesBox;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QMimeData;
struct TGetRequest;
class QPushButton;
class QRadioButton;
class QToolButton;

class TEngineChoicesBox;

class TFormNew : public QDialog {
    Q_OBJECT
public:
    // Starts a job the dialog made (the main window's download process); false
    // when it was refused, and the dialog stays with its fields.
    using TJobStarter = std::function<bool(const TDownloadJob&)>;
    // owner: the main window (or none); openKey: the key that opens the dialog,
    // which closes it too (Ctrl+N when empty).
    explicit TFormNew(QWidget* owner, TJobStarter startJob = {}, const QKeySequence& openKey = {});
    ~TFormNew() override;

    void SetLang();

    // Puts a directory at the top of the history unless it is there already.
    void AddDir(const QString& dir);
    // The history's comparison key of a directory.
    static std::string DirKey(const std::string& dir);
    // Index of the history entry with the same key, or -1.
    int FindDir(const QString& dir) const;

    void actGetExecute();
    void actPasteUrlExecute();
    void actPageTitleExecute();
    void actChangeDirectoryExecute();
    void btnBrowseFileClick();
    void actCheckYoutubeFormatsExecute();
    // The address changed: the YouTube group is there only for a YouTube
    // address, and what a probe or a look-up of another address left is reset.
    void edURLChange();
    // After the name of a page was looked up: when the page gave nothing, the
    // status line says at once why (unreachable, or no media).
    void PageLookedUp(const std::string& url, TVideoSite site, const std::string& name);
    // The line under the fields that stays until the address changes.
    QString Note() const { return note_; }
    // A local file picked or dropped: address, name and directory from its path.
    void LocalFileChosen(const QString& path);
    // Sets the output directory's text without touching the history.
    void SetDirectoryText(const QString& text);

    // The conversion profiles (Part of the job when conversion is on).
    void GetEncoderParams();
    std::string GetExt() const;
    void cbProfilesChange();
    void chConvertClick();
    void FillEncParams(TDownloadJob& job) const;

    // The format button that counts as chosen, and the format number the GET
    // action asks the YouTube resolver for.
    QRadioButton* CheckedYTRadio() const;
    int ChosenFormatNumber() const;
    // The settings value of the first checked format button ("MP4_720", ...).
    std::string CheckedFormatValue() const;

    // False for a profile whose encoder the installed ffmpeg lacks (it is shown
    // disabled and never handed to a job).
    bool ProfileUsable(int index) const;
    // from when it is usable, else the first usable profile, else -1.
    int FirstUsableProfile(int from) const;

    // The profiles in the order of cbProfiles.
    const std::vector<TEncoderProfile>& Profiles() const { return profiles_; }

    // The file dialog PickVideoFile shows: its dates and sizes follow the
    // program's language, not the system's.
    static QFileDialog* MakeOpenVideoDialog(QWidget* owner, const QString& filter);

    // The pickers the dialog opens; tests replace them.
    std::function<QString(QWidget* owner, const QString& filter)> PickVideoFile;
    std::function<QString(const QString& title, const QString& initial, QWidget* owner)> PickFolder;

    QFrame* pnUrl = nullptr;
    QFrame* pnMiddle = nullptr;
    QFrame* pnConvert = nullptr;
    QLabel* lblUrl = nullptr;
    QLineEdit* edURL = nullptr;
    QToolButton* btnPasteUrl = nullptr;
    QToolButton* btnBrowseFile = nullptr;
    QLabel* lblFileName = nullptr;
    QLineEdit* edFileName = nullptr;
    QPushButton* btnPastePageTitle = nullptr;
    QLabel* lblOutputDir = nullptr;
    QComboBox* cbDirectory = nullptr;
    QToolButton* btnBrowse = nullptr;
    QGroupBox* gbYoutubeFormats = nullptr;
    QRadioButton* rbMP4_1080 = nullptr;
    QRadioButton* rbMP4_720 = nullptr;
    QRadioButton* rbMP4_360 = nullptr;
    QRadioButton* rbFLV_480 = nullptr;
    QRadioButton* rbFLV_360 = nullptr;
    QRadioButton* rbFLV_240 = nullptr;
    QPushButton* btnCheckFormats = nullptr;
    QCheckBox* chConvert = nullptr;
    QComboBox* cbProfiles = nullptr;
    QCheckBox* chDelete = nullptr;
    QPushButton* btnGET = nullptr;
    QPushButton* btnClose = nullptr;

    QAction* actClose = nullptr;
    QAction* actEsc = nullptr;
    QAction* actPasteUrl = nullptr;
    QAction* actPageTitle = nullptr;
    QAction* actChangeDirectory = nullptr;
    QAction* actGet = nullptr;
    QAction* actCheckYoutubeFormats = nullptr;

    // The open-file filter of the current language (file dialog form).
    QString OpenVideoFilterText;

    // The six format buttons in the dialog's order: MP4 1080, 720, 360, FLV 480, 360, 240.
    QRadioButton* FormatButton(int index) const;

    // Any other page's format, subtitles and metadata (shown instead of the
    // YouTube formats); its "Check available formats" looks the page up.
    TEngineChoicesBox* gbEngineChoices = nullptr;
    void CheckEngineFormats();
    // Only the part wanted: a part of the video, chapters, sponsor segments.
    TClipChoicesBox* gbClip = nullptr;

    // The line that says which network step runs; hidden when none does.
    QLabel* lblStatus = nullptr;
    // A network step's limit from its start to its end (tests shorten it).
    static inline int NetworkStepSeconds = 20;
    // Runs work (which must not touch the windows) on a thread of its own, at most
    // NetworkStepSeconds long, while the dialog stays painted and answers: the
    // status line shows statusText, GET and the other network buttons are off,
    // and Esc or Close cancel the step (the dialog then closes). Returns false
    // when the step was cancelled: its results are not to be used. An exception
    // thrown by work is passed on here.
    bool RunNetworkStep(const char* statusText, const std::function<void()>& work);
    // True while a network step runs, or the jobs of a list or a batch are made.
    bool Busy() const { return busy_ || many_; }
    // While a list's or a batch's jobs are handed over, a number of that
    // hand-over (0 for a single job): jobs that come as many open no windows.
    std::uint64_t HandOver() const { return many_ ? handOvers_ : 0; }

    // A page that lists several videos. After the page's name was looked up and
    // the engine's answer was a list, the list itself is read (a network step)
    // and the dialog offers all of its videos or only the first.
    void CheckForList(const std::string& url);
    // The list the dialog offers for its address (none: IsList false).
    const TPageList& OfferedList() const { return list_; }
    QFrame* pnList = nullptr;
    QLabel* lblList = nullptr;
    QRadioButton* rbListAll = nullptr;
    QRadioButton* rbListFirst = nullptr;
    // Follows the list (its videos from now on come at each check) besides
    // downloading what is asked now.
    QCheckBox* chFollow = nullptr;
    QLabel* lblLatest = nullptr;
    QSpinBox* seLatest = nullptr;  // also the N latest listed now, at the first check
    // Where followed pages are kept (tests use a folder of their own).
    static inline std::string FollowingFolder;
    // Told the address of each list followed from the dialog.
    std::function<void(const std::string& url)> OnFollowed;
    // Jobs handed to the job starter between two repaints of a list's hand-over.
    static inline int HandOverSlice = 100;

    // Several addresses at once (pasted, dropped): after one question with their
    // count, one job each, looked up one after the other while the dialog
    // stays live (Esc cancels the rest). Those that could not be added are
    // named in one message at the end.
    void OfferBatch(const std::vector<std::string>& addresses);
    // The addresses of a drag or a clipboard's text with several lines (fewer
    // than two: none).
    static std::vector<std::string> BatchOf(const QMimeData* mime);
    static std::vector<std::string> BatchOf(const QString& text);

protected:
    void done(int result) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void BuildControls();
    void FitHeight();
    // Shows a message of the GET checks: owned by the dialog, "Brimtale 1.6".
    // A warning box; details: the engine's own words, shown on request.
    void Warn(const std::string& text, const std::string& details = {});
    // Follows the offered list; false (said) when it could not be.
    bool FollowOfferedList(const TGetRequest& request, const TGetPlan& plan);
    void ShowNote(const std::string& url, const std::string& text, const std::string& hint);
    void ClearNote();
    void ShowStatusLine();
    void BuildListRow();
    void HideList();
    // GET for every video of the offered list.
    void GetList(const TGetRequest& request, const std::string& directory);

    QWidget* owner_ = nullptr;
    TJobStarter startJob_;
    QKeySequence openKey_;
    std::vector<TEncoderProfile> profiles_;
    std::vector<std::string> missingEncoders_;  // per profile: the missing encoder, or ""
    QButtonGroup* formatGroup_ = nullptr;
    bool busy_ = false;
    std::atomic<bool> cancel_{false};
    std::string probedUrl_;      // the address whose probe set the format buttons
    std::string noteUrl_;        // the address the note is about
    QString note_;
    std::string pageProblem_;    // GET's message for noteUrl_ while it has no file name
    std::string pageDetails_;    // the engine's own words about it
    bool many_ = false;          // a list's or a batch's jobs are being made or handed over
    std::uint64_t handOvers_ = 0;  // how many times many_ was set
    std::string listUrl_;        // the address the offered list is of
    TPageList list_;
    std::string engineProbedUrl_;  // the address whose formats the engine's group shows
};
