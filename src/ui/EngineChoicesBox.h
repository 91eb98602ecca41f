// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the user asks of the page engine in the windows: the new-download
// dialog's group for any page that is not YouTube's (the format, quick choices
// or one of the page's own, subtitles, the title and chapters in the file), and
// the Options tab's group (the cookies to sign in with, a speed limit). Both
// keep their choices in bmt.ini (download/EngineSettings).

#include "engine/EngineSettings.h"
#include "engine/PageEngine.h"

#include <QGroupBox>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class TStatusLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

struct TEngineChoicesTexts {
    const char* gbEngineChoices;   // the dialog's group
    const char* lblEngineFormat;   // "Format:"
    const char* Best;
    const char* UpTo;              // "Best up to %1"
    const char* AudioOnly;
    const char* btnCheckFormats;   // "Check available formats"
    const char* lblSubtitles;      // "Subtitles:"
    const char* NoSubtitles;       // "none"
    const char* AllSubtitles;      // "all"
    const char* chEmbedSubtitles;  // "Put subtitles in the file"
    const char* chMetadata;        // "Add title, chapters and cover picture to the file"
    const char* gbEngineAccess;    // the Options tab's group
    const char* lblCookies;        // "Sign in with the cookies of:"
    const char* NoCookies;         // "none"
    const char* CookiesFile;       // "a cookies file..."
    const char* lblLimitRate;      // "Speed limit:"
    const char* LimitRateHint;     // what it takes
    const char* PickCookiesFile;   // the file dialog's title
    const char* PageFormats;       // the heading of the page's own formats in the format list
    const char* NoLimit;           // what the empty speed limit means
};
const TEngineChoicesTexts& EngineChoicesTexts(bool polish);

// The dialog's group. "Check available formats" asks the dialog (checkRequested)
// to look the page up; ShowPage then offers the page's formats and subtitle
// languages besides the quick choices.
class TEngineChoicesBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TEngineChoicesBox(QWidget* parent);
    void SetLang();
    // The choices as bmt.ini keeps them, in and out.
    void Load(const TEngineDialogSettings& settings);
    TEngineDialogSettings Settings() const;
    // The page's formats and subtitle languages (none: only the quick choices).
    void ShowPage(const TPageInfo& page);
    void ForgetPage();
    // The format for the job: nothing for the engine's own choice (Best).
    std::optional<TEngineFormat> EngineChoice() const;

    QLabel* lblEngineFormat = nullptr;
    QComboBox* cbEngineFormat = nullptr;
    QPushButton* btnCheckEngineFormats = nullptr;
    QLabel* lblSubtitles = nullptr;
    QComboBox* cbSubtitles = nullptr;
    QCheckBox* chEmbedSubtitles = nullptr;
    QCheckBox* chMetadata = nullptr;

signals:
    void checkRequested();

private:
    void FillQuickChoices();
    void FillSubtitles(const std::vector<std::string>& languages);
    void SelectFormat(const TFormatChoice& choice);
    void SelectSubtitles(const std::string& subtitles);
    void SubtitlesChanged();

    std::vector<TPageFormat> formats_;
    std::vector<std::string> languages_;
};

// The Options tab's group: written to bmt.ini as soon as it changes.
class TEngineAccessBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TEngineAccessBox(QWidget* parent);
    void SetLang();
    // Shows what bmt.ini holds.
    void Reload();

    QLabel* lblCookies = nullptr;
    QComboBox* cbCookies = nullptr;
    TStatusLabel* lblCookiesFile = nullptr;
    QToolButton* btnCookiesFile = nullptr;
    QLabel* lblLimitRate = nullptr;
    QLineEdit* edLimitRate = nullptr;
    QLabel* lblLimitRateHint = nullptr;  // what the field takes, below it

    // Picks a cookies file (the tests answer it); empty: cancelled.
    std::function<QString(QWidget* owner, const QString& title)> PickFile;

private:
    void CookiesChanged();
    void PickCookiesFile();
    void LimitRateEdited();
    void Save();

    TEngineAccessSettings settings_;
    bool loading_ = false;
};
