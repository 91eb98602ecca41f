// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ClipChoicesBox.h"

#include "app/Settings.h"
#include "base/ZQ_Strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace {
const TClipChoicesTexts English = {
    "Only the part you want",
    "Only part of it, from",
    "to",
    "Times as 90, 1:30, 1:02:03 or 1m30s; the file is named with them",
    "One file per chapter",
    "Sponsor segments:",
    "leave them out",
    "mark them as chapters",
    "Asks the SponsorBlock service on the internet; when it fails, the video comes whole",
    "Kinds",
    {"sponsor", "self-promotion", "interaction reminder", "intro", "outro"},
    "Tick at least one kind of sponsor segment.",
};

const TClipChoicesTexts Polish = {
    "Tylko potrzebna część",
    "Tylko część filmu, od",
    "do",
    "Czas jako 90, 1:30, 1:02:03 albo 1m30s; plik dostaje go w nazwie",
    "Plik na każdy rozdział",
    "Segmenty sponsorowane:",
    "pomiń je",
    "oznacz je jako rozdziały",
    "Pyta usługę SponsorBlock w internecie; gdy zawiedzie, film jest pobierany w całości",
    "Rodzaje",
    {"sponsor", "autopromocja", "przypomnienie o interakcji", "wstęp", "zakończenie"},
    "Zaznacz co najmniej jeden rodzaj segmentów sponsorowanych.",
};

QString U(const char* text)
{
    return QString::fromUtf8(text);
}

std::string S(const QString& text)
{
    return text.toUtf8().toStdString();
}
} // namespace

const TClipChoicesTexts& ClipChoicesTexts(bool polish)
{
    return polish ? Polish : English;
}

TClipChoicesBox::TClipChoicesBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName("gbClip");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    chSection = new QCheckBox(this);
    chSection->setObjectName("chSection");
    edFrom = new QLineEdit(this);
    edFrom->setObjectName("edFrom");
    edFrom->setMaxLength(20);
    lblTo = new QLabel(this);
    edTo = new QLineEdit(this);
    edTo->setObjectName("edTo");
    edTo->setMaxLength(20);
    // Three rows: the part; the chapters; the sponsor segments, how, which.
    auto* first = new QHBoxLayout();
    first->addWidget(chSection);
    first->addWidget(edFrom);
    first->addWidget(lblTo);
    first->addWidget(edTo);
    first->addStretch(1);
    grid->addLayout(first, 0, 0);
    chSplitChapters = new QCheckBox(this);
    chSplitChapters->setObjectName("chSplitChapters");
    grid->addWidget(chSplitChapters, 1, 0);
    chSponsor = new QCheckBox(this);
    chSponsor->setObjectName("chSponsor");
    cbSponsorMode = new QComboBox(this);
    cbSponsorMode->setObjectName("cbSponsorMode");
    // As wide as its choice needs, not as its longest one.
    cbSponsorMode->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbSponsorMode->setMinimumContentsLength(16);
    btnCategories = new QToolButton(this);
    btnCategories->setObjectName("btnCategories");
    btnCategories->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(btnCategories);
    for (std::size_t i = 0; i < std::size(actCategories); ++i) {
        actCategories[i] = menu->addAction(QString());
        actCategories[i]->setObjectName(QString("actCategory_") + SponsorCategories[i].Engine);
        actCategories[i]->setCheckable(true);
    }
    actCategories[0]->setChecked(true);
    btnCategories->setMenu(menu);
    auto* second = new QHBoxLayout();
    second->addWidget(chSponsor);
    second->addWidget(cbSponsorMode);
    second->addWidget(btnCategories);
    second->addStretch(1);
    grid->addLayout(second, 2, 0);
    // The texts stay whole; the fields and the list give way.
    for (QWidget* w : {static_cast<QWidget*>(chSection), static_cast<QWidget*>(lblTo),
                       static_cast<QWidget*>(chSplitChapters), static_cast<QWidget*>(chSponsor),
                       static_cast<QWidget*>(btnCategories)})
        w->setSizePolicy(QSizePolicy::Fixed, w->sizePolicy().verticalPolicy());
    connect(chSection, &QCheckBox::toggled, this, [this] { Enable(); });
    connect(chSponsor, &QCheckBox::toggled, this, [this] { Enable(); });
    SetLang();
    Enable();
}

void TClipChoicesBox::Enable()
{
    edFrom->setEnabled(chSection->isChecked());
    edTo->setEnabled(chSection->isChecked());
    cbSponsorMode->setEnabled(chSponsor->isChecked());
    btnCategories->setEnabled(chSponsor->isChecked());
}

void TClipChoicesBox::SetLang()
{
    const TClipChoicesTexts& t = ClipChoicesTexts(AppSettings.LangPolish);
    setTitle(U(t.gbClip));
    chSection->setText(U(t.chSection));
    lblTo->setText(U(t.lblTo));
    edFrom->setPlaceholderText("0:00");
    edTo->setPlaceholderText("1:30");
    for (QWidget* w : {static_cast<QWidget*>(chSection), static_cast<QWidget*>(edFrom), static_cast<QWidget*>(edTo)})
        w->setToolTip(U(t.SectionHint));
    chSplitChapters->setText(U(t.chSplitChapters));
    chSponsor->setText(U(t.chSponsor));
    chSponsor->setToolTip(U(t.SponsorHint));
    const int mode = cbSponsorMode->currentIndex();
    cbSponsorMode->clear();
    cbSponsorMode->addItem(U(t.SponsorRemove), QString("remove"));
    cbSponsorMode->addItem(U(t.SponsorMark), QString("mark"));
    cbSponsorMode->setCurrentIndex(mode > 0 ? mode : 0);
    btnCategories->setText(U(t.btnCategories));
    for (std::size_t i = 0; i < std::size(actCategories); ++i)
        actCategories[i]->setText(U(t.Categories[i]));
    // The dialog measures its smallest width right after: the new texts' sizes count.
    if (layout()) {
        layout()->invalidate();
        layout()->activate();
    }
    updateGeometry();
}

std::optional<TClipOptions> TClipChoicesBox::Clip(std::string& error) const
{
    const bool polish = AppSettings.LangPolish;
    TClipOptions clip;
    if (chSection->isChecked()) {
        const std::string text = Trim(S(edFrom->text())) + "-" + Trim(S(edTo->text()));
        const std::optional<TTimeSection> section = ParseTimeSection(text, error, polish);
        if (!section)
            return std::nullopt;
        clip.Section = section;
    }
    clip.SplitChapters = chSplitChapters->isChecked();
    if (chSponsor->isChecked()) {
        std::string names;
        for (std::size_t i = 0; i < std::size(actCategories); ++i)
            if (actCategories[i]->isChecked())
                names += (names.empty() ? "" : ",") + std::string(SponsorCategories[i].Engine);
        const std::optional<std::string> categories = ParseSponsorCategories(names);
        if (!categories) {
            error = ClipChoicesTexts(polish).NoCategory;
            return std::nullopt;
        }
        clip.Sponsor = cbSponsorMode->currentData().toString() == "mark" ? TSponsorMode::Mark : TSponsorMode::Remove;
        clip.SponsorCategories = *categories;
    }
    return clip;
}
