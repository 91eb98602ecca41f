// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/New.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/StartUp.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "shell/ZQ_BrowseForFolder.h"
#include "convert/EncoderCheck.h"
#include "plan/JobPlanner.h"
#include "plan/ListJobs.h"
#include "ui/EngineBox.h"
#include "ui/EngineChoicesBox.h"
#include "ui/ClipChoicesBox.h"
#include "app/FollowTexts.h"
#include "download/FollowedPages.h"
#include "engine/EngineSettings.h"
#include "ui/MessageBoxes.h"
#include "app/Texts.h"
#include "ui/WindowParts.h"

#include <QEventLoop>
#include <QKeyEvent>
#include <QMetaObject>
#include <QSpinBox>
#include <QTimer>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QIdentityProxyModel>
#include <QFileSystemModel>
#include <QLocale>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <optional>
#include <array>
#include <chrono>
#include <exception>
#include <thread>
#include <climits>
#include <cstdint>

namespace {

constexpr int ClientWidth = 584;
constexpr int ClientHeight = 292;
constexpr int MinimumWidth = 440;
constexpr int ToolTipMilliseconds = 6000;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string S(const QString& s)
{
    return s.toStdString();
}

void SetActionText(QAction* action, const char* text)
{
    action->setText(QString::fromUtf8(text));
    action->setToolTip(QString::fromUtf8(text));
}

// The language the program shows, as a locale for dates and sizes.
QLocale ProgramLocale()
{
    return AppSettings.LangPolish ? QLocale(QLocale::Polish, QLocale::Poland)
                                  : QLocale(QLocale::English, QLocale::UnitedStates);
}

// The file dialog's model with its dates and sizes written in the program's
// language (the file system model itself writes them in the system's).
class TLocaleFileProxy : public QIdentityProxyModel {
public:
    TLocaleFileProxy(const QLocale& locale, QObject* parent) : QIdentityProxyModel(parent), locale_(locale) {}

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files && role == Qt::DisplayRole && (index.column() == 1 || index.column() == 3)) {
            const QModelIndex source = mapToSource(index);
            if (index.column() == 3)
                return locale_.toString(files->lastModified(source), QLocale::ShortFormat);
            if (!files->isDir(source))
                return locale_.formattedDataSize(files->size(source));
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    QLocale locale_;
};

QFrame* Band(QWidget* parent, const QColor& colour)
{
    auto* frame = new QFrame(parent);
    if (colour.isValid()) {
        frame->setAutoFillBackground(true);
        QPalette pal = frame->palette();
        pal.setColor(QPalette::Window, colour);
        frame->setPalette(pal);
    }
    return frame;
}

} // namespace

TFormNew::TFormNew(QWidget* mainWindow, TJobStarter startJob, const QKeySequence& openKey)
    : QDialog(mainWindow, Qt::Tool | Qt::WindowStaysOnTopHint), owner_(mainWindow), startJob_(std::move(startJob)),
      openKey_(openKey)
{
    setObjectName("FormNew");
    PickVideoFile = [](QWidget* owner, const QString& filter) {
        const std::unique_ptr<QFileDialog> dialog(MakeOpenVideoDialog(owner, filter));
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().constFirst();
    };
    PickFolder = [](const QString& title, const QString& initial, QWidget* owner) {
        return BrowseForFolder(title, initial, owner);
    };
    BuildControls();
    FormCreate();
}

TFormNew::~TFormNew() = default;

QFileDialog* TFormNew::MakeOpenVideoDialog(QWidget* owner, const QString& filter)
{
    auto* dialog = new QFileDialog(owner, QString(), QString(), filter);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // The toolkit's own dialog: its texts, dates and sizes are in the program's language.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    const QLocale locale = ProgramLocale();
    dialog->setLocale(locale);
    dialog->setProxyModel(new TLocaleFileProxy(locale, dialog));
    return dialog;
}

QRadioButton* TFormNew::FormatButton(int index) const
{
    const std::array<QRadioButton*, 6> buttons = {rbMP4_1080, rbMP4_720, rbMP4_360, rbFLV_480, rbFLV_360, rbFLV_240};
    if (index < 0 || index >= 6)
        return nullptr;
    return buttons[static_cast<std::size_t>(index)];
}

void TFormNew::BuildControls()
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Address band.
    pnUrl = Band(this, QColor(0xE4, 0xF5, 0xDC));
    auto* urlRow = new QHBoxLayout(pnUrl);
    urlRow->setContentsMargins(8, 8, 8, 8);
    lblUrl = new QLabel(pnUrl);
    edURL = new QLineEdit(pnUrl);
    edURL->setObjectName("edURL");
    btnPasteUrl = new QToolButton(pnUrl);
    btnPasteUrl->setIcon(ButtonGlyph("paste"));
    btnPasteUrl->setAutoRaise(false);
    btnBrowseFile = new QToolButton(pnUrl);
    btnBrowseFile->setText("...");
    btnBrowseFile->setIcon(ButtonGlyph("browse"));
    btnBrowseFile->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    urlRow->addWidget(lblUrl);
    urlRow->addWidget(edURL, 1);
    urlRow->addWidget(btnPasteUrl);
    urlRow->addWidget(btnBrowseFile);
    root->addWidget(pnUrl);

    // File name, directory and formats.
    pnMiddle = Band(this, QColor());
    auto* grid = new QGridLayout(pnMiddle);
    grid->setContentsMargins(8, 6, 8, 6);
    lblFileName = new QLabel(pnMiddle);
    edFileName = new QLineEdit(pnMiddle);
    edFileName->setObjectName("edFileName");
    btnPastePageTitle = new QPushButton(pnMiddle);
    btnPastePageTitle->setAutoDefault(false);
    lblOutputDir = new QLabel(pnMiddle);
    cbDirectory = new QComboBox(pnMiddle);
    cbDirectory->setObjectName("cbDirectory");
    cbDirectory->setEditable(true);
    cbDirectory->setInsertPolicy(QComboBox::NoInsert);
    cbDirectory->setCompleter(nullptr);
    cbDirectory->setMaxVisibleItems(16);
    cbDirectory->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbDirectory->setMinimumContentsLength(20);
    btnBrowse = new QToolButton(pnMiddle);
    btnBrowse->setIcon(ButtonGlyph("browse"));
    btnBrowse->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    grid->addWidget(lblFileName, 0, 0);
    grid->addWidget(edFileName, 0, 1);
    grid->addWidget(btnPastePageTitle, 0, 2);
    grid->addWidget(lblOutputDir, 1, 0);
    grid->addWidget(cbDirectory, 1, 1);
    grid->addWidget(btnBrowse, 1, 2);
    grid->setColumnStretch(1, 1);

    gbYoutubeFormats = new QGroupBox(pnMiddle);
    auto* formats = new QGridLayout(gbYoutubeFormats);
    formats->setContentsMargins(8, 6, 8, 8);
    formats->setVerticalSpacing(4);
    formats->setHorizontalSpacing(14);
    formatGroup_ = new QButtonGroup(this);
    formatGroup_->setExclusive(true);
    auto* lblMp4 = new QLabel(" MP4 ", gbYoutubeFormats);
    auto* lblFlv = new QLabel(" FLV ", gbYoutubeFormats);
    QFont bold = lblMp4->font();
    bold.setBold(true);
    lblMp4->setFont(bold);
    lblFlv->setFont(bold);
    formats->addWidget(lblMp4, 0, 0);
    formats->addWidget(lblFlv, 1, 0);
    std::array<QRadioButton*, 6> buttons{};
    for (std::size_t i = 0; i < YouTubeFormats.size(); ++i) {
        const TYouTubeFormat& f = YouTubeFormats[i];
        auto* rb = new QRadioButton(QString::fromUtf8(f.Caption), gbYoutubeFormats);
        rb->setObjectName(f.Button);
        formatGroup_->addButton(rb);
        const int row = f.Mp4 ? 0 : 1;
        const int column = 1 + static_cast<int>(i % 3);
        formats->addWidget(rb, row, column);
        buttons[i] = rb;
    }
    rbMP4_1080 = buttons[0];
    rbMP4_720 = buttons[1];
    rbMP4_360 = buttons[2];
    rbFLV_480 = buttons[3];
    rbFLV_360 = buttons[4];
    rbFLV_240 = buttons[5];
    rbMP4_720->setChecked(true);
    btnCheckFormats = new QPushButton(gbYoutubeFormats);
    btnCheckFormats->setAutoDefault(false);
    formats->addWidget(btnCheckFormats, 0, 5, 2, 1);
    formats->setColumnStretch(4, 1);
    grid->addWidget(gbYoutubeFormats, 2, 0, 1, 3);
    // Shown only for a YouTube address; its room stays, so the dialog keeps its size.
    QSizePolicy formatsPolicy = gbYoutubeFormats->sizePolicy();
    formatsPolicy.setRetainSizeWhenHidden(true);
    gbYoutubeFormats->setSizePolicy(formatsPolicy);
    // Any other page: the page engine's choices, in the same place.
    gbEngineChoices = new TEngineChoicesBox(pnMiddle);
    grid->addWidget(gbEngineChoices, 3, 0, 1, 3);
    connect(gbEngineChoices, &TEngineChoicesBox::checkRequested, this, [this] { CheckEngineFormats(); });
    gbClip = new TClipChoicesBox(pnMiddle);
    grid->addWidget(gbClip, 4, 0, 1, 3);
    root->addWidget(pnMiddle);

    // Conversion band; it takes the remaining height.
    pnConvert = Band(this, QColor(0xFF, 0xF8, 0xD2));
    auto* conv = new QVBoxLayout(pnConvert);
    conv->setContentsMargins(8, 6, 8, 6);
    chConvert = new QCheckBox(pnConvert);
    cbProfiles = new QComboBox(pnConvert);
    cbProfiles->setMaxVisibleItems(24);
    cbProfiles->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbProfiles->setMinimumContentsLength(20);
    chDelete = new QCheckBox(pnConvert);
    conv->addWidget(chConvert);
    conv->addWidget(cbProfiles);
    conv->addWidget(chDelete);
    conv->addStretch(1);
    root->addWidget(pnConvert, 1);

    // The status of a network step, GET and Close.
    auto* buttonRow = new QHBoxLayout();
    buttonRow->setContentsMargins(8, 6, 8, 8);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setWordWrap(true);
    lblStatus->hide();
    buttonRow->addWidget(lblStatus, 1);
    btnGET = new QPushButton(this);
    btnGET->setObjectName("btnGET");
    btnGET->setDefault(true);
    QFont getFont = btnGET->font();
    getFont.setBold(true);
    btnGET->setFont(getFont);
    QPalette getPalette = btnGET->palette();
    getPalette.setColor(QPalette::ButtonText, QColor(0x00, 0x33, 0xCC));
    btnGET->setPalette(getPalette);
    btnGET->setMinimumWidth(200);
    btnClose = new QPushButton(this);
    btnClose->setAutoDefault(false);
    buttonRow->addStretch(1);
    buttonRow->addWidget(btnGET);
    buttonRow->addWidget(btnClose);
    root->addLayout(buttonRow);

    // Actions.
    auto makeAction = [this](const char* name) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        addAction(action);
        return action;
    };
    actClose = makeAction("actClose");
    actEsc = makeAction("actEsc");
    actEsc->setShortcut(QKeySequence(Qt::Key_Escape));
    actPasteUrl = makeAction("actPasteUrl");
    actPageTitle = makeAction("actPageTitle");
    actChangeDirectory = makeAction("actChangeDirectory");
    actGet = makeAction("actGet");
    actCheckYoutubeFormats = makeAction("actCheckYoutubeFormats");

    // Closing also cancels a network step that runs (done() sets the flag).
    connect(actClose, &QAction::triggered, this, [this] { close(); });
    connect(actEsc, &QAction::triggered, this, [this] { close(); });
    connect(actPasteUrl, &QAction::triggered, this, [this] { actPasteUrlExecute(); });
    connect(edURL, &QLineEdit::textChanged, this, [this] { edURLChange(); });
    connect(actPageTitle, &QAction::triggered, this, [this] { actPageTitleExecute(); });
    connect(actChangeDirectory, &QAction::triggered, this, [this] { actChangeDirectoryExecute(); });
    connect(actGet, &QAction::triggered, this, [this] { actGetExecute(); });
    connect(actCheckYoutubeFormats, &QAction::triggered, this, [this] { actCheckYoutubeFormatsExecute(); });
    connect(actGet, &QAction::changed, this, [this] { btnGET->setEnabled(actGet->isEnabled()); });

    connect(btnPasteUrl, &QToolButton::clicked, actPasteUrl, &QAction::trigger);
    connect(btnBrowseFile, &QToolButton::clicked, this, [this] { btnBrowseFileClick(); });
    connect(btnPastePageTitle, &QPushButton::clicked, actPageTitle, &QAction::trigger);
    connect(btnBrowse, &QToolButton::clicked, actChangeDirectory, &QAction::trigger);
    connect(btnCheckFormats, &QPushButton::clicked, actCheckYoutubeFormats, &QAction::trigger);
    connect(btnGET, &QPushButton::clicked, actGet, &QAction::trigger);
    connect(btnClose, &QPushButton::clicked, actClose, &QAction::trigger);
    connect(chConvert, &QCheckBox::clicked, this, [this] { chConvertClick(); });
    connect(cbProfiles, &QComboBox::activated, this, [this] { cbProfilesChange(); });
    BuildListRow();
}

void TFormNew::BuildListRow()
{
    // Under the address, shown only while the page is a list.
    pnList = Band(this, QColor(0xE4, 0xF5, 0xDC));
    pnList->setObjectName("pnList");
    auto* rows = new QVBoxLayout(pnList);
    rows->setContentsMargins(8, 0, 8, 6);
    auto* row = new QHBoxLayout();
    rows->addLayout(row);
    lblList = new QLabel(pnList);
    lblList->setObjectName("lblList");
    rbListAll = new QRadioButton(pnList);
    rbListAll->setObjectName("rbListAll");
    rbListFirst = new QRadioButton(pnList);
    rbListFirst->setObjectName("rbListFirst");
    rbListFirst->setChecked(true);
    row->addWidget(lblList);
    row->addStretch(1);
    row->addWidget(rbListAll);
    row->addWidget(rbListFirst);
    // Below: following the list.
    auto* followRow = new QHBoxLayout();
    rows->addLayout(followRow);
    chFollow = new QCheckBox(pnList);
    chFollow->setObjectName("chFollow");
    followRow->addWidget(chFollow);
    lblLatest = new QLabel(pnList);
    seLatest = new QSpinBox(pnList);
    seLatest->setObjectName("seLatest");
    seLatest->setRange(0, 99);
    lblLatest->setBuddy(seLatest);
    followRow->addWidget(lblLatest);
    followRow->addWidget(seLatest);
    followRow->addStretch(1);
    const auto followChanged = [this] {
        lblLatest->setEnabled(chFollow->isChecked());
        seLatest->setEnabled(chFollow->isChecked());
    };
    connect(chFollow, &QCheckBox::toggled, this, followChanged);
    followChanged();
    if (auto* root = qobject_cast<QVBoxLayout*>(layout()))
        root->insertWidget(root->indexOf(pnUrl) + 1, pnList);
    pnList->hide();
}

void TFormNew::FormCreate()
{
    // Window: a tool window over the main window, only its width may change.
    setWindowIcon(ApplicationIcon());
    setMinimumWidth(MinimumWidth);
    resize(ClientWidth, ClientHeight);
    // The key that opens the dialog closes it.
    actClose->setShortcut(openKey_.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_N) : openKey_);

    SetDirectoryText(Q(DefaultOutputDir));
    edURL->clear();
    edFileName->clear();
    setAcceptDrops(true);
    for (QWidget* field : {static_cast<QWidget*>(edURL), static_cast<QWidget*>(edFileName),
                           static_cast<QWidget*>(cbDirectory->lineEdit())})
        if (field)
            field->installEventFilter(this);

    // Directory history.
    try {
        QStringList dirs;
        for (const std::string& d : LoadDirList(AppSettings.DirListFile))
            if (!Trim(d).empty())
                dirs << Q(d);
        cbDirectory->addItems(dirs);
        if (cbDirectory->count() > 0)
            cbDirectory->setCurrentIndex(0);
    } catch (...) {
    }
    SetDirectoryText(Q(AppSettings.LastDir));

    GetEncoderParams();

    if (FileExists(SettingsFile)) {
        try {
            const TIniFile ini(SettingsFile);
            const int index = ini.ReadInteger("Main", "Profile", cbProfiles->count() > 0 ? 0 : -1);
            {
                TUpdatingControls quiet;
                cbProfiles->setCurrentIndex(index >= 0 && index < cbProfiles->count() ? FirstUsableProfile(index) : -1);
            }
            chConvert->setChecked(ini.ReadBool("MAIN", "Convert", false));
            chDelete->setChecked(ini.ReadBool("MAIN", "DeleteInputAfterConversion", false));
            const std::string format = ini.ReadString("MAIN", "YouTubeFormat", "MP4_720");
            QRadioButton* chosen = rbFLV_240;
            for (std::size_t i = 0; i + 1 < YouTubeFormats.size(); ++i)
                if (format == YouTubeFormats[i].SettingsValue) {
                    chosen = FormatButton(static_cast<int>(i));
                    break;
                }
            chosen->setChecked(true);
        } catch (...) {
        }
    }
    gbEngineChoices->Load(ReadEngineDialogSettings(SettingsFile));
    // The look-ups sign in as the downloads do.
    SetLookUpCookies(EngineOptionsFrom({}, ReadEngineAccessSettings(SettingsFile)));

    cbProfiles->setEnabled(chConvert->isChecked());
    chDelete->setEnabled(chConvert->isChecked());

    SetLang();

    if (cbProfiles->currentIndex() < 0 && cbProfiles->count() > 0) {
        TUpdatingControls quiet;
        cbProfiles->setCurrentIndex(0);
    }

    for (QWidget* w : findChildren<QWidget*>())
        w->setToolTipDuration(ToolTipMilliseconds);
    edURLChange();
}

void TFormNew::FormClose()
{
    try {
        TIniFile ini(SettingsFile);
        ini.WriteStrings({
            {"Main", {"Profile", std::to_string(cbProfiles->currentIndex())}},
            {"MAIN", {"Convert", chConvert->isChecked() ? "1" : "0"}},
            {"MAIN", {"DeleteInputAfterConversion", chDelete->isChecked() ? "1" : "0"}},
            {"MAIN", {"YouTubeFormat", CheckedFormatValue()}},
        });
    } catch (...) {
    }
    WriteEngineDialogSettings(SettingsFile, gbEngineChoices->Settings());

    // What is kept is the absolute path ("~" and relative paths are in the home folder).
    const QString typedDir = cbDirectory->currentText();
    const QString dirText = typedDir.trimmed().isEmpty() ? typedDir : Q(UserOutputDir(S(typedDir)));
    if (cbDirectory->count() == 0 && !dirText.isEmpty() && DirectoryExists(S(dirText)))
        AddDir(dirText);

    AppSettings.LastDir = CleanDirPath(S(dirText));

    try {
        std::vector<std::string> dirs;
        dirs.reserve(static_cast<std::size_t>(cbDirectory->count()));
        for (int i = 0; i < cbDirectory->count(); ++i)
            dirs.push_back(S(cbDirectory->itemText(i)));
        SaveDirList(AppSettings.DirListFile, dirs);
    } catch (...) {
    }
}

void TFormNew::done(int result)
{
    cancel_ = true;
    FormClose();
    QDialog::done(result);
}

bool TFormNew::event(QEvent* event)
{
    // The dialog is a tool window of the main window, whose shortcuts stay live
    // while the dialog is active: Esc and the key that opens the dialog would be
    // ambiguous. The dialog claims them first, and acts on them in keyPressEvent.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        if (pressed == actEsc->shortcut() || pressed == actClose->shortcut()) {
            event->accept();
            return true;
        }
    }
    return QDialog::event(event);
}

void TFormNew::keyPressEvent(QKeyEvent* event)
{
    const QKeySequence pressed(event->keyCombination());
    if (pressed == actEsc->shortcut()) {
        actEsc->trigger();
        return;
    }
    if (pressed == actClose->shortcut()) {
        actClose->trigger();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TFormNew::RunNetworkStep(const char* statusText, const std::function<void()>& work)
{
    if (busy_)
        return false; // one step at a time
    busy_ = true;
    cancel_ = false;
    lblStatus->setText(QString::fromUtf8(statusText));
    lblStatus->show();
    const bool getWasEnabled = actGet->isEnabled();
    actGet->setEnabled(false);
    btnCheckFormats->setEnabled(false);
    btnPastePageTitle->setEnabled(false);

    QEventLoop loop;
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        {
            const TNetworkStepScope step(std::chrono::seconds(NetworkStepSeconds), &cancel_);
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Input stays live: Esc and Close cancel, the window moves and repaints.
    loop.exec();
    // The program may be quitting, which ends every event loop: the step is
    // cancelled then, and ends within a moment.
    if (!finished)
        cancel_ = true;
    worker.join();

    const bool cancelled = cancel_;
    busy_ = false;
    ShowStatusLine();
    actGet->setEnabled(getWasEnabled);
    btnCheckFormats->setEnabled(true);
    btnPastePageTitle->setEnabled(true);
    if (failure && !cancelled)
        std::rethrow_exception(failure);
    return !cancelled;
}

void TFormNew::SetLang()
{
    const TNewTexts& t = NewTexts(AppSettings.LangPolish);
    setWindowTitle(QString::fromUtf8(t.Caption));
    lblUrl->setText(QString::fromUtf8(t.lblUrl));
    chConvert->setText(QString::fromUtf8(t.chConvert));
    chDelete->setText(QString::fromUtf8(t.chDelete));
    SetActionText(actClose, t.actClose);
    btnClose->setText(QString::fromUtf8(t.actClose));
    btnClose->setToolTip(QString::fromUtf8(t.actClose));
    SetActionText(actPasteUrl, t.actPasteUrl);
    SetActionText(actPageTitle, t.actPageTitle);
    SetActionText(actChangeDirectory, t.actChangeDirectory);
    SetActionText(actGet, t.actGet);
    btnGET->setText(QString::fromUtf8(t.actGet));
    btnGET->setToolTip(QString::fromUtf8(t.actGet));
    lblFileName->setText(QString::fromUtf8(t.lblFileName));
    lblOutputDir->setText(QString::fromUtf8(t.lblOutputDir));
    btnPasteUrl->setToolTip(QString::fromUtf8(t.btnPasteUrlHint));
    btnBrowseFile->setToolTip(QString::fromUtf8(t.btnBrowseFileHint));
    btnPastePageTitle->setText(QString::fromUtf8(t.btnPastePageTitle));
    btnPastePageTitle->setToolTip(QString::fromUtf8(t.btnPastePageTitleHint));
    btnBrowse->setText(QString::fromUtf8(t.btnBrowse));
    btnBrowse->setToolTip(QString::fromUtf8(t.btnBrowseHint));
    btnCheckFormats->setText(QString::fromUtf8(t.btnCheckFormats));
    btnCheckFormats->setToolTip(QString::fromUtf8(t.btnCheckFormatsHint));
    SetActionText(actCheckYoutubeFormats, t.btnCheckFormatsHint);
    gbYoutubeFormats->setTitle(QString::fromUtf8(t.gbYoutubeFormats));
    gbEngineChoices->SetLang();
    gbClip->SetLang();
    chFollow->setText(QString::fromUtf8(FollowTexts(AppSettings.LangPolish).chFollow));
    chFollow->setToolTip(QString::fromUtf8(FollowTexts(AppSettings.LangPolish).FollowHint));
    lblLatest->setText(QString::fromUtf8(FollowTexts(AppSettings.LangPolish).lblLatest));
    seLatest->setToolTip(QString::fromUtf8(FollowTexts(AppSettings.LangPolish).LatestHint));
    OpenVideoFilterText = Q(OpenVideoFilter(AppSettings.LangPolish));
    rbListAll->setText(QString::fromUtf8(ListTexts(AppSettings.LangPolish).rbListAll));
    rbListFirst->setText(QString::fromUtf8(ListTexts(AppSettings.LangPolish).rbListFirst));
    if (list_.IsList)
        lblList->setText(Q(PageListText(list_.Entries.size(), AppSettings.LangPolish)));
    FitHeight();
}

void TFormNew::FitHeight()
{
    // Only the width may change; the height is what the texts need, at least
    // the designed height.
    setMinimumHeight(0);
    setMaximumHeight(QWIDGETSIZE_MAX);
    // Texts changed just now (another language) count in every nested layout.
    for (QLayout* nested : findChildren<QLayout*>())
        nested->invalidate();
    layout()->activate();
    const int height = std::max(ClientHeight, sizeHint().height());
    setMinimumHeight(height);
    setMaximumHeight(height);
    // Nor may it get narrower than the texts of the language need (a minimum set
    // by hand would let the layout squeeze the buttons below their texts).
    const int minimum = std::max(MinimumWidth, layout()->minimumSize().width());
    setMinimumWidth(minimum);
    resize(std::max(width(), minimum), height);
}

// Directory history.

std::string TFormNew::DirKey(const std::string& dir)
{
    return CleanDirPath(S(Q(Trim(dir)).toUpper()));
}

int TFormNew::FindDir(const QString& dir) const
{
    const std::string key = DirKey(S(dir));
    if (key.empty())
        return -1;
    for (int i = 0; i < cbDirectory->count(); ++i)
        if (DirKey(S(cbDirectory->itemText(i))) == key)
            return i;
    return -1;
}

void TFormNew::AddDir(const QString& dir)
{
    if (DirKey(S(dir)).empty() || FindDir(dir) >= 0)
        return;
    const QString text = cbDirectory->currentText();
    cbDirectory->insertItem(0, Q(CleanDirPath(S(dir))));
    cbDirectory->setEditText(text);
}

void TFormNew::SetDirectoryText(const QString& text)
{
    cbDirectory->setEditText(text);
}
