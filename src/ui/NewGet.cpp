// SPDX-License-Identifier: GPL-3.0-or-later
// The new-download dialog's work: the conversion profiles, the formats, what
// the address is, the input helpers, and GET for one job, a list or a batch,
// each through the planner. The dialog's controls are made in New.cpp.

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

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string S(const QString& s)
{
    return s.toStdString();
}

} // namespace

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
    const bool mp4 = rbMP4_1080->isChecked() || rbMP4_720->isChecked() || rbMP4_360->isChecked();
    const std::string ext = UnconvertedExtension(S(edURL->text()), mp4);
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
    if (url.empty() || SiteOfAddress(url) != vsYouTube)
        return;
    QRadioButton* remembered = CheckedYTRadio();
    for (int i = 0; i < 6; ++i)
        FormatButton(i)->setEnabled(false);
    TYouTubeOffer offer;
    // Cut short, the probe tells nothing: every button is offered again.
    const auto unknown = [this] {
        for (int i = 0; i < 6; ++i)
            FormatButton(i)->setEnabled(true);
    };
    try {
        if (!RunNetworkStep(NewTexts(AppSettings.LangPolish).StepFormats, [&] { offer = ProbeYouTubeOffer(url); })) {
            unknown();
            return;
        }
    } catch (...) {
        unknown();
        return;
    }
    probedUrl_ = url;
    for (std::size_t i = 0; i < offer.Offered.size(); ++i)
        if (offer.Offered[i])
            FormatButton(static_cast<int>(i))->setEnabled(true);
    if (!offer.Any)
        ShowNote(url, MessageText(TMessageId::NoYouTubeFormats, AppSettings.LangPolish), offer.Error);
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
    const TVideoSite site = SiteOfAddress(url);
    if (url.empty() || site == vsNone || site == vsLocalFile || busy_)
        return;
    gbEngineChoices->btnCheckEngineFormats->setEnabled(false);
    TPageInfo page;
    SetLookUpCookies(EngineOptionsFrom({}, ReadEngineAccessSettings(SettingsFile)));
    const bool done = RunNetworkStep(NewTexts(AppSettings.LangPolish).StepFormats, [&] { page = LookUpFormats(url); });
    gbEngineChoices->btnCheckEngineFormats->setEnabled(true);
    if (!done)
        return;
    if (!page.Found) {
        ShowNote(url, PageProblemText(page, AppSettings.LangPolish), page.TooLarge ? std::string() : page.Error);
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
    const TVideoSite site = SiteOfAddress(url);
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
    const std::optional<TPageProblem> problem = PageProblemOf(url, AppSettings.LangPolish);
    if (!problem)
        return;
    // The program's words in the line and in GET's message; the engine's own
    // in the line's tooltip and the message's details.
    ShowNote(Trim(url), problem->Text, problem->Details);
    pageProblem_ = problem->Text;
    pageDetails_ = problem->Details;
}

void TFormNew::CheckForList(const std::string& url)
{
    // Only when the page's answer was a list: other pages cost no second look-up.
    if (!MayListVideos(url) || busy_)
        return;
    TPageList list;
    if (!RunNetworkStep(ListTexts(AppSettings.LangPolish).StepList, [&] { list = ReadPageList(url); }))
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
    url = LookUpAddress(url);
    const TVideoSite site = SiteOfAddress(url);
    std::string name;
    if (!RunNetworkStep(NewTexts(AppSettings.LangPolish).StepTitle, [&] { name = ProposeFileName(url); }))
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
    if (SiteOfAddress(Trim(request.Url)) != vsYouTube)
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
    TJobPlanner planner(request, polish);
    const bool checked = planner.Check();
    const TGetPlan& plan = planner.Plan();
    if (plan.NameChecked)
        edFileName->setText(Q(plan.TypedName));
    if (!plan.Directory.empty() && plan.Directory != request.Directory)
        SetDirectoryText(Q(plan.Directory));
    if (!checked) {
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
    bool resolved = false;
    if (!RunNetworkStep(texts.StepResolve, [&] { resolved = planner.Resolve(request.FormatNumber); }))
        return;
    if (!resolved) {
        // The engine found nothing and may be the cause: an update is offered, and
        // after one the same request is tried again.
        if (planner.OfferEngineUpdate()) {
            const TEngineOffer offer =
                OfferEngineUpdate(this, planner.Message(), plan.Site == vsYouTube, planner.Details());
            if (offer == TEngineOffer::Changed)
                QTimer::singleShot(0, this, [this] { actGetExecute(); });
            if (offer != TEngineOffer::NotOffered)
                return;
        }
        Warn(planner.Message(), planner.Details());
        return;
    }
    if (planner.Media().NameChanged)
        edFileName->setText(Q(ExtractFileName(planner.Media().Path)));
    if (planner.NeedsSize() && !RunNetworkStep(texts.StepSize, [&] { planner.QuerySize(); }))
        return;

    // The name is the job's from here on: a second job gets another.
    planner.Reserve();
    Job = planner.Job();
    Job.MainWindow = owner_ ? static_cast<std::int32_t>(static_cast<std::uint32_t>(owner_->winId())) : 0;

    SaveSettings(SettingsFile, true);
    // A refused job leaves the dialog open with its fields, under the message.
    if (startJob_ && !startJob_(Job)) {
        planner.Release();
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
    ++handOvers_;
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
    ++handOvers_;
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
