#include "pathview/Tfm_path.h"

#include "desktop/FileDialogs.h"
#include "files/TextFile.h"
#include "history/HistoryQueries.h"
#include "history/TSqlThread.h"
#include "paths/Address.h"
#include "paths/PathReport.h"
#include "paths/PortEchoSender.h"
#include "pathview/HeatStrip.h"
#include "pathview/PathTableModel.h"
#include "platform/Messages.h"
#include "platform/NameService.h"
#include "platform/ProbeEntry.h"
#include "platform/WindowThread.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <utility>

namespace pathview {

namespace {

constexpr qint64 HourMs = qint64{3600} * 1000;
constexpr qint64 DayMs = 24 * HourMs;
// A span read that finds the file locked waits this long inside SQLite and
// then shows what it got.
constexpr int ReaderBusyTimeoutMs = 100;

struct SpanChoice {
    Tfm_path::Span span;
    const char* caption;
    const char* words; // in "over the last hour"
    qint64 lengthMs;
};
constexpr SpanChoice SpanChoices[] = {
    {Tfm_path::Span::Live, "Live", "", 0},
    {Tfm_path::Span::Hour, "Last hour", "the last hour", HourMs},
    {Tfm_path::Span::Day, "Last 24 hours", "the last 24 hours", DayMs},
    {Tfm_path::Span::Week, "Last 7 days", "the last 7 days", 7 * DayMs},
    {Tfm_path::Span::Month, "Last 30 days", "the last 30 days", 30 * DayMs},
};

const SpanChoice& ChoiceOf(Tfm_path::Span span) {
    return SpanChoices[static_cast<std::size_t>(span)];
}

std::shared_ptr<paths::EchoSender>& SenderForTests() {
    static std::shared_ptr<paths::EchoSender> sender;
    return sender;
}

// The socket library's lookup errors as the window says them.
QString LookupErrorText(int code) {
    switch (code) {
    case 11001:
        return QStringLiteral("host not found");
    case 11002:
        return QStringLiteral("no answer from the name server, try again later");
    case 11003:
        return QStringLiteral("the name server failed");
    case 11004:
        return QStringLiteral("the name has no address");
    default:
        return QStringLiteral("lookup error %1").arg(code);
    }
}

// Looks a name up with the name service in use, on the calling thread.
std::optional<paths::PathWatch::Target> LookUp(const QString& name, QString& reason) {
    platform::HostRecord record;
    const int error = platform::CurrentNameService()->ByName(name.toStdString(), record);
    if (error != 0) {
        reason = LookupErrorText(error);
        return std::nullopt;
    }
    paths::PathWatch::Target target;
    if (!record.addresses.empty()) {
        target.family = 4;
        std::memcpy(target.address.data(), &record.addresses.front(), 4);
        return target;
    }
    if (!record.addresses6.empty()) {
        target.family = 6;
        target.address = record.addresses6.front();
        return target;
    }
    reason = LookupErrorText(11004);
    return std::nullopt;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption,
                    const QString& hint) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')).remove(u'\u2026'));
    button->setAccessibleDescription(hint);
    return button;
}

} // namespace

std::shared_ptr<paths::EchoSender>
Tfm_path::SetEchoSenderForTests(std::shared_ptr<paths::EchoSender> sender) {
    return std::exchange(SenderForTests(), std::move(sender));
}

Tfm_path::Tfm_path(const QString& entry, QWidget* owner)
    : QWidget(owner, Qt::Window), FEntry(entry), FModel(new PathTableModel(this)),
      FAlive(std::make_shared<bool>(true)),
      FClock([] { return QDateTime::currentMSecsSinceEpoch(); }),
      FOpen(std::make_shared<std::atomic<bool>>(true)) {
    setObjectName(QStringLiteral("fm_path"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Path to %1 - Netsonde").arg(entry));

    cb_span = new QComboBox(this);
    cb_span->setObjectName(QStringLiteral("cb_span"));
    cb_span->setAccessibleName(QStringLiteral("Span"));
    cb_span->setToolTip(QStringLiteral("The live figures, or what the history keeps of a span"));
    auto* spanLabel = new QLabel(QStringLiteral("S&how:"), this);
    spanLabel->setBuddy(cb_span);

    lb_status = new QLabel(this);
    lb_status->setObjectName(QStringLiteral("lb_status"));
    lb_status->setAccessibleName(QStringLiteral("Status"));
    // The status names the entry as written in the list: never markup.
    lb_status->setTextFormat(Qt::PlainText);
    lb_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    tv_hops = new QTableView(this);
    tv_hops->setObjectName(QStringLiteral("tv_hops"));
    tv_hops->setAccessibleName(QStringLiteral("Hops"));
    tv_hops->setModel(FModel);
    tv_hops->setItemDelegateForColumn(PathTableModel::Recent, new HeatStrip(tv_hops));
    tv_hops->setSelectionBehavior(QAbstractItemView::SelectRows);
    tv_hops->setSelectionMode(QAbstractItemView::SingleSelection);
    tv_hops->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tv_hops->setShowGrid(false);
    tv_hops->setWordWrap(false);
    // Rows and columns are sized once, from the font, not measured again at
    // every round: measuring every cell's text was most of the window
    // thread's work per round. A row is one line; a number column is as
    // wide as its title or its widest usual figure, and the user may widen
    // it.
    tv_hops->verticalHeader()->hide();
    tv_hops->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tv_hops->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = tv_hops->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    constexpr int CellPadding = 12;
    for (int column = 0; column < PathTableModel::Recent; ++column) {
        const QString widest = column == PathTableModel::Hop    ? QStringLiteral("00")
                               : column == PathTableModel::Sent ? QStringLiteral("0000000")
                                                                : QStringLiteral("0000.0");
        const QString title =
            FModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        header->resizeSection(column, std::max(fontMetrics().horizontalAdvance(widest),
                                               header->fontMetrics().horizontalAdvance(title)) +
                                          CellPadding);
    }
    // The host column takes a usual name with its address; the window is as
    // wide as the columns, so that none is cut at the start.
    header->resizeSection(PathTableModel::Host, fontMetrics().horizontalAdvance(QStringLiteral(
                                                    "router-01.example.net (255.255.255.255)")) +
                                                    CellPadding);
    header->setSectionResizeMode(PathTableModel::Recent, QHeaderView::Fixed);
    header->resizeSection(PathTableModel::Recent, HeatStrip::Bars * HeatStrip::BarWidth + 6);
    int columnsWidth = 0;
    for (int column = 0; column <= PathTableModel::Recent; ++column)
        columnsWidth += header->sectionSize(column);

    auto* changesLabel = new QLabel(QStringLiteral("Route &changes:"), this);
    lb_changes = new QListWidget(this);
    lb_changes->setObjectName(QStringLiteral("lb_changes"));
    lb_changes->setAccessibleName(QStringLiteral("Route changes"));
    lb_changes->setMaximumHeight(fontMetrics().height() * 6);
    changesLabel->setBuddy(lb_changes);

    bn_pause = Button(this, "bn_pause", QStringLiteral("&Pause"),
                      QStringLiteral("Stop sending rounds; the figures stay"));
    bn_reset = Button(this, "bn_reset", QStringLiteral("&Reset"),
                      QStringLiteral("Forget every figure and route change and start again"));
    bn_copy =
        Button(this, "bn_copy", QStringLiteral("&Copy"), QStringLiteral("Copy the table as text"));
    bn_csv = Button(this, "bn_csv", QStringLiteral("Export C&SV\u2026"),
                    QStringLiteral("Save the table as CSV"));
    bn_json = Button(this, "bn_json", QStringLiteral("Export &JSON\u2026"),
                     QStringLiteral("Save the figures as JSON"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {bn_pause, bn_reset, bn_copy, bn_csv, bn_json})
        buttons->addWidget(b);
    buttons->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(lb_status, 1);
    top->addWidget(spanLabel);
    top->addWidget(cb_span);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tv_hops, 1);
    layout->addWidget(changesLabel);
    layout->addWidget(lb_changes);
    layout->addLayout(buttons);

    connect(cb_span, &QComboBox::activated, this,
            [this](int index) { SetSpan(cb_span->itemData(index).value<Span>()); });
    connect(bn_pause, &QPushButton::clicked, this, [this] { bn_pauseClick(); });
    connect(bn_reset, &QPushButton::clicked, this, [this] { bn_resetClick(); });
    connect(bn_copy, &QPushButton::clicked, this, [this] { bn_copyClick(); });
    connect(bn_csv, &QPushButton::clicked, this, [this] { bn_csvClick(); });
    connect(bn_json, &QPushButton::clicked, this, [this] { bn_jsonClick(); });

    // Room for the columns, the frame and a scroll bar beside the margins.
    resize(std::max(900, columnsWidth + 60), 420);
    SetHistoryFile(QString());
    UpdateButtons();
    ShowStatus();

    // An entry that names a port is watched with TCP or UDP probes of it.
    QString entryError;
    const std::optional<platform::ProbeEntry> probe = platform::ParseProbeEntry(entry, &entryError);
    if (!probe) {
        // Reported as a failed lookup is, once the window's owner listens.
        platform::AttachWindowThread();
        platform::PostToWindowThread([this, alive = FAlive, entryError] {
            if (*alive)
                Resolved(std::nullopt, entryError);
        });
        return;
    }
    FProbeKind = probe->kind;
    FProbePort = probe->port;
    const QString host = probe->host.trimmed();
    // An address is watched at once; a name is looked up on a worker, and
    // the answer comes back only while the window exists.
    if (std::optional<paths::PathWatch::Target> target = paths::ParseTarget(host)) {
        StartWatch(*target);
        return;
    }
    platform::AttachWindowThread();
    QThreadPool::globalInstance()->start([this, alive = FAlive, name = host] {
        QString reason;
        std::optional<paths::PathWatch::Target> target = LookUp(name, reason);
        platform::PostToWindowThread([this, alive, target, reason] {
            if (*alive)
                Resolved(target, reason);
        });
    });
}

Tfm_path::~Tfm_path() {
    // Reads still queued are skipped and the reader ends on its own; an
    // answer on its way finds no window.
    *FAlive = false;
    FOpen->store(false);
    FReader.reset();
}

void Tfm_path::closeEvent(QCloseEvent* event) {
    // The rounds end with the window, not when it is deleted later; the
    // minute so far is handed on first.
    *FAlive = false;
    if (FWatch)
        FWatch->CloseMinute();
    FWatch.reset();
    UpdateButtons();
    QWidget::closeEvent(event);
}

void Tfm_path::Resolved(const std::optional<paths::PathWatch::Target>& target,
                        const QString& reason) {
    if (target) {
        StartWatch(*target);
        return;
    }
    FFailure = QStringLiteral("%1 cannot be watched: %2.").arg(FEntry, reason);
    ShowStatus();
    emit Failed(FFailure);
}

void Tfm_path::StartWatch(const paths::PathWatch::Target& target) {
    if (SenderForTests())
        FWatch = std::make_unique<paths::PathWatch>(target, SenderForTests());
    else if (FProbeKind != platform::ProbeKind::Icmp)
        FWatch = std::make_unique<paths::PathWatch>(
            target, std::make_shared<paths::PortEchoSender>(FProbeKind, FProbePort));
    else
        FWatch = std::make_unique<paths::PathWatch>(target);
    connect(FWatch.get(), &paths::PathWatch::RoundEnded, this, &Tfm_path::Refresh);
    connect(FWatch.get(), &paths::PathWatch::NameResolved, this, &Tfm_path::Refresh);
    connect(FWatch.get(), &paths::PathWatch::RouteChanged, this, &Tfm_path::AddChange);
    FWatch->Start();
    UpdateButtons();
    ShowStatus();
    emit Started();
}

void Tfm_path::Refresh() {
    // The watch runs on while a span is shown; the table waits for Live.
    if (!FWatch || FSpan != Span::Live)
        return;
    FModel->SetFigures(FWatch->Figures());
    ShowStatus();
    emit Updated();
}

void Tfm_path::SetHistoryFile(const QString& path, FlushHook flush) {
    FHistoryPath = path;
    FFlush = std::move(flush);
    FReader.reset();
    cb_span->clear();
    for (const SpanChoice& choice : SpanChoices)
        if (choice.span == Span::Live || !path.isEmpty())
            cb_span->addItem(QString::fromLatin1(choice.caption), QVariant::fromValue(choice.span));
    cb_span->setEnabled(!path.isEmpty());
    SetSpan(Span::Live);
}

void Tfm_path::SetSpan(Span span) {
    if (FHistoryPath.isEmpty())
        span = Span::Live;
    const int generation = ++FGeneration;
    FSpan = span;
    FStored = {};
    cb_span->setCurrentIndex(cb_span->findData(QVariant::fromValue(span)));
    if (span == Span::Live) {
        FReading = false;
        FModel->SetFigures(FWatch ? FWatch->Figures() : paths::PathFigures{});
        ShowChanges(FLiveChanges);
        UpdateButtons();
        ShowStatus();
        return;
    }
    FReading = true;
    UpdateButtons();
    ShowStatus();
    const qint64 to = FClock();
    const qint64 from = to - ChoiceOf(span).lengthMs;
    if (!FFlush) {
        ReadSpan(generation, from, to);
        return;
    }
    // The minutes the history still has queued are committed first.
    FFlush(this, [self = QPointer<Tfm_path>(this), generation, from, to] {
        if (self && generation == self->FGeneration)
            self->ReadSpan(generation, from, to);
    });
}

void Tfm_path::ReadSpan(int generation, qint64 from, qint64 to) {
    if (!FReader)
        FReader = std::make_unique<history::TSqlThread>(QStringLiteral("path history"));
    FReader->Post([connection = FReader->Connection(), path = FHistoryPath, entry = FEntry,
                   open = FOpen, self = QPointer<Tfm_path>(this), generation, from, to] {
        if (!*open)
            return;
        const history::PathSpan span = history::LoadPathSpan(
            history::ReaderConnection(connection, path, ReaderBusyTimeoutMs), entry, from, to);
        QMetaObject::invokeMethod(
            qApp,
            [self, span, generation] {
                if (self)
                    self->ApplySpan(span, generation);
            },
            Qt::QueuedConnection);
    });
}

void Tfm_path::ApplySpan(const history::PathSpan& span, int generation) {
    if (generation != FGeneration || FSpan == Span::Live)
        return;
    FReading = false;
    FStored = span;
    FModel->SetFigures(span.figures, PathTableModel::Origin::Stored);
    ShowChanges(span.changes);
    ShowStatus();
    emit SpanLoaded();
}

QString Tfm_path::StatusText() const {
    if (FSpan != Span::Live) {
        const QString words = QString::fromLatin1(ChoiceOf(FSpan).words);
        if (FReading)
            return QStringLiteral("Reading %1 of %2 from the history\u2026").arg(words, FEntry);
        if (FStored.Empty())
            return QStringLiteral("The history has no minutes of %1 in %2.").arg(FEntry, words);
        const paths::PathFigures& f = FStored.figures;
        QString target = f.target;
        if (target != FEntry.trimmed())
            target = QStringLiteral("%1 (%2)").arg(FEntry.trimmed(), target);
        QString text = QStringLiteral("Path to %1 over %2: ").arg(target, words);
        if (f.distance > 0)
            text += f.distance == 1 ? QStringLiteral("1 hop")
                                    : QStringLiteral("%1 hops").arg(f.distance);
        else
            text += QStringLiteral("target not reached");
        text += FStored.minutes == 1 ? QStringLiteral(", 1 minute")
                                     : QStringLiteral(", %1 minutes").arg(FStored.minutes);
        text += f.rounds == 1 ? QStringLiteral(", 1 round")
                              : QStringLiteral(", %1 rounds").arg(f.rounds);
        if (f.flapping)
            text += QStringLiteral(", route flapping");
        return text;
    }
    if (!FFailure.isEmpty())
        return FFailure;
    if (!FWatch)
        return QStringLiteral("Looking up %1\u2026").arg(FEntry);
    const paths::PathFigures& f = FModel->Figures();
    QString target = paths::TargetText(FWatch->WatchedTarget());
    if (target != FEntry.trimmed())
        target = QStringLiteral("%1 (%2)").arg(FEntry.trimmed(), target);
    QString text = QStringLiteral("Path to %1: ").arg(target);
    if (f.distance > 0)
        text +=
            f.distance == 1 ? QStringLiteral("1 hop") : QStringLiteral("%1 hops").arg(f.distance);
    else
        text += QStringLiteral("target not reached yet");
    text +=
        f.rounds == 1 ? QStringLiteral(", 1 round") : QStringLiteral(", %1 rounds").arg(f.rounds);
    if (f.flapping)
        text += QStringLiteral(", route flapping");
    if (!FWatch->Running())
        text += QStringLiteral(", paused");
    return text;
}

void Tfm_path::ShowStatus() {
    lb_status->setText(StatusText());
}

void Tfm_path::AddChange(const paths::RouteChange& change) {
    FLiveChanges.append(change);
    if (FSpan != Span::Live)
        return;
    auto* item = new QListWidgetItem(RouteChangeText(change), lb_changes);
    item->setData(Qt::AccessibleTextRole, item->text());
    lb_changes->scrollToBottom();
    ShowStatus();
}

void Tfm_path::ShowChanges(const QVector<paths::RouteChange>& changes) {
    lb_changes->clear();
    for (const paths::RouteChange& change : changes) {
        auto* item = new QListWidgetItem(RouteChangeText(change), lb_changes);
        item->setData(Qt::AccessibleTextRole, item->text());
    }
    lb_changes->scrollToBottom();
}

void Tfm_path::UpdateButtons() {
    const bool on = FWatch != nullptr;
    // Reset, Copy and the exports work on the live figures, so they wait
    // while a span is shown; the watch can still be paused.
    bn_pause->setEnabled(on);
    for (QPushButton* b : {bn_reset, bn_copy, bn_csv, bn_json})
        b->setEnabled(on && FSpan == Span::Live);
    const bool running = on && FWatch->Running();
    bn_pause->setText(running || !on ? QStringLiteral("&Pause") : QStringLiteral("&Resume"));
    bn_pause->setAccessibleName(running || !on ? QStringLiteral("Pause")
                                               : QStringLiteral("Resume"));
}

void Tfm_path::bn_pauseClick() {
    if (!FWatch)
        return;
    if (FWatch->Running())
        FWatch->Pause();
    else
        FWatch->Resume();
    UpdateButtons();
    ShowStatus();
}

void Tfm_path::bn_resetClick() {
    if (!FWatch)
        return;
    FWatch->Reset();
    FLiveChanges.clear();
    lb_changes->clear();
    FModel->SetFigures(FWatch->Figures());
    ShowStatus();
}

void Tfm_path::bn_copyClick() {
    if (FWatch)
        QGuiApplication::clipboard()->setText(paths::ReportText(FWatch->Figures()));
}

bool Tfm_path::Export(const QString& fileName, const QByteArray& content) {
    // Written beside the file and renamed over it once complete and synced:
    // a failed export leaves an earlier file as it was.
    QString error;
    if (files::WriteFileReplacing(fileName, content, error))
        return true;
    platform::Messages().Error(error);
    return false;
}

bool Tfm_path::ExportCsvTo(const QString& fileName) {
    return FWatch && Export(fileName, paths::ReportCsv(FWatch->Figures()));
}

bool Tfm_path::ExportJsonTo(const QString& fileName) {
    return FWatch && Export(fileName, paths::ReportJson(FWatch->Figures()));
}

void Tfm_path::PickAndExport(const QString& title, const QString& filter, const QString& extension,
                             bool json) {
    if (!FWatch)
        return;
    QString name = FEntry.trimmed();
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    platform::FileDialogRequest request;
    request.DialogMode = platform::FileDialogRequest::Mode::Save;
    request.Parent = this;
    request.Title = title;
    request.Filter = filter;
    request.FileName = QStringLiteral("%1-path.%2").arg(name, extension);
    request.DefaultExt = extension;
    const std::optional<QString> file = platform::Dialogs().PickFile(request);
    if (!file)
        return;
    // The dialog hands a typed name over as it is.
    QString path = *file;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + extension;
    if (json)
        ExportJsonTo(path);
    else
        ExportCsvTo(path);
}

void Tfm_path::bn_csvClick() {
    PickAndExport(QStringLiteral("Export Path as CSV"),
                  QStringLiteral("CSV Files|*.csv|All Files|*.*"), QStringLiteral("csv"), false);
}

void Tfm_path::bn_jsonClick() {
    PickAndExport(QStringLiteral("Export Path as JSON"),
                  QStringLiteral("JSON Files|*.json|All Files|*.*"), QStringLiteral("json"), true);
}

} // namespace pathview
