#pragma once

#include "history/HistoryQueries.h"

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class QAreaSeries;
class QButtonGroup;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QTreeWidget;
class QValueAxis;

namespace history {

class TSqlThread;

// The history of one entry: round-trip times over time with the lost
// echoes and the changes of the host's state marked, the loss per stretch
// of time beneath, loss, availability, median, 95th percentile and jitter
// over the shown span, and the times the host stopped answering or was
// degraded. Reads the history file on a thread of its own
// and draws what comes back; the span is one of the fixed ones, or what the
// user drags out on the graph.
class Tfm_history : public QWidget {
    Q_OBJECT
public:
    enum Span { Hour, Day, Week, Month, All };

    Tfm_history(const QString& path, const QString& entry, QWidget* owner = nullptr,
                Span initial = Day);
    ~Tfm_history() override;

    const QString& Entry() const { return FEntry; }
    // Shows one of the fixed spans, ending now.
    void SetSpan(Span span);
    // Shows [from, to) (UTC milliseconds).
    void SetRange(qint64 from, qint64 to);
    // Reads the shown span again (a fixed span again up to now), for runs
    // written since.
    void Refresh();
    // What is shown; valid after Loaded.
    const SpanData& Shown() const { return FData; }
    // Writes the shown span as CSV in the background; Exported follows, and
    // a message when the file could not be written.
    void ExportTo(const QString& fileName);
    // Writes the summary of every host over the shown span as CSV in the
    // background, like ExportTo.
    void ExportAllTo(const QString& fileName);

    // The clock that ends the fixed spans (UTC milliseconds).
    void SetClockForTests(std::function<qint64()> clock) { FClock = std::move(clock); }

    QPushButton* bn_export;
    QPushButton* bn_exportall;
    QChartView* ch_rtt;
    QChartView* ch_loss;
    QLabel* lb_summary;
    QLabel* lb_rtt;
    QTreeWidget* tv_outages;
    QButtonGroup* FSpanButtons;

    // The duration as the outage list shows it: "45 s", "3 min 5 s",
    // "2 h 10 min", "3 d 4 h".
    static QString DurationText(qint64 ms);
    // The words a screen reader says for a row of the outage list:
    // "Down from 2026-12-08 11:40:00 to 11:55:00, 15 min 0 s, timed out".
    static QString PeriodText(bool degraded, qint64 start, qint64 stop, qint64 now,
                              const QString& outcome);

signals:
    // The data asked for last has been drawn.
    void Loaded();
    void Exported(bool ok);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<qint64()> FClock;
    void Request(qint64 from, qint64 to, bool all);
    void Apply(const SpanData& data, int generation);
    void ApplyPalette();
    void AxisChanged();
    void bn_exportClick();
    void bn_exportallClick();
    void ApplyLoss(const SpanData& data, double step);
    void ApplyStates(const SpanData& data);
    void FillOutages(const SpanData& data);
    void AlignLoss();
    // Writes what make reads from the file to fileName on the reader's
    // thread; Exported follows.
    void WriteInBackground(const QString& fileName,
                           std::function<QByteArray(const QSqlDatabase&)> make);
    int PlotWidth() const;

    QString FPath;
    QString FEntry;
    std::unique_ptr<TSqlThread> FReader;
    // Cleared as the window goes, for the reads still queued.
    std::shared_ptr<std::atomic<bool>> FOpen;
    QChart* FChart;
    QLineSeries* FRtt;
    QScatterSeries* FLost;
    QDateTimeAxis* FTime;
    QValueAxis* FMs;
    QScatterSeries* FDownMarks;
    QScatterSeries* FDegradedMarks;
    QScatterSeries* FUpMarks;
    QChart* FLossChart;
    QLineSeries* FLossLine;
    QAreaSeries* FLoss;
    QDateTimeAxis* FLossTime;
    QValueAxis* FLossPercent;
    SpanData FData;
    int FGeneration = 0;
    bool FApplying = false;
};

} // namespace history
