#pragma once

#include "history/PathQueries.h"
#include "paths/EchoSender.h"
#include "paths/PathWatch.h"
#include "platform/ProbeEntry.h"

#include <QVector>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableView;

namespace history {
class TSqlThread;
}

namespace pathview {

class PathTableModel;

// The path to one entry, live: a top-level window per host, following a
// paths::PathWatch of its own. The entry's name is looked up on a worker
// (an address is taken as it is); until then, and when the name does not
// resolve, the window says so and its commands wait. Then the window shows
// every hop with its figures and recent round trips, lists the route
// changes with their local times, and can pause, reset, copy the plain-text
// report and export it as CSV or JSON.
//
// Given the history file, the window also shows what the history keeps of
// the entry over one of the fixed spans ending now: the figures of the
// stored minutes in the same table and the span's route changes. The file
// is read on a worker with a connection of its own; the watch keeps
// running meanwhile, and its figures and changes come back with "Live".
//
// Closing the window ends its rounds at once: the watch goes with the
// close, and nothing of it calls back afterwards. The window is deleted on
// close; nothing waits for it.
class Tfm_path : public QWidget {
    Q_OBJECT
public:
    explicit Tfm_path(const QString& entry, QWidget* owner = nullptr);
    ~Tfm_path() override;

    // What the table shows: the live figures, or one of the fixed spans of
    // the history ending now.
    enum class Span { Live, Hour, Day, Week, Month };
    Q_ENUM(Span)
    // Asks the history to commit what it has queued, then calls done on
    // the window thread unless context has gone (THistoryStore::Flush).
    using FlushHook = std::function<void(QObject* context, std::function<void()> done)>;

    const QString& Entry() const { return FEntry; }
    // The watch, from the moment the entry has an address until the window
    // closes; nullptr otherwise.
    paths::PathWatch* Watch() const { return FWatch.get(); }
    PathTableModel* Model() const { return FModel; }
    // What the window says about the watch: looking up, the target with its
    // hops and rounds, paused, flapping, or why there is no watch.
    QString StatusText() const;

    // The history file that spans are read from; flush, when given, runs
    // before each read so that the latest minute is in. An empty path
    // leaves "Live" alone to choose (and shows it).
    void SetHistoryFile(const QString& path, FlushHook flush = {});
    // Shows a span, as choosing it in cb_span does; a span of the history
    // is read again each time. Without a history file only Live is shown.
    void SetSpan(Span span);
    Span ShownSpan() const { return FSpan; }
    // What was read for the span shown; empty while reading and for Live.
    const history::PathSpan& StoredSpan() const { return FStored; }
    // The clock that ends the spans (UTC milliseconds).
    void SetClockForTests(std::function<qint64()> clock) { FClock = std::move(clock); }

    // Writes the report to fileName, replacing a file there only once the
    // new one is complete; false after telling the user why not.
    bool ExportCsvTo(const QString& fileName);
    bool ExportJsonTo(const QString& fileName);

    // Every window opened from now on sends through sender instead of an
    // echo engine of its own (nullptr: their own again). Returns the one
    // before.
    static std::shared_ptr<paths::EchoSender>
    SetEchoSenderForTests(std::shared_ptr<paths::EchoSender> sender);

    QComboBox* cb_span;
    QLabel* lb_status;
    QTableView* tv_hops;
    QListWidget* lb_changes;
    QPushButton* bn_pause;
    QPushButton* bn_reset;
    QPushButton* bn_copy;
    QPushButton* bn_csv;
    QPushButton* bn_json;

signals:
    // The watch has started (the entry has an address), or the name did
    // not resolve (Watch() stays nullptr).
    void Started();
    void Failed(const QString& reason);
    // The table shows a new round.
    void Updated();
    // The span asked for last has been read and is shown.
    void SpanLoaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Resolved(const std::optional<paths::PathWatch::Target>& target, const QString& reason);
    void StartWatch(const paths::PathWatch::Target& target);
    void Refresh();
    void ShowStatus();
    void AddChange(const paths::RouteChange& change);
    void ShowChanges(const QVector<paths::RouteChange>& changes);
    void ReadSpan(int generation, qint64 from, qint64 to);
    void ApplySpan(const history::PathSpan& span, int generation);
    void UpdateButtons();
    void bn_pauseClick();
    void bn_resetClick();
    void bn_copyClick();
    void bn_csvClick();
    void bn_jsonClick();
    bool Export(const QString& fileName, const QByteArray& content);
    void PickAndExport(const QString& title, const QString& filter, const QString& extension,
                       bool json);

    QString FEntry;
    QString FFailure;
    // The entry's probe: ICMP echo, or TCP or UDP to a port.
    platform::ProbeKind FProbeKind = platform::ProbeKind::Icmp;
    std::uint16_t FProbePort = 0;
    std::unique_ptr<paths::PathWatch> FWatch;
    PathTableModel* FModel;
    // Cleared as the window goes, for a lookup still on its worker.
    std::shared_ptr<bool> FAlive;
    // The live watch's route changes, kept while a span is shown.
    QVector<paths::RouteChange> FLiveChanges;
    QString FHistoryPath;
    FlushHook FFlush;
    std::function<qint64()> FClock;
    Span FSpan = Span::Live;
    bool FReading = false;
    history::PathSpan FStored;
    // Counts the spans asked for: only the answer to the latest is shown.
    int FGeneration = 0;
    // Made at the first span read; cleared as the window goes, for reads
    // still queued there.
    std::unique_ptr<history::TSqlThread> FReader;
    std::shared_ptr<std::atomic<bool>> FOpen;
};

} // namespace pathview
