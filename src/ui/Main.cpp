// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FollowingView.h"
#include "app/FollowTexts.h"
#include "download/FollowedPages.h"
#include "ui/Main.h"

#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "app/StartUp.h"
#include "system/ConRun.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "system/ZQ_System.h"
#include "shell/ZQ_ShellFolders.h"
#include "shell/ZQ_Shortcuts.h"
#include "plan/JobPlanner.h"
#include "ui/EngineBox.h"
#include "ui/EngineChoicesBox.h"
#include "ui/MessageBoxes.h"
#include "app/DownloadListTexts.h"
#include "ui/New.h"
#include "ui/QtLanguage.h"
#include "app/Texts.h"
#include "ui/DownloadList.h"
#include "ui/DesktopNotify.h"
#include "ui/WebPages.h"
#include "download/JobListTexts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

std::string ProgramExecutable = ExecutablePath();
std::function<void(const QUrl&)> OpenUrlInBrowser = [](const QUrl& url) { OpenWebPage(url); };
TFormMain* FormMain = nullptr;
std::function<bool()> SystemTrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

namespace {

constexpr int ClientWidth = 277;
constexpr int ClientHeight = 144;
// The window's first size where the user has not chosen one (at most the screen's).
constexpr int DefaultWidth = 960;
constexpr int DefaultHeight = 640;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

void SetActionText(QAction* action, const char* text)
{
    action->setText(QString::fromUtf8(text));
    action->setToolTip(QString::fromUtf8(text));
}

QFrame* Panel(QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(0xE8, 0xEF, 0xF7));
    panel->setPalette(pal);
    return panel;
}

} // namespace

// TLinkLabel

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void TLinkLabel::enterEvent(QEnterEvent* event)
{
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event)
{
    QFont f = font();
    f.setUnderline(false);
    setFont(f);
    QLabel::leaveEvent(event);
}

// TFormMain

TFormMain::TFormMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName("FormMain");
    FormMain = this;
    TrayAvailable = SystemTrayAvailable && SystemTrayAvailable();

    // Actions.
    auto makeAction = [this](const char* name, const QKeySequence& key) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        if (!key.isEmpty())
            action->setShortcut(key);
        addAction(action);
        return action;
    };
    actNew = makeAction("actNew", QKeySequence(Qt::CTRL | Qt::Key_N));
    actNew->setIcon(ButtonGlyph("new"));
    actMinimizeToTray = makeAction("actMinimizeToTray", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M));
    actMinimizeToTray->setIcon(ButtonGlyph("minimize"));
    actEsc = makeAction("actEsc", QKeySequence(Qt::Key_Escape));
    actClose = makeAction("actClose", QKeySequence());
    actShowHideMainWindow = makeAction("actShowHideMainWindow", QKeySequence());
    connect(actNew, &QAction::triggered, this, [this] { actNewExecute(); });
    connect(actMinimizeToTray, &QAction::triggered, this, [this] { actMinimizeToTrayExecute(); });
    connect(actEsc, &QAction::triggered, this, [this] { actEscExecute(); });
    connect(actClose, &QAction::triggered, this, [this] { actCloseExecute(); });
    connect(actShowHideMainWindow, &QAction::triggered, this, [this] { actShowHideMainWindowExecute(); });

    // Tabs.
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(4, 4, 4, 4);
    pc = new QTabWidget(this);
    // All three tabs stay readable in both languages: the window grows instead.
    pc->setUsesScrollButtons(false);
    root->addWidget(pc);
    tsMain = new QWidget();
    tsOptions = new QScrollArea();
    tsAbout = new QWidget();
    pc->addTab(tsMain, QString());
    pc->addTab(tsOptions, QString());
    pc->addTab(tsAbout, QString());

    // Main tab: a row with the button, the site links and the tray button,
    // the list of downloads below it, filling the window, and its status line.
    auto* mainLayout = new QVBoxLayout(tsMain);
    mainLayout->setContentsMargins(6, 6, 6, 4);
    mainLayout->setSpacing(4);
    auto* top = new QHBoxLayout();
    btnNew = new QPushButton(tsMain);
    btnNew->setObjectName("btnNew");
    btnNew->setIcon(ButtonGlyph("new"));
    btnNew->setIconSize(QSize(20, 20));
    btnNew->setDefault(true);
    btnNew->setMinimumHeight(32);
    QFont newFont = btnNew->font();
    newFont.setBold(true);
    btnNew->setFont(newFont);
    connect(btnNew, &QPushButton::clicked, actNew, &QAction::trigger);
    top->addWidget(btnNew);

    Panel1 = Panel(tsMain);
    auto* links = new QHBoxLayout(Panel1);
    links->setContentsMargins(8, 2, 8, 2);
    links->setSpacing(12);
    Label1 = new TLinkLabel(Panel1);
    Label1->setObjectName("Label1");
    Label1->setText(QString::fromUtf8(YouTubeHomePage));
    QPalette blue = Label1->palette();
    blue.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
    Label1->setPalette(blue);
    Label3 = new TLinkLabel(Panel1);
    Label3->setObjectName("Label3");
    Label3->setText(QString::fromUtf8(WrzutaHomePage));
    QPalette navy = Label3->palette();
    navy.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x8A));
    Label3->setPalette(navy);
    links->addWidget(Label1);
    links->addWidget(Label3);
    connect(Label1, &TLinkLabel::clicked, this, [this] { Label1Click(Label1); });
    connect(Label3, &TLinkLabel::clicked, this, [this] { Label1Click(Label3); });
    top->addWidget(Panel1, 0);
    top->addStretch(1);
    btnMinimizeToTray = new QToolButton(tsMain);
    btnMinimizeToTray->setObjectName("btnMinimizeToTray");
    btnMinimizeToTray->setDefaultAction(actMinimizeToTray);
    btnMinimizeToTray->setToolButtonStyle(Qt::ToolButtonIconOnly);
    top->addWidget(btnMinimizeToTray, 0, Qt::AlignVCenter);
    mainLayout->addLayout(top);
    // Addresses handed over while the program can't open them yet (a message
    // box waits for its answer, or the dialog looks something up) are named
    // here until their turn comes.
    lblPending = new QLabel(tsMain);
    lblPending->setObjectName("lblPending");
    lblPending->hide();
    mainLayout->addWidget(lblPending);

    // Options tab: its groups scroll where the window is lower than they are.
    auto* optionsBody = new QWidget();
    optionsBody->setObjectName("OptionsBody");
    static_cast<QScrollArea*>(tsOptions)->setWidget(optionsBody);
    static_cast<QScrollArea*>(tsOptions)->setWidgetResizable(true);
    static_cast<QScrollArea*>(tsOptions)->setFrameShape(QFrame::NoFrame);
    auto* options = new QGridLayout(optionsBody);
    options->setContentsMargins(8, 8, 8, 8);
    lblLanguage = new QLabel(tsOptions);
    cbLanguage = new QComboBox(tsOptions);
    cbLanguage->addItems({"English", "Polski"});
    options->addWidget(lblLanguage, 0, 0);
    options->addWidget(cbLanguage, 0, 1);
    gbShortcuts = new QGroupBox(tsOptions);
    auto* shortcuts = new QVBoxLayout(gbShortcuts);
    chShortcut_StartMenu = new QCheckBox(gbShortcuts);
    chShortcut_Desktop = new QCheckBox(gbShortcuts);
    shortcuts->addWidget(chShortcut_StartMenu);
    shortcuts->addWidget(chShortcut_Desktop);
    options->addWidget(gbShortcuts, 1, 0, 1, 2);
    // The list's options together, in one group.
    chNotifications = new QCheckBox(tsOptions);
    chNotifications->setObjectName("chNotifications");
    chListFolder = new QCheckBox(tsOptions);
    chListFolder->setObjectName("chListFolder");
    options->addWidget(CreateDownloadOptions(tsOptions), 2, 0, 1, 2);
    gbEngine = new TEngineBox(tsOptions);
    options->addWidget(gbEngine, 4, 0, 1, 2);
    // The engine's lines come later (and the result of an update below them):
    // the window takes the size they need, so that no line is squeezed.
    connect(gbEngine, &TEngineBox::linesChanged, this, [this] { FitSize(); });
    gbEngineAccess = new TEngineAccessBox(tsOptions);
    options->addWidget(gbEngineAccess, 5, 0, 1, 2);
    options->setColumnStretch(1, 1);
    options->setRowStretch(6, 1);
    connect(cbLanguage, &QComboBox::currentIndexChanged, this, [this] { cbLanguageChange(); });
    connect(chShortcut_Desktop, &QCheckBox::clicked, this, [this] { chShortcut_DesktopClick(); });
    connect(chShortcut_StartMenu, &QCheckBox::clicked, this, [this] { chShortcut_StartMenuClick(); });
    connect(chNotifications, &QCheckBox::clicked, this, [this] { chNotificationsClick(); });
    connect(chListFolder, &QCheckBox::clicked, this, [this] { chListFolderClick(); });

    // About tab.
    auto* about = new QVBoxLayout(tsAbout);
    about->setContentsMargins(6, 6, 6, 6);
    Panel2 = Panel(tsAbout);
    auto* aboutTexts = new QVBoxLayout(Panel2);
    aboutTexts->setSpacing(1);
    Label7 = new QLabel(QString::fromUtf8(ProductName), Panel2);
    QFont nameFont = Label7->font();
    nameFont.setPixelSize(19);
    nameFont.setBold(true);
    Label7->setFont(nameFont);
    lblVersion = new QLabel(QString::fromUtf8(ProductVersion), Panel2);
    lblAboutDate = new QLabel(Panel2);
    lblWww = new TLinkLabel(Panel2);
    lblWww->setObjectName("lblWww");
    lblWww->setPalette(blue);
    for (QLabel* l : {Label7, lblVersion, lblAboutDate, static_cast<QLabel*>(lblWww)}) {
        l->setAlignment(Qt::AlignHCenter);
        aboutTexts->addWidget(l);
    }
    connect(lblWww, &TLinkLabel::clicked, this, [this] { lblWwwClick(); });
    // The licence below, in lines as wide as the tab: FitSize gives it the height.
    lblLicence = new QLabel(Panel2);
    lblLicence->setObjectName("lblLicence");
    lblLicence->setWordWrap(true);
    lblLicence->setAlignment(Qt::AlignHCenter);
    aboutTexts->addSpacing(6);
    aboutTexts->addWidget(lblLicence);
    about->addWidget(Panel2);

    CreateDownloadList(mainLayout);

    // Tray icon and its menu.
    ti = new QSystemTrayIcon(ApplicationIcon(), this);
    popTray = new QMenu(this);
    popTray->addAction(actNew);
    popTray->addAction(actShowHideMainWindow);
    popTray->addSeparator();
    popTray->addAction(actClose);
    connect(popTray, &QMenu::aboutToShow, this, [this] { popTrayPopup(); });
    ti->setContextMenu(popTray);
    connect(ti, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            tiClick();
        } else if (reason == QSystemTrayIcon::DoubleClick) {
            // The first click of a double click has shown the window already.
            if (shownByClick_.isValid() && shownByClick_.elapsed() <= QApplication::doubleClickInterval() + 100)
                return;
            tiDblClick();
        }
    });
    tmTray = new QTimer(this);
    tmTray->setObjectName("tmTray");
    connect(tmTray, &QTimer::timeout, this, [this] { tmTrayTimer(); });
    tmTray->start(TrayPollMs);

    setWindowIcon(ApplicationIcon());
    FormCreate();

    // The window: as large as the user left it, within the screen, centred on it.
    FitSize();
    PlaceOnScreen();

    // The dialog comes after the main window.
    formNew_ = new TFormNew(this, [this](const TDownloadJob& job) { return GetFile(job); }, actNew->shortcut());
    // Followed pages: their new videos join the list as many jobs: those found
    // by one check share a notification.
    tsFollowing = new TFollowingView(nullptr, FollowingDir(DataDir), [this](const TDownloadJob& job) {
        if (followBatch_ == 0) {
            followBatch_ = queue_->NewBatch();
            QTimer::singleShot(0, this, [this] { followBatch_ = 0; });
        }
        return GetOneOfMany(job, followBatch_);
    });
    pc->addTab(tsFollowing, QString::fromUtf8(FollowTexts(AppSettings.LangPolish).tabFollowing));
    tsFollowing->SetEveryHours(ReadFollowEveryHours(SettingsFile));
    formNew_->OnFollowed = [this](const std::string&) { tsFollowing->Refresh(); };
    // The jobs of the last run: unfinished ones continue (ResumeAtStart).
    queue_->Load();
    // A list file that could not be read whole is said once the window is up.
    const TListLoad& loaded = queue_->Loaded();
    if (loaded.LeftOut > 0 || loaded.NoList) {
        const QString text = QString::fromStdString(
            ListLeftOutText(loaded.LeftOut, loaded.NoList, loaded.KeptAs, AppSettings.LangPolish));
        QTimer::singleShot(0, this, [this, text] { ShowMessage(this, "Brimtale", text, TMsgKind::Warning); });
    }
}

TFormMain::~TFormMain()
{
    if (FormMain == this)
        FormMain = nullptr;
}

void TFormMain::FormCreate()
{
    setAcceptDrops(true);
    ApplicationTitle = QString::fromUtf8(AppTitle);
    setWindowTitle(ApplicationTitle);
    ti->setToolTip(QString::fromUtf8(AppTitle));
    if (TrayAvailable)
        ti->show();
    {
        TUpdatingControls quiet;
        chShortcut_Desktop->setChecked(ShortcutExists(ShellFolder("Desktop"), ShortcutFileName));
        chShortcut_StartMenu->setChecked(ShortcutExists(ShellFolder("Start Menu"), ShortcutFileName));
        chNotifications->setChecked(AppSettings.Notifications);
        chListFolder->setChecked(AppSettings.ListInFolder);
    }
    SetLang();
}

void TFormMain::SetLang()
{
    UseQtLanguage(AppSettings.LangPolish);
    const TMainTexts& t = MainTexts(AppSettings.LangPolish);
    SetActionText(actNew, t.actNew);
    btnNew->setText(QString::fromUtf8(t.actNew));
    btnNew->setToolTip(QString::fromUtf8(t.actNew));
    SetActionText(actMinimizeToTray, t.actMinimizeToTray);
    btnMinimizeToTray->setText(QString());
    SetActionText(actClose, t.actClose);
    pc->setTabText(0, QString::fromUtf8(t.tsMain));
    pc->setTabText(1, QString::fromUtf8(t.tsOptions));
    pc->setTabText(2, QString::fromUtf8(t.tsAbout));
    if (tsFollowing) {
        pc->setTabText(pc->indexOf(tsFollowing), QString::fromUtf8(FollowTexts(AppSettings.LangPolish).tabFollowing));
        tsFollowing->SetLang();
    }
    gbShortcuts->setTitle(QString::fromUtf8(t.gbShortcuts));
    lblLanguage->setText(QString::fromUtf8(t.lblLanguage));
    chShortcut_StartMenu->setText(QString::fromUtf8(t.chShortcut_StartMenu));
    chShortcut_Desktop->setText(QString::fromUtf8(t.chShortcut_Desktop));
    chNotifications->setText(QString::fromUtf8(t.chNotifications));
    chListFolder->setText(QString::fromUtf8(ListTexts(AppSettings.LangPolish).chListFolder));
    gbEngine->SetLang();
    gbEngineAccess->SetLang();
    lblWww->setText(QString::fromUtf8(t.lblWww));
    lblWww->setVisible(*t.lblWww != '\0');
    lblAboutDate->setText(QString::fromUtf8(t.lblAboutDate));
    lblLicence->setText(QString::fromUtf8(t.lblLicence));
    SetDownloadListLang();
    {
        TUpdatingControls quiet;
        cbLanguage->setCurrentIndex(t.cbLanguageRow);
    }
    InitActions();
    FitSize();
}

void TFormMain::FitSize()
{
    // The window is as large as the user makes it, never smaller than its
    // parts need (nor than the screen it is on).
    ensurePolished();
    // A text changed a moment ago counts: the layouts of the parts take it
    // first (each passes it on to the one around it).
    for (int depth = 0; depth < 6; ++depth)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (layout())
        layout()->activate();
    QSize need = minimumSizeHint().expandedTo(QSize(ClientWidth, ClientHeight));
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        need = need.boundedTo(s->availableGeometry().size());
    setMinimumSize(need);
    if (width() < need.width() || height() < need.height())
        resize(size().expandedTo(need));
}

void TFormMain::PlaceOnScreen()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect area = s->availableGeometry();
    // Room for the frame the window manager adds around the window.
    const QSize room = (area.size() - QSize(16, 48)).expandedTo(minimumSize());
    QSize wanted = AppSettings.MainWidth > 0 && AppSettings.MainHeight > 0
                       ? QSize(AppSettings.MainWidth, AppSettings.MainHeight)
                       : QSize(std::max(DefaultWidth, area.width() * 2 / 3), std::max(DefaultHeight, area.height() * 3 / 4));
    wanted = wanted.expandedTo(minimumSize()).boundedTo(room);
    resize(wanted);
    move(area.center() - QPoint(wanted.width() / 2, (wanted.height() + 32) / 2));
}

void TFormMain::SaveWindowLayout()
{
    if (isMaximized() || isMinimized())
        return;
    AppSettings.MainWidth = width();
    AppSettings.MainHeight = height();
    AppSettings.ListColumns = pnDownloads->ColumnWidths().toStdString();
    SaveMainWindowSettings(SettingsFile);
}

void TFormMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Another font or style needs another size; measured once the children
    // have taken it.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        QTimer::singleShot(0, this, [this] { FitSize(); });
}

void TFormMain::showEvent(QShowEvent* event)
{
    // Shown, the window has the platform's font and style: it is measured again.
    FitSize();
    QWidget::showEvent(event);
}

void TFormMain::InitActions()
{
    const TMainTexts& t = MainTexts(AppSettings.LangPolish);
    SetActionText(actShowHideMainWindow, isVisible() ? t.HideMainWindow : t.ShowMainWindow);
}

void TFormMain::FormClose()
{
    queue_->SaveNow();
    SaveSettings(SettingsFile, false);
    setAcceptDrops(false);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Work left is never dropped without a word: the program stays in the
    // tray, or the user says what happens.
    const TJobList::TCounts counts = queue_->List().Counts();
    if (!quitting_ && counts.Running + counts.Waiting > 0) {
        event->ignore();
        if (TrayAvailable) {
            hide();
            InitActions();
            if (!toldInTray_) {
                toldInTray_ = true;
                ti->showMessage(ApplicationTitle, QString::fromStdString(KeptInTrayText(AppSettings.LangPolish)),
                                QSystemTrayIcon::Information, 5000);
            }
            return;
        }
        switch (AskWorkLeft()) {
        case TCloseAnswer::Quit:
            break;
        case TCloseAnswer::KeepRunning:
            showMinimized();
            return;
        case TCloseAnswer::Cancel:
            return;
        }
    }
    SaveWindowLayout();
    FormClose();
    if (formNew_)
        formNew_->hide();
    ti->hide();
    event->accept();
    emit closed();
}

TFormMain::TCloseAnswer TFormMain::AskWorkLeft()
{
    const TJobList::TCounts counts = queue_->List().Counts();
    const std::string text = WorkLeftText(counts.Running, counts.Waiting, AppSettings.LangPolish);
    if (text.empty())
        return TCloseAnswer::Quit;
    const TDownloadListTexts& t = DownloadListTexts(AppSettings.LangPolish);
    if (isHidden())
        BringUp();
    switch (AskThreeWays(this, ApplicationTitle, QString::fromStdString(text), QString::fromUtf8(t.Quit),
                         QString::fromUtf8(t.KeepRunning), QString::fromUtf8(t.Cancel))) {
    case TMsgAnswer::Yes:
        return TCloseAnswer::Quit;
    case TMsgAnswer::No:
        return TCloseAnswer::KeepRunning;
    default:
        return TCloseAnswer::Cancel;
    }
}

void TFormMain::actQuitExecute()
{
    const TJobList::TCounts counts = queue_->List().Counts();
    if (counts.Running + counts.Waiting > 0) {
        const TCloseAnswer answer = AskWorkLeft();
        if (answer == TCloseAnswer::Cancel)
            return;
        if (answer == TCloseAnswer::KeepRunning) {
            // With a tray the window may go there; without one it stays findable.
            if (!TrayAvailable)
                showMinimized();
            return;
        }
    }
    quitting_ = true;
    close();
}

void TFormMain::Notify(const QString& summary, const QString& body)
{
    if (!AppSettings.Notifications || isActiveWindow())
        return;
    if (OnNotify)
        OnNotify(summary, body);
    else
        DesktopNotify(summary, body);
}

void TFormMain::UpdateListStatus()
{
    const TJobList::TCounts counts = queue_->List().Counts();
    lblStatus->setText(QString::fromStdString(ListStatusText(counts, AppSettings.LangPolish)));
    const QString title = QString::fromStdString(ListTitleText(counts, ApplicationTitle.toStdString()));
    setWindowTitle(title);
    ti->setToolTip(title);
}

bool TFormMain::GetFile(TDownloadJob job)
{
    const std::uint64_t handOver = formNew_ ? formNew_->HandOver() : 0;
    if (handOver == 0)
        return AddToList(std::move(job), AppSettings.ShowDownloadWindows, 0);
    if (handOver != handOver_) {
        handOver_ = handOver;
        handOverBatch_ = queue_->NewBatch();
    }
    return AddToList(std::move(job), false, handOverBatch_);
}

bool TFormMain::GetOneOfMany(TDownloadJob job, std::uint64_t batch)
{
    return AddToList(std::move(job), false, batch);
}

bool TFormMain::AddToList(TDownloadJob job, bool opensWindow, std::uint64_t batch)
{
    if (!IsJobValid(job)) {
        // The dialog stays on top: a message owned by the main window would open under it.
        QWidget* owner = formNew_ && formNew_->isVisible() ? static_cast<QWidget*>(formNew_) : this;
        ShowMessage(owner, ApplicationTitle,
                    QString::fromUtf8(MessageText(TMessageId::JobRefused, AppSettings.LangPolish)),
                    TMsgKind::Warning);
        return false;
    }
    if (job.MediaUrl.empty())
        job.MediaUrl.assign(1, '-');
    if (ProgramExecutable.empty())
        return true;
    // The job joins the list; the queue starts its process when its turn comes.
    if (queue_->AddJob(job, ExtractFileName(job.OutputFile), opensWindow, batch) != 0)
        return true;
    // A process of its own, never waited for; the arguments go to it one by
    // one, byte for byte (an address or a path need not be valid UTF-8).
    std::int64_t pid = 0;
    if (StartDetached(ProgramExecutable, JobToArgs(job, AppSettings.AutoClose), &pid))
        LastDownloadPid = pid;
    return true;
}

void TFormMain::actNewExecute()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    // Several addresses copied at once are a batch.
    if (const std::vector<std::string> batch = TFormNew::BatchOf(clipboard ? clipboard->text() : QString());
        !batch.empty()) {
        if (!formNew_->Busy())
            formNew_->OfferBatch(batch);
        return;
    }
    OpenAddress(FirstLineOf(clipboard ? clipboard->text() : QString(), AddressMax));
}

bool TFormMain::OpenAddress(std::string text)
{
    TFormNew* f = formNew_;
    f->show();
    f->raise();
    f->activateWindow();
    if (f->Busy())
        return false; // its network step goes on; Esc there cancels it

    const TVideoSite site = SiteOfAddress(text);
    text = AddressFromClipboard(text);
    const bool sameAddress = f->edURL->text().toStdString() == text;
    f->edURL->setText(site != vsNone ? Q(text) : QString());

    std::string name;
    if (site != vsNone && !f->RunNetworkStep(NewTexts(AppSettings.LangPolish).StepTitle,
                                             [&] { name = ProposeFileName(text); }))
        return true;
    f->edFileName->setText(Q(name));
    f->PageLookedUp(text, site, name);
    if (site == vsLocalFile && FileExists(name)) {
        f->edURL->setText(Q(name));
        f->edFileName->setText(Q(ExtractFileName(name)));
        f->SetDirectoryText(Q(ExtractFileDir(name)));
        f->cbProfilesChange();
    }
    if (f->chConvert->isChecked()) {
        try {
            f->cbProfilesChange();
        } catch (...) {
        }
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    if (site == vsYouTube && !sameAddress)
        f->actCheckYoutubeFormatsExecute();
    return true;
}

void TFormMain::OpenHandedAddress(const std::string& text)
{
    pendingAddresses_.push_back(text);
    if (pendingAddresses_.size() == 1)
        OpenPendingAddresses();
}

void TFormMain::OpenPendingAddresses()
{
    while (!pendingAddresses_.empty()) {
        // While a message box waits for its answer, or the dialog looks
        // something up, the address waits for its turn, and says so.
        const QWidget* modal = QApplication::activeModalWidget();
        if ((modal && modal != formNew_) || !OpenAddress(pendingAddresses_.front())) {
            ShowPendingAddresses();
            QTimer::singleShot(PendingAddressRetryMs, this, [this] { OpenPendingAddresses(); });
            return;
        }
        pendingAddresses_.pop_front();
    }
    ShowPendingAddresses();
}

void TFormMain::ShowPendingAddresses()
{
    if (pendingAddresses_.empty()) {
        lblPending->hide();
        return;
    }
    const bool wasHidden = lblPending->isHidden();
    const QString text = QString::fromStdString(
        PendingAddressesText(pendingAddresses_.front(), pendingAddresses_.size(), AppSettings.LangPolish));
    // A long address is cut in its middle; the whole text is the tooltip.
    lblPending->setText(lblPending->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(100, tsMain->width() - 20)));
    lblPending->setToolTip(text);
    lblPending->show();
    if (wasHidden)
        BringUp();
}

void TFormMain::DroppedFile(const QString& path)
{
    formNew_->show();
    formNew_->raise();
    if (!FileExists(path.toStdString()))
        return;
    formNew_->LocalFileChosen(path);
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!FirstLocalFile(event->mimeData()).isEmpty() || !TFormNew::BatchOf(event->mimeData()).empty())
        event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event)
{
    // Several addresses dropped at once are a batch.
    if (const std::vector<std::string> batch = TFormNew::BatchOf(event->mimeData()); !batch.empty()) {
        event->acceptProposedAction();
        QTimer::singleShot(0, this, [this, batch] {
            if (!formNew_->Busy())
                formNew_->OfferBatch(batch);
        });
        return;
    }
    const QString path = FirstLocalFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    DroppedFile(path);
}

void TFormMain::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && pc->currentWidget() == tsMain) {
        btnNew->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFormMain::actShowHideMainWindowExecute()
{
    if (isVisible())
        hide();
    else
        BringUp();
    InitActions();
}

void TFormMain::actMinimizeToTrayExecute()
{
    // Without a tray the window could not be found again once hidden.
    if (TrayAvailable)
        hide();
    else
        showMinimized();
}

void TFormMain::actCloseExecute()
{
    actQuitExecute();
}

void TFormMain::actEscExecute()
{
    close();
}

void TFormMain::tiDblClick()
{
    actShowHideMainWindowExecute();
}

void TFormMain::tiClick()
{
    shownByClick_.invalidate();
    if (!isVisible() || isMinimized())
        shownByClick_.start();
    BringUp();
    InitActions();
}

void TFormMain::BringUp()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TFormMain::tmTrayTimer()
{
    const bool available = SystemTrayAvailable && SystemTrayAvailable();
    if (tmTray->interval() != TrayPollMs)
        tmTray->setInterval(TrayPollMs);
    if (available == TrayAvailable)
        return;
    TrayAvailable = available;
    if (available) {
        ti->show();
        return;
    }
    ti->hide();
    if (!isVisible())
        actShowHideMainWindowExecute();
}

void TFormMain::popTrayPopup()
{
    InitActions();
}

void TFormMain::cbLanguageChange()
{
    if (UpdatingControls)
        return;
    AppSettings.LangPolish = cbLanguage->currentIndex() == 1;
    SetLang();
    if (formNew_)
        formNew_->SetLang();
}

void TFormMain::ShortcutBoxClicked(QCheckBox* box, const char* folderName)
{
    if (UpdatingControls)
        return;
    const std::string folder = ShellFolder(folderName);
    if (box->isChecked()) {
        if (!ShortcutExists(folder, ShortcutFileName))
            CreateShortcut(ProductName, ProgramExecutable, folder, ShortcutFileName, InstalledIconPath());
    } else if (ShortcutExists(folder, ShortcutFileName)) {
        DeleteShortcut(folder, ShortcutFileName);
    }
}

void TFormMain::chShortcut_DesktopClick()
{
    ShortcutBoxClicked(chShortcut_Desktop, "Desktop");
}

void TFormMain::chShortcut_StartMenuClick()
{
    ShortcutBoxClicked(chShortcut_StartMenu, "Start Menu");
}

void TFormMain::chNotificationsClick()
{
    if (UpdatingControls)
        return;
    AppSettings.Notifications = chNotifications->isChecked();
    SaveNotificationsSetting(SettingsFile);
}

void TFormMain::chListFolderClick()
{
    if (UpdatingControls)
        return;
    AppSettings.ListInFolder = chListFolder->isChecked();
    SaveListFolderSetting(SettingsFile);
}

void TFormMain::Label1Click(TLinkLabel* label)
{
    if (OpenUrlInBrowser)
        OpenUrlInBrowser(QUrl(label->text()));
}

void TFormMain::lblWwwClick()
{
    const char* page = MainTexts(AppSettings.LangPolish).lblWww;
    if (OpenUrlInBrowser && *page)
        OpenUrlInBrowser(QUrl(QString::fromUtf8(page)));
}
