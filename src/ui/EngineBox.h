// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page engine as the user sees it: the "Page engine" group of the Options
// tab (version, where it comes from, its age, the JavaScript runtime, Update,
// Undo update, channel, the weekly look), the update window with its progress,
// and the question that offers an update when a look-up found nothing.
// The engine is asked and updated on threads of their own: no window waits.

#include "engine/EngineUpdate.h"
#include "engine/EngineChoice.h"

#include <QDialog>
#include <QGroupBox>

#include <atomic>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class TStatusLabel;

// The texts of the engine's group, window and question.
struct TEngineTexts {
    const char* gbEngine;
    const char* Engine;            // "Engine:"
    const char* NoEngine;
    const char* Asking;            // while versions are asked
    const char* SourceOwn;
    const char* SourceBeside;
    const char* SourcePath;
    const char* DaysOld;           // "%1 days old"
    const char* Runtime;           // "JavaScript runtime:"
    const char* NoRuntime;
    const char* btnUpdateEngine;
    const char* btnRestoreEngine;
    const char* lblEngineChannel;
    const char* Stable;
    const char* Nightly;
    const char* chEngineWeekly;
    const char* UpdateCaption;
    const char* Cancel;
    const char* Close;
    const char* OfferOld;          // "The page engine is %1 days old."
    const char* OfferRuntime;      // no runtime for YouTube
    const char* OfferQuestion;     // "Update now?"
};
const TEngineTexts& EngineTexts(bool polish);

// The update window: runs one update, shows its steps and progress; Esc or
// Cancel stops it (nothing changes then). Closes itself when it is done.
class TFormEngineUpdate : public QDialog {
    Q_OBJECT
public:
    TFormEngineUpdate(QWidget* parent, TEngineChannel channel);
    ~TFormEngineUpdate() override;
    const TEngineUpdateResult& Result() const { return result_; }
    bool Running() const { return running_; }

    QLabel* lblStep = nullptr;
    QProgressBar* pbProgress = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Start();
    void Finished(const TEngineUpdateResult& result);

    TEngineChannel channel_;
    TEngineUpdateResult result_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    bool started_ = false;
    std::thread worker_;
};

// Runs the update window over parent; the result, also shown in a message.
TEngineUpdateResult RunEngineUpdate(QWidget* parent, TEngineChannel channel, bool showResult = true);

// After a look-up that found nothing, when the engine may be the cause: the
// message with the reason and the question; Yes runs the update. Changed when
// the engine changed and the look-up is worth asking again; NotOffered when
// the engine is not the cause after all (the message is not shown then).
enum class TEngineOffer { NotOffered, Declined, Changed };
TEngineOffer OfferEngineUpdate(QWidget* parent, const std::string& message, bool youTube,
                               const std::string& details = {});

class TEngineBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TEngineBox(QWidget* parent = nullptr);
    ~TEngineBox() override;

    void SetLang();
    // Asks again which engine and runtime are used (on a thread of its own).
    void Refresh();
    // The weekly look, when it is on and due.
    void WeeklyCheck();

    // The engine's and the runtime's lines: a long path is shortened in its
    // middle, the whole line is the tooltip then.
    TStatusLabel* lblEngine = nullptr;
    TStatusLabel* lblRuntime = nullptr;
    QLabel* lblEngineResult = nullptr;
    QPushButton* btnUpdateEngine = nullptr;
    QPushButton* btnRestoreEngine = nullptr;
    QLabel* lblEngineChannel = nullptr;
    QComboBox* cbEngineChannel = nullptr;
    QCheckBox* chEngineWeekly = nullptr;

signals:
    // The labels show what Refresh found.
    void refreshed();
    // A line was shown, or hidden, or changed: the window may need another size.
    void linesChanged();

protected:
    // Shown again (the Options tab chosen): an update made elsewhere shows.
    void showEvent(QShowEvent* event) override;

private:
    void btnUpdateEngineClick();
    void btnRestoreEngineClick();
    void ShowChoice();
    // The last update's (or undo's) result, in the program's language.
    void ShowResult(const TEngineUpdateResult& result);
    void JoinWorkers();

    TEngineChoice choice_;
    bool known_ = false;
    bool canRestore_ = false;
    std::optional<TEngineUpdateResult> result_;  // shown below the buttons
    std::thread refresher_;
    bool refreshing_ = false;
    bool refreshAgain_ = false;
    std::thread weekly_;
    std::atomic<bool> weeklyStop_{false};
};
