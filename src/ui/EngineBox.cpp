// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EngineBox.h"

#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "ui/MessageBoxes.h"
#include "app/Texts.h"
#include "ui/StatusLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <ctime>
#include <functional>

namespace {
constexpr TEngineTexts English = {
    "Page engine",
    "Engine:",
    "none (install yt-dlp, or press Update page engine)",
    "asking...",
    "Brimtale's own copy",
    "beside the program",
    "on PATH",
    "%1 days old",
    "JavaScript runtime:",
    "none \u2014 YouTube needs one",
    "Update page engine",
    "Undo update",
    "Channel:",
    "stable",
    "nightly",
    "Look for a newer engine once a week",
    "Updating the page engine",
    "Cancel",
    "Close",
    "The page engine is %1 days old, and sites change often.",
    "The page engine has no JavaScript runtime, which YouTube needs.",
    "Update now?",
};

constexpr TEngineTexts Polish = {
    "Silnik stron",
    "Silnik:",
    "brak (zainstaluj yt-dlp albo naciśnij Aktualizuj silnik stron)",
    "sprawdzam...",
    "własna kopia Brimtale",
    "obok programu",
    "z PATH",
    "dni od wydania: %1",
    "Środowisko JavaScript:",
    "brak \u2014 YouTube go wymaga",
    "Aktualizuj silnik stron",
    "Cofnij aktualizację",
    "Kanał:",
    "stabilny",
    "nocny",
    "Szukaj nowszego silnika raz w tygodniu",
    "Aktualizacja silnika stron",
    "Anuluj",
    "Zamknij",
    "Silnik stron ma %1 dni, a strony często się zmieniają.",
    "Silnik stron nie ma środowiska JavaScript, którego wymaga YouTube.",
    "Zaktualizować teraz?",
};

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

TEngineChannel ChosenChannel()
{
    return AppSettings.EngineNightly ? TEngineChannel::Nightly : TEngineChannel::Stable;
}

// Runs work on a thread of its own while the window's events go on.
void RunOffThread(const std::function<void()>& work)
{
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    while (!done)
        loop.exec();
    worker.join();
}

bool ChangedTheEngine(const TEngineUpdateResult& r)
{
    return r.Outcome == TUpdateOutcome::Updated || r.RuntimeFetched;
}
} // namespace

const TEngineTexts& EngineTexts(bool polish)
{
    return polish ? Polish : English;
}

// The update window.

TFormEngineUpdate::TFormEngineUpdate(QWidget* parent, TEngineChannel channel) : QDialog(parent), channel_(channel)
{
    setObjectName("FormEngineUpdate");
    const TEngineTexts& t = EngineTexts(AppSettings.LangPolish);
    setWindowTitle(Q(t.UpdateCaption));
    auto* layout = new QVBoxLayout(this);
    lblStep = new QLabel(this);
    lblStep->setObjectName("lblStep");
    lblStep->setMinimumWidth(360);
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName("pbProgress");
    pbProgress->setRange(0, 0);
    btnCancel = new QPushButton(Q(t.Cancel), this);
    btnCancel->setObjectName("btnCancel");
    layout->addWidget(lblStep);
    layout->addWidget(pbProgress);
    layout->addWidget(btnCancel, 0, Qt::AlignRight);
    connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
}

TFormEngineUpdate::~TFormEngineUpdate()
{
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void TFormEngineUpdate::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!started_)
        Start();
}

void TFormEngineUpdate::Start()
{
    started_ = true;
    running_ = true;
    const bool polish = AppSettings.LangPolish;
    TEngineUpdateOptions options;
    options.Channel = channel_;
    options.ShouldStop = [this] { return cancel_.load(); };
    options.OnProgress = [this, polish](TUpdateStep step, std::int64_t done, std::int64_t total) {
        const QString text = Q(UpdateStepText(step, polish));
        QMetaObject::invokeMethod(
            this,
            [this, text, done, total] {
                lblStep->setText(text);
                if (total > 0) {
                    pbProgress->setRange(0, 1000);
                    pbProgress->setValue(static_cast<int>(done * 1000 / total));
                } else {
                    pbProgress->setRange(0, 0);
                }
            },
            Qt::QueuedConnection);
    };
    worker_ = std::thread([this, options] {
        const TEngineUpdateResult result = UpdateEngine(options);
        QMetaObject::invokeMethod(this, [this, result] { Finished(result); }, Qt::QueuedConnection);
    });
}

void TFormEngineUpdate::Finished(const TEngineUpdateResult& result)
{
    if (worker_.joinable())
        worker_.join();
    result_ = result;
    running_ = false;
    accept();
}

void TFormEngineUpdate::reject()
{
    if (running_) {
        // Stopped at the next step; the window closes when the update has ended.
        cancel_ = true;
        btnCancel->setEnabled(false);
        return;
    }
    QDialog::reject();
}

TEngineUpdateResult RunEngineUpdate(QWidget* parent, TEngineChannel channel, bool showResult)
{
    TFormEngineUpdate form(parent, channel);
    form.exec();
    const TEngineUpdateResult result = form.Result();
    if (showResult) {
        const bool ok = result.Outcome == TUpdateOutcome::Updated || result.Outcome == TUpdateOutcome::AlreadyNewest;
        ShowMessage(parent, QString::fromUtf8(AppTitle), Q(UpdateResultText(result, AppSettings.LangPolish)),
                    ok ? TMsgKind::Information : TMsgKind::Warning);
    }
    return result;
}

TEngineOffer OfferEngineUpdate(QWidget* parent, const std::string& message, bool youTube, const std::string& details)
{
    const TEngineTexts& t = EngineTexts(AppSettings.LangPolish);
    TEngineChoice choice;
    RunOffThread([&] { choice = ChooseEngine(); });
    if (!EngineMayBeTheCause(choice, youTube))
        return TEngineOffer::NotOffered;
    QString text = Q(message) + "\n\n";
    const int age = EngineAgeDays(choice.Version);
    if (age < 0 || age > EngineStaleDays)
        text += Q(t.OfferOld).arg(age < 0 ? QString("?") : QString::number(age)) + " ";
    else
        text += Q(t.OfferRuntime) + " ";
    text += Q(t.OfferQuestion);
    if (ShowMessage(parent, QString::fromUtf8(AppTitle), text, TMsgKind::Question, Q(details)) != TMsgAnswer::Yes)
        return TEngineOffer::Declined;
    return ChangedTheEngine(RunEngineUpdate(parent, ChosenChannel())) ? TEngineOffer::Changed : TEngineOffer::Declined;
}

// The group of the Options tab.

TEngineBox::TEngineBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName("gbEngine");
    auto* grid = new QGridLayout(this);
    // The paths take the room there is: the window is not widened for them.
    lblEngine = new TStatusLabel(this);
    lblEngine->setObjectName("lblEngine");
    lblEngine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblRuntime = new TStatusLabel(this);
    lblRuntime->setObjectName("lblRuntime");
    lblRuntime->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblEngineResult = new QLabel(this);
    lblEngineResult->setObjectName("lblEngineResult");
    lblEngineResult->setWordWrap(true);
    lblEngineResult->hide();
    btnUpdateEngine = new QPushButton(this);
    btnUpdateEngine->setObjectName("btnUpdateEngine");
    btnRestoreEngine = new QPushButton(this);
    btnRestoreEngine->setObjectName("btnRestoreEngine");
    lblEngineChannel = new QLabel(this);
    cbEngineChannel = new QComboBox(this);
    cbEngineChannel->setObjectName("cbEngineChannel");
    // As wide as its longest item in the language shown ("stabilny").
    cbEngineChannel->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbEngineChannel->addItems({QString(), QString()});
    chEngineWeekly = new QCheckBox(this);
    chEngineWeekly->setObjectName("chEngineWeekly");
    grid->addWidget(lblEngine, 0, 0, 1, 4);
    grid->addWidget(lblRuntime, 1, 0, 1, 4);
    grid->addWidget(btnUpdateEngine, 2, 0);
    grid->addWidget(btnRestoreEngine, 2, 1);
    grid->addWidget(lblEngineChannel, 2, 2, Qt::AlignRight);
    grid->addWidget(cbEngineChannel, 2, 3);
    grid->addWidget(chEngineWeekly, 3, 0, 1, 4);
    grid->addWidget(lblEngineResult, 4, 0, 1, 4);
    grid->setColumnStretch(2, 1);
    btnRestoreEngine->setEnabled(false);
    {
        const QSignalBlocker quiet(cbEngineChannel);
        cbEngineChannel->setCurrentIndex(AppSettings.EngineNightly ? 1 : 0);
        chEngineWeekly->setChecked(AppSettings.EngineWeeklyCheck);
    }
    connect(btnUpdateEngine, &QPushButton::clicked, this, [this] { btnUpdateEngineClick(); });
    connect(btnRestoreEngine, &QPushButton::clicked, this, [this] { btnRestoreEngineClick(); });
    connect(cbEngineChannel, &QComboBox::currentIndexChanged, this, [](int index) {
        AppSettings.EngineNightly = index == 1;
        SaveEngineSettings(SettingsFile);
    });
    connect(chEngineWeekly, &QCheckBox::clicked, this, [this](bool on) {
        AppSettings.EngineWeeklyCheck = on;
        SaveEngineSettings(SettingsFile);
        if (on)
            WeeklyCheck();
    });
    SetLang();
    Refresh();
    QTimer::singleShot(0, this, [this] { WeeklyCheck(); });
}

TEngineBox::~TEngineBox()
{
    JoinWorkers();
}

void TEngineBox::JoinWorkers()
{
    weeklyStop_ = true;
    if (refresher_.joinable())
        refresher_.join();
    if (weekly_.joinable())
        weekly_.join();
}

void TEngineBox::showEvent(QShowEvent* event)
{
    QGroupBox::showEvent(event);
    if (known_)
        Refresh();
}

void TEngineBox::SetLang()
{
    const TEngineTexts& t = EngineTexts(AppSettings.LangPolish);
    setTitle(Q(t.gbEngine));
    btnUpdateEngine->setText(Q(t.btnUpdateEngine));
    btnRestoreEngine->setText(Q(t.btnRestoreEngine));
    lblEngineChannel->setText(Q(t.lblEngineChannel));
    cbEngineChannel->setItemText(0, Q(t.Stable));
    cbEngineChannel->setItemText(1, Q(t.Nightly));
    chEngineWeekly->setText(Q(t.chEngineWeekly));
    ShowChoice();
    if (result_)
        ShowResult(*result_);
}

void TEngineBox::ShowResult(const TEngineUpdateResult& result)
{
    result_ = result;
    lblEngineResult->setText(Q(UpdateResultText(result, AppSettings.LangPolish)));
    lblEngineResult->show();
    emit linesChanged();
}

void TEngineBox::ShowChoice()
{
    const TEngineTexts& t = EngineTexts(AppSettings.LangPolish);
    if (!known_) {
        lblEngine->SetPathText(Q(t.Engine) + " " + Q(t.Asking), QString());
        lblRuntime->SetPathText(Q(t.Runtime) + " " + Q(t.Asking), QString());
        emit linesChanged();
        return;
    }
    if (choice_.Path.empty()) {
        lblEngine->SetPathText(Q(t.Engine) + " " + Q(t.NoEngine), QString());
    } else {
        const char* source = choice_.Source == "own" ? t.SourceOwn : choice_.Source == "beside" ? t.SourceBeside
                                                                                                : t.SourcePath;
        const int age = EngineAgeDays(choice_.Version);
        lblEngine->SetPathText(Q(t.Engine) + " " + Q(choice_.Version.empty() ? std::string("?") : choice_.Version) +
                                   ", " + Q(source) + " (" + Q(choice_.Path) + ")" +
                                   (age < 0 ? QString() : ", " + Q(t.DaysOld).arg(age)),
                               Q(choice_.Path));
    }
    if (choice_.Runtime.Name.empty())
        lblRuntime->SetPathText(Q(t.Runtime) + " " + Q(t.NoRuntime), QString());
    else
        lblRuntime->SetPathText(Q(t.Runtime) + " " + Q(choice_.Runtime.Name) + " " + Q(choice_.Runtime.Version) +
                                    " (" + Q(choice_.Runtime.Path) + ")",
                                Q(choice_.Runtime.Path));
    btnRestoreEngine->setEnabled(canRestore_);
    emit linesChanged();
}

void TEngineBox::Refresh()
{
    // One refresh at a time; one asked for meanwhile follows it.
    if (refreshing_) {
        refreshAgain_ = true;
        return;
    }
    if (refresher_.joinable())
        refresher_.join();  // it has ended: its last act was to hand over its result
    refreshing_ = true;
    refresher_ = std::thread([this] {
        ForgetProgramVersions();
        TEngineChoice choice = ChooseEngine();
        if (choice.Runtime.Name.empty())
            choice.Runtime = ChooseJsRuntime();
        const bool canRestore = CanRestoreEngine();
        QMetaObject::invokeMethod(
            this,
            [this, choice, canRestore] {
                refreshing_ = false;
                choice_ = choice;
                canRestore_ = canRestore;
                known_ = true;
                ShowChoice();
                if (refreshAgain_) {
                    refreshAgain_ = false;
                    Refresh();
                    return;
                }
                emit refreshed();
            },
            Qt::QueuedConnection);
    });
}

void TEngineBox::WeeklyCheck()
{
    const int today = static_cast<int>(std::time(nullptr) / 86400);
    if (!AppSettings.EngineWeeklyCheck || today - AppSettings.EngineLastCheckDay < 7 || weekly_.joinable())
        return;
    AppSettings.EngineLastCheckDay = today;
    SaveEngineSettings(SettingsFile);
    const TEngineChannel channel = ChosenChannel();
    weekly_ = std::thread([this, channel] {
        TEngineUpdateOptions options;
        options.Channel = channel;
        options.WaitForOther = false;
        options.ShouldStop = [this] { return weeklyStop_.load(); };
        const TEngineUpdateResult result = UpdateEngine(options);
        if (weeklyStop_)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                if (weekly_.joinable())
                    weekly_.join();
                ShowResult(result);
                Refresh();
            },
            Qt::QueuedConnection);
    });
}

void TEngineBox::btnUpdateEngineClick()
{
    ShowResult(RunEngineUpdate(window(), ChosenChannel(), false));
    Refresh();
}

void TEngineBox::btnRestoreEngineClick()
{
    // One Undo per update: the button is back only when Refresh finds another to undo.
    canRestore_ = false;
    btnRestoreEngine->setEnabled(false);
    TEngineUpdateResult result;
    RunOffThread([&] { result = RestoreEngine(); });
    ShowResult(result);
    Refresh();
}
