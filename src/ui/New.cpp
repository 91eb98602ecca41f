// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/New.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/StartUp.h"
#include "net/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "net/ZQ_Strings.h"
#include "shell/ZQ_BrowseForFolder.h"
#include "sites/PageEngine.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_Wrzuta.h"
#include "sites/ZQ_YouPorn.h"
#include "sites/ZQ_YouTube.h"
#include "convert/EncoderCheck.h"
#include "download/GetRequest.h"
#include "download/ListJobs.h"
#include "ui/EngineBox.h"
#include "ui/EngineChoicesBox.h"
#include "ui/ClipChoicesBox.h"
#include "app/FollowTexts.h"
#include "download/FollowedPages.h"
#include "download/EngineSettings.h"
#include "ui/MessageBoxes.h"
#include "download/OutputNaming.h"
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

// Conversion profiles.

void TFormNew::GetEncoderParams()
{
    TUpdatingControls quiet;
    cbProfiles->clear();
    profiles_.clear();
    profiles_ = ReadEncoderProfiles(AppSettings.ProfilesFile);
    QStringList names;
    for (const TEncoderProfile& p : profiles_)
        names << Q(p.DisplayName);
    cbProfiles->addItems(names);
    // A profile whose encoder the installed ffmpeg lacks can't be chosen; its
    // hint says why.
    missingEncoders_.assign(profiles_.size(), std::string());
    const std::set<std::string> available = AvailableEncoders(GetFfmpegPath());
    auto* model = qobject_cast<QStandardItemModel*>(cbProfiles->model());
    for (std::size_t i = 0; i < profiles_.size(); ++i) {
        missingEncoders_[i] = MissingEncoder(profiles_[i], available);
        if (missingEncoders_[i].empty() || !model)
            continue;
        QStandardItem* item = model->item(static_cast<int>(i));
        item->setEnabled(false);
        item->setToolTip(Q(MissingEncoderText(missingEncoders_[i], AppSettings.LangPolish)));
    }
    if (cbProfiles->count() > 0)
        cbProfiles->setCurrentIndex(FirstUsableProfile(0));
}

bool TFormNew::ProfileUsable(int index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < profiles_.size() &&
           (static_cast<std::size_t>(index) >= missingEncoders_.size() ||
            missingEncoders_[static_cast<std::size_t>(index)].empty());
}

int TFormNew::FirstUsableProfile(int from) const
{
    if (ProfileUsable(from))
        return from;
    for (int i = 0; i < static_cast<int>(profiles_.size()); ++i)
        if (ProfileUsable(i))
            return i;
    return -1;
}

std::string TFormNew::GetExt() const
{
    const int index = cbProfiles->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= profiles_.size())
        return {};
    return profiles_[static_cast<std::size_t>(index)].Ext;
}

void TFormNew::cbProfilesChange()
{
    if (UpdatingControls)
        return;
    if (!chConvert->isChecked())
        return;
    const std::string ext = GetExt();
    if (ext.empty() || ext == "-")
        return;
    // No name yet: an extension alone is no name.
    if (Trim(S(edFileName->text())).empty())
        return;
    edFileName->setText(Q(ReplaceNameExtension(S(edFileName->text()), "." + ext)));
}

void TFormNew::chConvertClick()
{
    cbProfilesChange();
    const bool convert = chConvert->isChecked();
    cbProfiles->setEnabled(convert);
    chDelete->setEnabled(convert);
    const std::string name = Trim(S(edFileName->text()));
    if (convert || name.empty())
        return;
    const TVideoSite site = DetectVideoSite(S(edURL->text()));
    const bool mp4 = rbMP4_1080->isChecked() || rbMP4_720->isChecked() || rbMP4_360->isChecked();
    const std::string ext = DefaultSiteExtension(site, mp4);
    edFileName->setText(Q(ext.empty() ? name : ReplaceNameExtension(name, ext)));
}

void TFormNew::FillEncParams(TDownloadJob& job) const
{
    job.EncoderParams = "-";
    job.EncoderExt = "-";
    job.TargetExt = "-";
    const int index = cbProfiles->currentIndex();
    if (!chConvert->isChecked() || !ProfileUsable(index))
        return;
    const TEncoderProfile& p = profiles_[static_cast<std::size_t>(index)];
    job.EncoderParams = p.Params;
    job.EncoderExt = p.EncExt;
    job.TargetExt = p.Ext;
}

// YouTube formats.

QRadioButton* TFormNew::CheckedYTRadio() const
{
    for (QRadioButton* rb : {rbMP4_1080, rbMP4_720, rbMP4_360, rbFLV_480, rbFLV_360})
        if (rb->isChecked())
            return rb;
    return rbFLV_240;
}

int TFormNew::ChosenFormatNumber() const
{
    for (int i = 0; i < 5; ++i) {
        const QRadioButton* rb = FormatButton(i);
        if (rb->isEnabled() && rb->isChecked())
            return YouTubeFormats[static_cast<std::size_t>(i)].FormatNumber;
    }
    return 5;
}

std::string TFormNew::CheckedFormatValue() const
{
    for (int i = 0; i < 5; ++i)
        if (FormatButton(i)->isChecked())
            return YouTubeFormats[static_cast<std::size_t>(i)].SettingsValue;
    return YouTubeFormats[5].SettingsValue;
}

void TFormNew::actCheckYoutubeFormatsExecute()
{
    btnCheckFormats->setEnabled(false);
    actGet->setEnabled(false);
    struct TEnableAgain {
        TFormNew* form;
        ~TEnableAgain()
        {
            form->btnCheckFormats->setEnabled(true);
            form->actGet->setEnabled(true);
        }
    } enableAgain{this};

    const std::string url = Trim(S(edURL->text()));
    // The six formats are YouTube's: another page's buttons stay as they are.
    if (url.empty() || DetectVideoSite(url) != vsYouTube)
        return;
    QRadioButton* remembered = CheckedYTRadio();
    for (int i = 0; i < 6; ++i)
        FormatButton(i)->setEnabled(false);
    TYT_Info_NEW info;
    TPageInfo page;  // the page engine's answer when the page's own formats gave nothing
    // Cut short, the probe tells nothing: every button is offered again.
    const auto unknown = [this] {
        for (int i = 0; i < 6; ++i)
            FormatButton(i)->setEnabled(true);
    };
    try {
        if (!RunNetworkStep(NewTexts(AppSettings.LangPolish).StepFormats, [&] {
                info = GetYouTubeFormats(url);
                const bool any = std::any_of(info.begin(), info.end(), [](const TYT_MovieItem& m) { return m.Found; });
                if (!any && !NetworkStepEnded())
                    page = LookUpPage(url);
            })) {
            unknown();
            return;
        }
    } catch (...) {
        unknown();
        return;
    }
    probedUrl_ = url;
    bool any = false;
    for (std::size_t i = 0; i < YouTubeFormats.size(); ++i) {
        const int slot = YouTubeFormats[i].Slot;
        if ((slot >= 1 && slot <= static_cast<int>(info.size()) && info[static_cast<std::size_t>(slot - 1)].Found) ||
            PageOffersYouTubeFormat(page, YouTubeFormats[i].FormatNumber)) {
            FormatButton(static_cast<int>(i))->setEnabled(true);
            any = true;
        }
    }
    if (!any)
        ShowNote(url, MessageText(TMessageId::NoYouTubeFormats, AppSettings.LangPolish), page.Error);
    if (!remembered->isEnabled()) {
        for (int i = 0; i < 6; ++i)
            if (FormatButton(i)->isEnabled()) {
                FormatButton(i)->setChecked(true);
                break;
            }
    }
}

void TFormNew::CheckEngineFormats()
{
    const std::string url = Trim(S(edURL->text()));
    const TVideoSite site = DetectVideoSite(url);
    if (url.empty() || site == vsNone || site == vsLocalFile || busy_)
        return;
    gbEngineChoices->btnCheckEngineFormats->setEnabled(false);
    TPageInfo page;
    SetLookUpCookies(EngineOptionsFrom({}, ReadEngineAccessSettings(SettingsFile)));
    const bool done = RunNetworkStep(NewTexts(AppSettings.LangPolish).StepFormats, [&] { page = LookUpPage(url); });
    gbEngineChoices->btnCheckEngineFormats->setEnabled(true);
    if (!done)
        return;
    if (!page.Found) {
        ShowNote(url, PageInfoProblem(page, AppSettings.LangPolish), page.TooLarge ? std::string() : page.Error);
        return;
    }
    engineProbedUrl_ = url;
    gbEngineChoices->ShowPage(page);
}

// The address and what the dialog says about it.

void TFormNew::edURLChange()
{
    // Several lines pasted or dropped into the field: with two addresses or
    // more a batch is offered; the field keeps one line.
    const QString text = edURL->text();
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        const std::vector<std::string> batch = BatchOf(text);
        {
            const QSignalBlocker quiet(edURL);
            edURL->setText(Q(FirstLineOf(text, AddressMax)));
        }
        if (batch.size() >= 2)
            QTimer::singleShot(0, this, [this, batch] { OfferBatch(batch); });
    }
    const std::string url = Trim(S(edURL->text()));
    if (url != listUrl_)
        HideList();
    const TVideoSite site = DetectVideoSite(url);
    const bool youTube = site == vsYouTube;
    gbYoutubeFormats->setVisible(youTube);
    gbEngineChoices->setVisible(!youTube && site != vsLocalFile);
    if (url != engineProbedUrl_) {
        engineProbedUrl_.clear();
        gbEngineChoices->ForgetPage();
    }
    if (url != probedUrl_) {
        // A probe of another address says nothing about this one.
        probedUrl_.clear();
        for (int i = 0; i < 6; ++i)
            FormatButton(i)->setEnabled(true);
    }
    if (url != noteUrl_)
        ClearNote();
}

void TFormNew::PageLookedUp(const std::string& url, TVideoSite site, const std::string& name)
{
    if (site == vsWebPage && !Trim(name).empty())
        CheckForList(Trim(url));
    if (site != vsWebPage || !Trim(name).empty())
        return;
    // The naming step asked about the address as it was given.
    std::optional<std::string> reason = PageLookUpFailure(url);
    if (!reason)
        reason = PageLookUpFailure(Trim(url));
    if (!reason)
        return;
    const bool polish = AppSettings.LangPolish;
    // The program's words in the line and in GET's message; the engine's own
    // in the line's tooltip and the message's details.
    ShowNote(Trim(url), NoMediaMessage(*reason, polish), *reason);
    pageProblem_ = NoMediaMessage(*reason, polish);
    pageDetails_ = *reason;
}

void TFormNew::CheckForList(const std::string& url)
{
    // Only when the page's answer was a list: other pages cost no second look-up.
    if (url.empty() || KeptListEntries(url) < 2 || busy_)
        return;
    TPageList list;
    if (!RunNetworkStep(ListTexts(AppSettings.LangPolish).StepList, [&] { list = LookUpPageList(url); }))
        return;
    if (!list.IsList || Trim(S(edURL->text())) != url)
        return;
    listUrl_ = url;
    list_ = std::move(list);
    rbListFirst->setChecked(true);
    chFollow->setChecked(false);
    seLatest->setValue(0);
    lblList->setText(Q(PageListText(list_.Entries.size(), AppSettings.LangPolish)));
    pnList->show();
    FitHeight();
}

void TFormNew::HideList()
{
    if (listUrl_.empty() && !pnList->isVisible())
        return;
    listUrl_.clear();
    list_ = TPageList{};
    pnList->hide();
    FitHeight();
}

void TFormNew::ShowNote(const std::string& url, const std::string& text, const std::string& hint)
{
    noteUrl_ = url;
    note_ = Q(text);
    lblStatus->setToolTip(Q(PrintableText(hint)));
    pageProblem_.clear();
    pageDetails_.clear();
    ShowStatusLine();
}

void TFormNew::ClearNote()
{
    noteUrl_.clear();
    note_.clear();
    pageProblem_.clear();
    pageDetails_.clear();
    lblStatus->setToolTip(QString());
    ShowStatusLine();
}

void TFormNew::ShowStatusLine()
{
    // A network step's text while one runs, else the note, else nothing.
    if (busy_)
        return;
    lblStatus->setText(note_);
    lblStatus->setVisible(!note_.isEmpty());
}

// Input helpers.

void TFormNew::actPasteUrlExecute()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QString text = clipboard ? clipboard->text() : QString();
    const std::vector<std::string> batch = BatchOf(text);
    if (batch.size() >= 2) {
        OfferBatch(batch);
        return;
    }
    edURL->setText(Q(FirstLineOf(text, 200)));
}

void TFormNew::actPageTitleExecute()
{
    std::string url = Trim(S(edURL->text()));
    if (url.empty())
        return;
    const TVideoSite site = DetectVideoSite(url);
    if (site == vsYouTube)
        url = NormalizeYouTubeUrl(url);
    std::string name;
    if (!RunNetworkStep(NewTexts(AppSettings.LangPolish).StepTitle, [&] { name = FileNameFromPage(url, site); }))
        return;
    // For a local file the naming gives its full path; the field holds a name.
    if (site == vsLocalFile && FileExists(name))
        name = ExtractFileName(name);
    edFileName->setText(Q(name));
    PageLookedUp(url, site, name);
}

void TFormNew::btnBrowseFileClick()
{
    const QString path = PickVideoFile ? PickVideoFile(this, OpenVideoFilterText) : QString();
    if (path.isEmpty())
        return;
    LocalFileChosen(path);
}

void TFormNew::LocalFileChosen(const QString& path)
{
    const std::string p = S(path);
    if (!FileExists(p))
        return;
    const QString dir = Q(ExtractFileDir(p));
    edURL->setText(path);
    edFileName->setText(Q(ExtractFileName(p)));
    SetDirectoryText(dir);
    AddDir(dir);
    cbProfilesChange();
}

void TFormNew::actChangeDirectoryExecute()
{
    QString start = Q(Trim(S(cbDirectory->currentText())));
    if (!DirectoryExists(S(start)))
        start = Q(AppDir);
    const QString title = QString::fromUtf8(MessageText(TMessageId::SelectFolder, AppSettings.LangPolish));
    const QString chosen = PickFolder ? PickFolder(title, start, QApplication::activeWindow()) : QString();
    if (chosen.isEmpty() || !DirectoryExists(S(chosen)))
        return;
    AddDir(chosen);
    const int index = FindDir(chosen);
    if (index >= 0)
        cbDirectory->setCurrentIndex(index);
}

void TFormNew::dragEnterEvent(QDragEnterEvent* event)
{
    if (!FirstLocalFile(event->mimeData()).isEmpty() || BatchOf(event->mimeData()).size() >= 2)
        event->acceptProposedAction();
}

void TFormNew::dropEvent(QDropEvent* event)
{
    if (const std::vector<std::string> batch = BatchOf(event->mimeData()); batch.size() >= 2) {
        event->acceptProposedAction();
        QTimer::singleShot(0, this, [this, batch] { OfferBatch(batch); });
        return;
    }
    const QString path = FirstLocalFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    LocalFileChosen(path);
}

bool TFormNew::eventFilter(QObject* watched, QEvent* event)
{
    // A file dropped on one of the text fields counts as dropped on the dialog;
    // other drops (a dragged address, some text) go into the field as usual.
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!FirstLocalFile(drag->mimeData()).isEmpty()) {
            drag->acceptProposedAction();
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (const std::vector<std::string> batch = BatchOf(drop->mimeData()); batch.size() >= 2) {
            drop->acceptProposedAction();
            QTimer::singleShot(0, this, [this, batch] { OfferBatch(batch); });
            return true;
        }
        const QString path = FirstLocalFile(drop->mimeData());
        if (!path.isEmpty()) {
            drop->acceptProposedAction();
            LocalFileChosen(path);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

// GET.

void TFormNew::Warn(const std::string& text, const std::string& details)
{
    ShowMessage(this, QString::fromUtf8(AppTitle), Q(text), TMsgKind::Warning, Q(details));
}

void TFormNew::actGetExecute()
{
    if (busy_ || many_)
        return;
    const bool polish = AppSettings.LangPolish;
    TGetRequest request;
    request.Url = S(edURL->text());
    request.Directory = S(cbDirectory->currentText());
    request.FileName = S(edFileName->text());
    request.Convert = chConvert->isChecked();
    const int index = cbProfiles->currentIndex();
    if (ProfileUsable(index))
        request.Profile = &profiles_[static_cast<std::size_t>(index)];
    request.DeleteInput = chDelete->isChecked();
    request.FormatNumber = ChosenFormatNumber();
    // Any other page: the engine's format chosen in its group (YouTube keeps its buttons).
    if (DetectVideoSite(Trim(request.Url)) != vsYouTube)
        request.EngineChoice = gbEngineChoices->EngineChoice();
    const TEngineAccessSettings access = ReadEngineAccessSettings(SettingsFile);
    request.EngineOptions = EngineOptionsFrom(gbEngineChoices->Settings(), access);
    SetLookUpCookies(request.EngineOptions);
    std::string clipProblem;
    const std::optional<TClipOptions> clip = gbClip->Clip(clipProblem);
    if (!clip) {
        Warn(clipProblem);
        return;
    }
    request.EngineOptions.Clip = *clip;

    // Every video of a list: the checks of the address and the directory, then
    // one job per video. The file name field names no file then.
    const bool wholeList = rbListAll->isChecked() && list_.IsList && listUrl_ == Trim(request.Url);
    if (wholeList && Trim(request.FileName).empty())
        request.FileName = "list";

    ClearJob(Job);
    const TGetPlan plan = PlanGet(request, polish);
    if (plan.NameChecked)
        edFileName->setText(Q(plan.TypedName));
    if (!plan.Directory.empty() && plan.Directory != request.Directory)
        SetDirectoryText(Q(plan.Directory));
    if (!plan.Message.empty()) {
        // No name because the page gave nothing: that is what the user hears.
        const bool pageGaveNothing = plan.NameChecked && plan.TypedName.empty() && !pageProblem_.empty() &&
                                     plan.Url == noteUrl_;
        if (pageGaveNothing)
            Warn(pageProblem_, pageDetails_);
        else
            Warn(plan.Message);
        return;
    }
    if (chFollow->isChecked() && list_.IsList && listUrl_ == Trim(request.Url) && !FollowOfferedList(request, plan))
        return;
    if (wholeList) {
        GetList(request, plan.Directory);
        return;
    }
    if (plan.FileName != plan.TypedName)
        edFileName->setText(Q(plan.FileName));

    // Resolving and the size query run off the window's thread; the fields are
    // read before and written after.
    const TNewTexts& texts = NewTexts(polish);
    TResolvedMedia resolved;
    if (!RunNetworkStep(texts.StepResolve, [&] { resolved = ResolveMedia(plan, request.FormatNumber, polish); }))
        return;
    if (!resolved.Message.empty()) {
        // The engine found nothing and may be the cause: an update is offered, and
        // after one the same request is tried again.
        if (resolved.OfferEngineUpdate) {
            const TEngineOffer offer =
                OfferEngineUpdate(this, resolved.Message, plan.Site == vsYouTube, resolved.Details);
            if (offer == TEngineOffer::Changed)
                QTimer::singleShot(0, this, [this] { actGetExecute(); });
            if (offer != TEngineOffer::NotOffered)
                return;
        }
        Warn(resolved.Message, resolved.Details);
        return;
    }
    if (resolved.NameChanged)
        edFileName->setText(Q(ExtractFileName(resolved.Path)));
    std::int32_t size = resolved.EngineSize;
    if (!resolved.MediaUrl.empty() && !resolved.ThroughEngine &&
        !RunNetworkStep(texts.StepSize, [&] { size = QueryExpectedSize(resolved.MediaUrl); }))
        return;

    // The name is the job's from here on: a second job gets another.
    const std::string path = ReserveJobOutput(plan, resolved);
    Job = MakeDownloadJob(request, plan, resolved, path, size);
    Job.MainWindow = owner_ ? static_cast<std::int32_t>(static_cast<std::uint32_t>(owner_->winId())) : 0;

    SaveSettings(SettingsFile, true);
    // A refused job leaves the dialog open with its fields, under the message.
    if (startJob_ && !startJob_(Job)) {
        ReleaseJobOutput(resolved, path);
        return;
    }
    close();
}

// Lists and batches.

bool TFormNew::FollowOfferedList(const TGetRequest& request, const TGetPlan& plan)
{
    const TFollowTexts& t = FollowTexts(AppSettings.LangPolish);
    TFollowedPage page;
    page.Url = plan.Url;
    page.Directory = plan.Directory;
    const TEngineDialogSettings engine = gbEngineChoices->Settings();
    if (engine.Format.Kind != TFormatChoice::TKind::Best)
        page.Format = FormatChoiceText(engine.Format);
    if (request.Convert && request.Profile)
        page.Profile = request.Profile->Section;
    std::vector<std::string> listed;
    for (const TPageListEntry& entry : list_.Entries)
        listed.push_back(entry.Url);
    const std::string folder = FollowingFolder.empty() ? FollowingDir(DataDir) : FollowingFolder;
    const TFollowEdit edit = FollowPage(folder, page, listed, static_cast<std::size_t>(seLatest->value()));
    if (edit == TFollowEdit::Exists) {
        chFollow->setChecked(false);
        return true;  // followed already: the download goes on
    }
    if (edit != TFollowEdit::Done) {
        Warn(t.FollowFailed);
        return false;
    }
    chFollow->setChecked(false);
    if (OnFollowed)
        OnFollowed(page.Url);
    return true;
}

void TFormNew::GetList(const TGetRequest& request, const std::string& directory)
{
    const bool polish = AppSettings.LangPolish;
    const TPageList list = list_;  // the dialog's own may change while the step runs
    many_ = true;
    struct TEnd {
        bool& flag;
        ~TEnd() { flag = false; }
    } manyEnds{many_};
    std::string folder;
    std::vector<TDownloadJob> jobs;
    // Naming and reserving touch the disk for every video: off the window's thread.
    const bool done = RunNetworkStep(ListTexts(polish).StepListJobs, [&] {
        folder = ListFolder(directory, list.Title, AppSettings.ListInFolder);
        if (folder.empty())
            return;
        TListJobMaker maker(request, folder);
        jobs.reserve(list.Entries.size());
        for (const TPageListEntry& entry : list.Entries) {
            if (NetworkStepEnded())
                break;
            TDownloadJob job;
            if (maker.Make(entry, job))
                jobs.push_back(std::move(job));
        }
    });
    if (!done) {
        for (const TDownloadJob& job : jobs)
            ReleaseMadeJob(job);
        return;
    }
    if (folder.empty()) {
        Warn(CantCreateDirMessage(directory, polish));
        return;
    }
    // Those that got no name, or no time within the step.
    const std::size_t failed = list.Entries.size() - jobs.size();
    SaveSettings(SettingsFile, true);

    // Handed over in order, a slice at a time, so the windows repaint and Esc
    // stops the rest (whose names are given back).
    busy_ = true;
    cancel_ = false;
    actGet->setEnabled(false);
    const std::int32_t mainWindow =
        owner_ ? static_cast<std::int32_t>(static_cast<std::uint32_t>(owner_->winId())) : 0;
    std::size_t handed = 0;
    bool refused = false;
    while (handed < jobs.size() && !cancel_) {
        const std::size_t end = std::min(jobs.size(), handed + static_cast<std::size_t>(std::max(1, HandOverSlice)));
        for (; handed < end; ++handed) {
            jobs[handed].MainWindow = mainWindow;
            if (startJob_ && !startJob_(jobs[handed])) {
                refused = true;
                break;
            }
        }
        if (refused)
            break;
        if (handed < jobs.size()) {
            lblStatus->setText(Q(ListHandOverText(handed, jobs.size(), polish)));
            lblStatus->show();
            QCoreApplication::processEvents();
        }
    }
    for (std::size_t i = handed; i < jobs.size(); ++i)
        ReleaseMadeJob(jobs[i]);
    const bool stopped = cancel_ || refused;
    busy_ = false;
    actGet->setEnabled(true);
    ShowStatusLine();
    if (stopped)
        return;
    if (failed > 0)
        Warn(ListJobsFailedText(failed, list.Entries.size(), polish));
    close();
}

std::vector<std::string> TFormNew::BatchOf(const QString& text)
{
    // A text far beyond a thousand addresses is read only as far as they go.
    constexpr qsizetype TextMax = qsizetype(BatchMaxAddresses) * qsizetype(JobPathMax + 2);
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return {};
    std::vector<std::string> batch = BatchAddresses(S(text.left(TextMax)));
    if (batch.size() < 2)
        batch.clear();
    return batch;
}

std::vector<std::string> TFormNew::BatchOf(const QMimeData* mime)
{
    if (!mime)
        return {};
    // Dragged links one per line, else the dragged text. Dragged files are no
    // batch: of those the first one counts.
    if (mime->hasUrls()) {
        QString lines;
        const QList<QUrl> urls = mime->urls();
        for (qsizetype i = 0; i < urls.size() && i < qsizetype(BatchMaxAddresses); ++i)
            if (!urls[i].isLocalFile())
                lines += urls[i].toString() + QLatin1Char('\n');
        return BatchOf(lines);
    }
    return mime->hasText() ? BatchOf(mime->text()) : std::vector<std::string>{};
}

void TFormNew::OfferBatch(const std::vector<std::string>& addresses)
{
    if (busy_ || many_ || addresses.empty())
        return;
    const bool polish = AppSettings.LangPolish;
    many_ = true;
    struct TEnd {
        bool& flag;
        ~TEnd() { flag = false; }
    } manyEnds{many_};
    show();
    raise();
    if (!AskYesNo(this, QString::fromUtf8(AppTitle), Q(BatchQuestion(addresses.size(), polish))))
        return;

    TGetRequest request;
    request.Directory = S(cbDirectory->currentText());
    request.Convert = chConvert->isChecked();
    const int index = cbProfiles->currentIndex();
    if (ProfileUsable(index))
        request.Profile = &profiles_[static_cast<std::size_t>(index)];
    request.DeleteInput = chDelete->isChecked();
    request.FormatNumber = ChosenFormatNumber();
    // Subtitles, metadata, cookies and the speed limit apply to every address.
    request.EngineOptions = EngineOptionsFrom(gbEngineChoices->Settings(), ReadEngineAccessSettings(SettingsFile));
    std::string clipProblem;
    const std::optional<TClipOptions> clip = gbClip->Clip(clipProblem);
    if (!clip) {
        Warn(clipProblem);
        return;
    }
    request.EngineOptions.Clip = *clip;
    const std::int32_t mainWindow =
        owner_ ? static_cast<std::int32_t>(static_cast<std::uint32_t>(owner_->winId())) : 0;

    std::vector<std::string> failures;
    std::string details;  // the engine's own words about each failure
    bool stopped = false;
    for (std::size_t i = 0; i < addresses.size() && !stopped; ++i) {
        const std::string step = BatchStepText(i + 1, addresses.size(), polish);
        TAddressJob made;
        bool ran = false;
        try {
            ran = RunNetworkStep(step.c_str(), [&] { made = MakeAddressJob(addresses[i], request, polish); });
        } catch (...) {
            ran = true;
            made = TAddressJob{};
        }
        if (!ran) {
            if (made.Made)
                ReleaseMadeJob(made.Job);
            stopped = true;
            break;
        }
        if (!made.Made) {
            // No message: the look-up ran out of time.
            failures.push_back(addresses[i] + "\n    " +
                               (made.Message.empty() ? std::string(MessageText(TMessageId::PageUnreachable, polish))
                                                     : ReplaceAll(made.Message, "\n", " ")));
            if (!made.Details.empty())
                details += (details.empty() ? "" : "\n") + addresses[i] + "\n    " + made.Details;
            continue;
        }
        made.Job.MainWindow = mainWindow;
        if (startJob_ && !startJob_(made.Job)) {
            ReleaseMadeJob(made.Job);
            stopped = true;
        }
    }
    SaveSettings(SettingsFile, true);
    if (!failures.empty()) {
        constexpr std::size_t Shown = 10;
        std::string text = ListTexts(polish).BatchFailed;
        for (std::size_t i = 0; i < failures.size() && i < Shown; ++i)
            text += "\n" + failures[i];
        if (failures.size() > Shown)
            text += "\n... (" + std::to_string(failures.size() - Shown) + ")";
        Warn(text, details);
        return;
    }
    if (!stopped)
        close();
}
