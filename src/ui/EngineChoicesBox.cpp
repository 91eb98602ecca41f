// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EngineChoicesBox.h"

#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "base/ZQ_Strings.h"
#include "ui/StatusLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QToolButton>

namespace {
const TEngineChoicesTexts English = {
    "Any other page",
    "Format:",
    "Best",
    "Best up to %1",
    "Audio only",
    "Check available formats",
    "Subtitles:",
    "none",
    "all",
    "Put subtitles in the file",
    "Add title, chapters and cover picture to the file",
    "Sign-in and speed",
    "Sign in with the cookies of:",
    "none",
    "a cookies file...",
    "Speed limit:",
    "Bytes a second, e.g. 500K or 2M",
    "Cookies file (Netscape format)",
    "Formats of this page:",
    "no limit",
};

const TEngineChoicesTexts Polish = {
    "Inne strony",
    "Format:",
    "Najlepszy",
    "Najlepszy do %1",
    "Tylko d\u017awi\u0119k",
    "Sprawd\u017a dost\u0119pne formaty",
    "Napisy:",
    "brak",
    "wszystkie",
    "Umie\u015b\u0107 napisy w pliku",
    "Dodaj do pliku tytu\u0142, rozdzia\u0142y i ok\u0142adk\u0119",
    "Logowanie i pr\u0119dko\u015b\u0107",
    "Zaloguj ciasteczkami z:",
    "brak",
    "pliku ciasteczek...",
    "Ograniczenie pr\u0119dko\u015bci:",
    "Bajt\u00f3w na sekund\u0119, np. 500K lub 2M",
    "Plik ciasteczek (format Netscape)",
    "Formaty tej strony:",
    "bez ograniczenia",
};

// The quick choices, in the list's order.
const char* const QuickChoices[] = {"best", "1080p", "720p", "480p", "audio"};
constexpr int QuickCount = 5;

const char* const Browsers[] = {"Firefox", "Chromium", "Chrome", "Brave"};

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.c_str(), static_cast<qsizetype>(text.size()));
}

std::string S(const QString& text)
{
    return text.toUtf8().toStdString();
}
} // namespace

const TEngineChoicesTexts& EngineChoicesTexts(bool polish)
{
    return polish ? Polish : English;
}

// The dialog's group.

TEngineChoicesBox::TEngineChoicesBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName("gbEngineChoices");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    lblEngineFormat = new QLabel(this);
    cbEngineFormat = new QComboBox(this);
    cbEngineFormat->setObjectName("cbEngineFormat");
    cbEngineFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbEngineFormat->setMinimumContentsLength(16);
    btnCheckEngineFormats = new QPushButton(this);
    btnCheckEngineFormats->setObjectName("btnCheckEngineFormats");
    btnCheckEngineFormats->setAutoDefault(false);
    lblSubtitles = new QLabel(this);
    cbSubtitles = new QComboBox(this);
    cbSubtitles->setObjectName("cbSubtitles");
    chEmbedSubtitles = new QCheckBox(this);
    chEmbedSubtitles->setObjectName("chEmbedSubtitles");
    chMetadata = new QCheckBox(this);
    chMetadata->setObjectName("chMetadata");
    chMetadata->setChecked(true);
    grid->addWidget(lblEngineFormat, 0, 0);
    grid->addWidget(cbEngineFormat, 0, 1, 1, 2);
    grid->addWidget(btnCheckEngineFormats, 0, 3);
    grid->addWidget(lblSubtitles, 1, 0);
    grid->addWidget(cbSubtitles, 1, 1);
    grid->addWidget(chEmbedSubtitles, 1, 2, 1, 2);
    grid->addWidget(chMetadata, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    FillQuickChoices();
    FillSubtitles({});
    connect(btnCheckEngineFormats, &QPushButton::clicked, this, &TEngineChoicesBox::checkRequested);
    connect(cbSubtitles, &QComboBox::currentIndexChanged, this, [this] { SubtitlesChanged(); });
    SubtitlesChanged();
}

void TEngineChoicesBox::FillQuickChoices()
{
    const QString chosen = cbEngineFormat->currentData().toString();
    const TEngineChoicesTexts& t = EngineChoicesTexts(AppSettings.LangPolish);
    cbEngineFormat->clear();
    cbEngineFormat->addItem(QString::fromUtf8(t.Best), QString("best"));
    for (const char* height : {"1080p", "720p", "480p"})
        cbEngineFormat->addItem(QString::fromUtf8(t.UpTo).arg(height), QString(height));
    cbEngineFormat->addItem(QString::fromUtf8(t.AudioOnly), QString("audio"));
    // The page's own formats under a heading of theirs: id, container,
    // resolution, frame rate, codecs and size, as far as the page tells them.
    bool headed = false;
    for (const TPageFormat& f : formats_) {
        std::optional<TFormatChoice> id = ParseFormatChoice(f.Id);
        if (!id || id->Kind != TFormatChoice::TKind::Id)
            continue;
        if (!headed) {
            headed = true;
            cbEngineFormat->insertSeparator(cbEngineFormat->count());
            cbEngineFormat->addItem(QString::fromUtf8(t.PageFormats));
            // A heading, not a choice.
            if (auto* model = qobject_cast<QStandardItemModel*>(cbEngineFormat->model()))
                if (QStandardItem* heading = model->item(cbEngineFormat->count() - 1))
                    heading->setFlags(heading->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
        }
        cbEngineFormat->addItem(Q(FormatChoiceLine(f, AppSettings.LangPolish)), Q(f.Id));
    }
    const int index = cbEngineFormat->findData(chosen);
    cbEngineFormat->setCurrentIndex(index >= 0 ? index : 0);
    // The open list is as wide as its longest line.
    cbEngineFormat->view()->setMinimumWidth(cbEngineFormat->view()->sizeHintForColumn(0) +
                                            cbEngineFormat->view()->frameWidth() * 2 +
                                            style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void TEngineChoicesBox::FillSubtitles(const std::vector<std::string>& languages)
{
    const QString chosen = cbSubtitles->currentData().toString();
    const TEngineChoicesTexts& t = EngineChoicesTexts(AppSettings.LangPolish);
    cbSubtitles->clear();
    cbSubtitles->addItem(QString::fromUtf8(t.NoSubtitles), QString());
    cbSubtitles->addItem(QString::fromUtf8(t.AllSubtitles), QString("all"));
    for (const std::string& language : languages)
        cbSubtitles->addItem(Q(language), Q(language));
    const int index = cbSubtitles->findData(chosen);
    if (index >= 0) {
        cbSubtitles->setCurrentIndex(index);
    } else {
        // A remembered language the page doesn't list stays chosen.
        cbSubtitles->addItem(chosen, chosen);
        cbSubtitles->setCurrentIndex(cbSubtitles->count() - 1);
    }
}

void TEngineChoicesBox::SubtitlesChanged()
{
    chEmbedSubtitles->setEnabled(!cbSubtitles->currentData().toString().isEmpty());
}

void TEngineChoicesBox::SetLang()
{
    const TEngineChoicesTexts& t = EngineChoicesTexts(AppSettings.LangPolish);
    setTitle(QString::fromUtf8(t.gbEngineChoices));
    lblEngineFormat->setText(QString::fromUtf8(t.lblEngineFormat));
    btnCheckEngineFormats->setText(QString::fromUtf8(t.btnCheckFormats));
    lblSubtitles->setText(QString::fromUtf8(t.lblSubtitles));
    chEmbedSubtitles->setText(QString::fromUtf8(t.chEmbedSubtitles));
    chMetadata->setText(QString::fromUtf8(t.chMetadata));
    FillQuickChoices();
    FillSubtitles(languages_);
}

void TEngineChoicesBox::SelectFormat(const TFormatChoice& choice)
{
    const QString value = Q(FormatChoiceText(choice));
    int index = cbEngineFormat->findData(value);
    if (index < 0) {
        // A remembered id the list doesn't show yet stays chosen.
        cbEngineFormat->addItem(value, value);
        index = cbEngineFormat->count() - 1;
    }
    cbEngineFormat->setCurrentIndex(index);
}

void TEngineChoicesBox::SelectSubtitles(const std::string& subtitles)
{
    const int index = cbSubtitles->findData(Q(subtitles));
    if (index >= 0) {
        cbSubtitles->setCurrentIndex(index);
    } else {
        cbSubtitles->addItem(Q(subtitles), Q(subtitles));
        cbSubtitles->setCurrentIndex(cbSubtitles->count() - 1);
    }
}

void TEngineChoicesBox::Load(const TEngineDialogSettings& settings)
{
    SelectFormat(settings.Format);
    SelectSubtitles(settings.Subtitles);
    chEmbedSubtitles->setChecked(settings.EmbedSubtitles);
    chMetadata->setChecked(settings.Metadata);
    SubtitlesChanged();
}

TEngineDialogSettings TEngineChoicesBox::Settings() const
{
    TEngineDialogSettings settings;
    settings.Format = ParseFormatChoice(S(cbEngineFormat->currentData().toString())).value_or(TFormatChoice{});
    settings.Subtitles = S(cbSubtitles->currentData().toString());
    settings.EmbedSubtitles = chEmbedSubtitles->isChecked();
    settings.Metadata = chMetadata->isChecked();
    return settings;
}

void TEngineChoicesBox::ShowPage(const TPageInfo& page)
{
    formats_ = page.Formats;
    languages_ = page.SubtitleLanguages;
    FillQuickChoices();
    FillSubtitles(languages_);
}

void TEngineChoicesBox::ForgetPage()
{
    if (formats_.empty() && languages_.empty())
        return;
    // The chosen id stays: it may be the next page's as well.
    const TEngineDialogSettings kept = Settings();
    formats_.clear();
    languages_.clear();
    FillQuickChoices();
    FillSubtitles({});
    Load(kept);
}

std::optional<TEngineFormat> TEngineChoicesBox::EngineChoice() const
{
    const TFormatChoice choice = Settings().Format;
    if (choice.Kind == TFormatChoice::TKind::Best)
        return std::nullopt;
    return EngineFormatFor(choice);
}

// The Options tab's group.

TEngineAccessBox::TEngineAccessBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName("gbEngineAccess");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    lblCookies = new QLabel(this);
    cbCookies = new QComboBox(this);
    cbCookies->setObjectName("cbCookies");
    cbCookies->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    btnCookiesFile = new QToolButton(this);
    btnCookiesFile->setObjectName("btnCookiesFile");
    btnCookiesFile->setText("...");
    // The cookies file's path takes the room there is, shortened in its middle.
    lblCookiesFile = new TStatusLabel(this);
    lblCookiesFile->setObjectName("lblCookiesFile");
    lblCookiesFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblLimitRate = new QLabel(this);
    edLimitRate = new QLineEdit(this);
    edLimitRate->setObjectName("edLimitRate");
    edLimitRate->setMaxLength(20);
    lblLimitRateHint = new QLabel(this);
    lblLimitRateHint->setObjectName("lblLimitRateHint");
    grid->addWidget(lblCookies, 0, 0);
    grid->addWidget(cbCookies, 0, 1);
    grid->addWidget(btnCookiesFile, 0, 2);
    grid->addWidget(lblCookiesFile, 1, 0, 1, 3);
    grid->addWidget(lblLimitRate, 2, 0);
    grid->addWidget(edLimitRate, 2, 1, 1, 2);
    grid->addWidget(lblLimitRateHint, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    PickFile = [](QWidget* owner, const QString& title) { return QFileDialog::getOpenFileName(owner, title); };
    SetLang();
    Reload();
    connect(cbCookies, &QComboBox::currentIndexChanged, this, [this] { CookiesChanged(); });
    connect(btnCookiesFile, &QToolButton::clicked, this, [this] { PickCookiesFile(); });
    connect(edLimitRate, &QLineEdit::editingFinished, this, [this] { LimitRateEdited(); });
}

void TEngineAccessBox::SetLang()
{
    const TEngineChoicesTexts& t = EngineChoicesTexts(AppSettings.LangPolish);
    setTitle(QString::fromUtf8(t.gbEngineAccess));
    lblCookies->setText(QString::fromUtf8(t.lblCookies));
    lblLimitRate->setText(QString::fromUtf8(t.lblLimitRate));
    edLimitRate->setPlaceholderText(QString::fromUtf8(t.NoLimit));
    edLimitRate->setToolTip(QString::fromUtf8(t.LimitRateHint));
    lblLimitRateHint->setText(QString::fromUtf8(t.LimitRateHint));
    btnCookiesFile->setToolTip(QString::fromUtf8(t.PickCookiesFile));
    const bool was = loading_;
    loading_ = true;
    const int row = cbCookies->currentIndex();
    cbCookies->clear();
    cbCookies->addItem(QString::fromUtf8(t.NoCookies));
    for (const char* browser : Browsers)
        cbCookies->addItem(browser);
    cbCookies->addItem(QString::fromUtf8(t.CookiesFile));
    cbCookies->setCurrentIndex(row >= 0 ? row : 0);
    loading_ = was;
}

void TEngineAccessBox::Reload()
{
    settings_ = ReadEngineAccessSettings(SettingsFile);
    loading_ = true;
    int row = 0;
    const std::string browser = LowerAscii(settings_.CookiesBrowser.substr(0, settings_.CookiesBrowser.find(':')));
    for (int i = 0; i < 4; ++i)
        if (browser == LowerAscii(Browsers[i]))
            row = i + 1;
    if (row == 0 && !settings_.CookiesFile.empty())
        row = 5;
    cbCookies->setCurrentIndex(row);
    lblCookiesFile->SetPathText(row == 5 ? Q(settings_.CookiesFile) : QString(), Q(settings_.CookiesFile));
    lblCookiesFile->setVisible(row == 5);
    btnCookiesFile->setVisible(row == 5);
    edLimitRate->setText(Q(settings_.LimitRate));
    loading_ = false;
}

void TEngineAccessBox::CookiesChanged()
{
    if (loading_)
        return;
    const int row = cbCookies->currentIndex();
    if (row == 5) {
        if (settings_.CookiesFile.empty()) {
            PickCookiesFile();
            return;
        }
        settings_.CookiesBrowser.clear();
    } else {
        settings_.CookiesBrowser = row >= 1 && row <= 4 ? LowerAscii(Browsers[row - 1]) : std::string();
        settings_.CookiesFile.clear();
    }
    Save();
}

void TEngineAccessBox::PickCookiesFile()
{
    const QString file = PickFile ? PickFile(this, QString::fromUtf8(EngineChoicesTexts(AppSettings.LangPolish).PickCookiesFile))
                                  : QString();
    if (!file.isEmpty()) {
        settings_.CookiesFile = S(file);
        settings_.CookiesBrowser.clear();
    }
    Save();
}

void TEngineAccessBox::LimitRateEdited()
{
    const std::string typed = Trim(S(edLimitRate->text()));
    // Only a rate the program can read is kept; anything else shows the last one.
    if (typed.empty() || ParseRateLimit(typed))
        settings_.LimitRate = typed;
    Save();
}

void TEngineAccessBox::Save()
{
    WriteEngineAccessSettings(SettingsFile, settings_);
    SetLookUpCookies(EngineOptionsFrom({}, settings_));
    Reload();
}
