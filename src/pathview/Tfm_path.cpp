#include "pathview/Tfm_path.h"

#include "desktop/FileDialogs.h"
#include "files/TextFile.h"
#include "paths/Address.h"
#include "paths/PathReport.h"
#include "pathview/HeatStrip.h"
#include "pathview/PathTableModel.h"
#include "platform/Messages.h"
#include "platform/NameService.h"
#include "platform/WindowThread.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>
#include <cstring>
#include <utility>

namespace pathview {

namespace {

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
      FAlive(std::make_shared<bool>(true)) {
    setObjectName(QStringLiteral("fm_path"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Path to %1 - Netsonde").arg(entry));

    lb_status = new QLabel(this);
    lb_status->setObjectName(QStringLiteral("lb_status"));
    lb_status->setAccessibleName(QStringLiteral("Status"));
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
    tv_hops->verticalHeader()->hide();
    tv_hops->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    QHeaderView* header = tv_hops->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(PathTableModel::Host, QHeaderView::Stretch);
    header->setSectionResizeMode(PathTableModel::Recent, QHeaderView::Fixed);
    header->resizeSection(PathTableModel::Recent, HeatStrip::Bars * HeatStrip::BarWidth + 6);

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

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lb_status);
    layout->addWidget(tv_hops, 1);
    layout->addWidget(changesLabel);
    layout->addWidget(lb_changes);
    layout->addLayout(buttons);

    connect(bn_pause, &QPushButton::clicked, this, [this] { bn_pauseClick(); });
    connect(bn_reset, &QPushButton::clicked, this, [this] { bn_resetClick(); });
    connect(bn_copy, &QPushButton::clicked, this, [this] { bn_copyClick(); });
    connect(bn_csv, &QPushButton::clicked, this, [this] { bn_csvClick(); });
    connect(bn_json, &QPushButton::clicked, this, [this] { bn_jsonClick(); });

    resize(900, 420);
    UpdateButtons();
    ShowStatus();

    // An address is watched at once; a name is looked up on a worker, and
    // the answer comes back only while the window exists.
    if (std::optional<paths::PathWatch::Target> target = paths::ParseTarget(entry.trimmed())) {
        StartWatch(*target);
        return;
    }
    platform::AttachWindowThread();
    QThreadPool::globalInstance()->start([this, alive = FAlive, name = entry.trimmed()] {
        QString reason;
        std::optional<paths::PathWatch::Target> target = LookUp(name, reason);
        platform::PostToWindowThread([this, alive, target, reason] {
            if (*alive)
                Resolved(target, reason);
        });
    });
}

Tfm_path::~Tfm_path() {
    *FAlive = false;
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
    FWatch = SenderForTests() ? std::make_unique<paths::PathWatch>(target, SenderForTests())
                              : std::make_unique<paths::PathWatch>(target);
    connect(FWatch.get(), &paths::PathWatch::RoundEnded, this, &Tfm_path::Refresh);
    connect(FWatch.get(), &paths::PathWatch::NameResolved, this, &Tfm_path::Refresh);
    connect(FWatch.get(), &paths::PathWatch::RouteChanged, this, &Tfm_path::AddChange);
    FWatch->Start();
    UpdateButtons();
    ShowStatus();
    emit Started();
}

void Tfm_path::Refresh() {
    if (!FWatch)
        return;
    FModel->SetFigures(FWatch->Figures());
    ShowStatus();
    emit Updated();
}

QString Tfm_path::StatusText() const {
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
    auto* item = new QListWidgetItem(RouteChangeText(change), lb_changes);
    item->setData(Qt::AccessibleTextRole, item->text());
    lb_changes->scrollToBottom();
    ShowStatus();
}

void Tfm_path::UpdateButtons() {
    const bool on = FWatch != nullptr;
    for (QPushButton* b : {bn_pause, bn_reset, bn_copy, bn_csv, bn_json})
        b->setEnabled(on);
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
