// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The new-download dialog's group for taking only the part wanted: a part of
// the video (from, to), one file per chapter, and the sponsor segments left
// out or marked as chapters, with their categories. Nothing of it is on by
// default, and nothing of it is remembered.

#include "engine/ClipOptions.h"

#include <QGroupBox>

#include <optional>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

struct TClipChoicesTexts {
    const char* gbClip;            // the group
    const char* chSection;         // "Only part of it, from"
    const char* lblTo;             // "to"
    const char* SectionHint;       // how times are written
    const char* chSplitChapters;   // "One file per chapter"
    const char* chSponsor;         // "Leave out sponsor segments"
    const char* SponsorRemove;     // "leave them out"
    const char* SponsorMark;       // "mark them as chapters"
    const char* SponsorHint;       // it needs the internet
    const char* btnCategories;     // the button of the kinds' menu: "Kinds"
    const char* Categories[5];     // in the order of SponsorCategories
    const char* NoCategory;        // the message when none is ticked
};
const TClipChoicesTexts& ClipChoicesTexts(bool polish);

class TClipChoicesBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TClipChoicesBox(QWidget* parent);
    void SetLang();
    // The options as chosen; nothing with the reason in error when a time or
    // the categories are not right.
    std::optional<TClipOptions> Clip(std::string& error) const;

    QCheckBox* chSection = nullptr;
    QLineEdit* edFrom = nullptr;
    QLabel* lblTo = nullptr;
    QLineEdit* edTo = nullptr;
    QCheckBox* chSplitChapters = nullptr;
    QCheckBox* chSponsor = nullptr;
    QComboBox* cbSponsorMode = nullptr;
    QToolButton* btnCategories = nullptr;
    QAction* actCategories[5] = {};  // checkable, in its menu

private:
    void Enable();
};
