#include "historyview/Tfm_history.h"

#include "desktop/FileDialogs.h"
#include "desktop/MessageBoxes.h"
#include "history/TSqlThread.h"

#include <QApplication>
#include <QAreaSeries>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSqlDatabase>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

namespace history {

namespace {

constexpr qint64 HourMs = qint64{3600} * 1000;
constexpr qint64 DayMs = 24 * HourMs;

// A read that finds the file locked waits this long inside SQLite and then
// draws what it got.
constexpr int ReaderBusyTimeoutMs = 100;

// The reader's connection, opened on its thread at first use, read-only.
QSqlDatabase ReaderDb(const QString& connection, const QString& path) {
    return ReaderConnection(connection, path, ReaderBusyTimeoutMs);
}

QString LocalStamp(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(
        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Percent(double value) {
    return QLocale().toString(value, 'f', 1) + QStringLiteral(" %");
}

// The end of a period as the list shows it: the time alone on the day it
// began, else the whole stamp.
QString StopStamp(qint64 start, qint64 stop) {
    const QDateTime a = QDateTime::fromMSecsSinceEpoch(start).toLocalTime();
    const QDateTime b = QDateTime::fromMSecsSinceEpoch(stop).toLocalTime();
    return a.date() == b.date() ? b.toString(QStringLiteral("HH:mm:ss")) : LocalStamp(stop);
}

QScatterSeries* Marks(const QString& name, QScatterSeries::MarkerShape shape) {
    auto* s = new QScatterSeries;
    s->setName(name);
    s->setMarkerShape(shape);
    s->setMarkerSize(12);
    return s;
}

} // namespace

QString Tfm_history::DurationText(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    if (s < 86400)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60);
    return QStringLiteral("%1 d %2 h").arg(s / 86400).arg((s % 86400) / 3600);
}

QString Tfm_history::PeriodText(bool degraded, qint64 start, qint64 stop, qint64 now,
                                const QString& outcome) {
    QString text =
        QStringLiteral("%1 from %2")
            .arg(degraded ? QStringLiteral("Degraded") : QStringLiteral("Down"), LocalStamp(start));
    if (stop < 0)
        text += QStringLiteral(", still, for %1").arg(DurationText(now - start));
    else
        text +=
            QStringLiteral(" to %1, %2").arg(StopStamp(start, stop), DurationText(stop - start));
    if (!outcome.isEmpty())
        text += QStringLiteral(", ") + outcome;
    return text;
}

Tfm_history::Tfm_history(const QString& path, const QString& entry, QWidget* owner, Span initial)
    : QWidget(owner, Qt::Window), FClock([] { return QDateTime::currentMSecsSinceEpoch(); }),
      FPath(path), FEntry(entry),
      FReader(std::make_unique<TSqlThread>(QStringLiteral("history view"))),
      FOpen(std::make_shared<std::atomic<bool>>(true)) {
    setObjectName(QStringLiteral("fm_history"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("History of %1 - Netsonde").arg(entry));

    auto* spans = new QHBoxLayout;
    FSpanButtons = new QButtonGroup(this);
    FSpanButtons->setExclusive(true);
    const std::pair<const char*, const char*> spanSpecs[] = {{"bn_hour", "1 &hour"},
                                                             {"bn_day", "&24 hours"},
                                                             {"bn_week", "&7 days"},
                                                             {"bn_month", "&30 days"},
                                                             {"bn_all", "&All"}};
    int id = 0;
    for (const auto& [name, caption] : spanSpecs) {
        auto* button = new QPushButton(QString::fromLatin1(caption), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setCheckable(true);
        FSpanButtons->addButton(button, id++);
        spans->addWidget(button);
    }
    spans->addStretch(1);
    bn_export = new QPushButton(QStringLiteral("&Export..."), this);
    bn_export->setObjectName(QStringLiteral("bn_export"));
    bn_export->setToolTip(QStringLiteral("Save the shown span as CSV"));
    spans->addWidget(bn_export);
    bn_exportall = new QPushButton(QStringLiteral("Export a&ll..."), this);
    bn_exportall->setObjectName(QStringLiteral("bn_exportall"));
    bn_exportall->setToolTip(
        QStringLiteral("Save a summary of every host over the shown span as CSV"));
    spans->addWidget(bn_exportall);

    FChart = new QChart;
    FChart->legend()->hide();
    FChart->setMargins(QMargins(4, 4, 4, 4));
    FRtt = new QLineSeries;
    FRtt->setName(QStringLiteral("Round-trip time"));
    FRtt->setMarkerSize(3);
    FLost = new QScatterSeries;
    FLost->setName(QStringLiteral("Lost echoes"));
    FLost->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    FLost->setMarkerSize(7);
    FChart->addSeries(FRtt);
    FChart->addSeries(FLost);
    // The changes of state sit on the time axis.
    FDownMarks = Marks(QStringLiteral("Went down"), QScatterSeries::MarkerShapeRectangle);
    FDegradedMarks = Marks(QStringLiteral("Became degraded"), QScatterSeries::MarkerShapeTriangle);
    FUpMarks = Marks(QStringLiteral("Up again"), QScatterSeries::MarkerShapeCircle);
    for (QScatterSeries* marks : {FDownMarks, FDegradedMarks, FUpMarks})
        FChart->addSeries(marks);
    FTime = new QDateTimeAxis;
    FMs = new QValueAxis;
    FMs->setTitleText(QStringLiteral("ms"));
    FMs->setLabelFormat(QStringLiteral("%d"));
    FChart->addAxis(FTime, Qt::AlignBottom);
    FChart->addAxis(FMs, Qt::AlignLeft);
    for (QAbstractSeries* s :
         {static_cast<QAbstractSeries*>(FRtt), static_cast<QAbstractSeries*>(FLost),
          static_cast<QAbstractSeries*>(FDownMarks), static_cast<QAbstractSeries*>(FDegradedMarks),
          static_cast<QAbstractSeries*>(FUpMarks)}) {
        s->attachAxis(FTime);
        s->attachAxis(FMs);
    }
    ch_rtt = new QChartView(FChart, this);
    ch_rtt->setObjectName(QStringLiteral("ch_rtt"));
    ch_rtt->setAccessibleName(QStringLiteral("Round-trip time over time"));
    ch_rtt->setRenderHint(QPainter::Antialiasing);
    ch_rtt->setRubberBand(QChartView::HorizontalRubberBand);
    ch_rtt->setMinimumSize(480, 220);

    // The loss per stretch of time, under the round-trip times and on the
    // same time scale.
    FLossChart = new QChart;
    FLossChart->legend()->hide();
    FLossChart->setMargins(QMargins(4, 0, 4, 4));
    FLoss = new QAreaSeries;
    // The area does not own its line.
    FLossLine = new QLineSeries(FLoss);
    FLoss->setUpperSeries(FLossLine);
    FLoss->setName(QStringLiteral("Loss"));
    FLossChart->addSeries(FLoss);
    FLossTime = new QDateTimeAxis;
    FLossTime->setLabelsVisible(false);
    FLossPercent = new QValueAxis;
    FLossPercent->setRange(0, 100);
    FLossPercent->setTickCount(3);
    FLossPercent->setLabelFormat(QStringLiteral("%d"));
    FLossPercent->setTitleText(QStringLiteral("loss %"));
    FLossChart->addAxis(FLossTime, Qt::AlignBottom);
    FLossChart->addAxis(FLossPercent, Qt::AlignLeft);
    FLoss->attachAxis(FLossTime);
    FLoss->attachAxis(FLossPercent);
    ch_loss = new QChartView(FLossChart, this);
    ch_loss->setObjectName(QStringLiteral("ch_loss"));
    ch_loss->setAccessibleName(QStringLiteral("Lost echoes in percent over time"));
    ch_loss->setRenderHint(QPainter::Antialiasing);
    ch_loss->setMinimumHeight(90);

    lb_summary = new QLabel(this);
    lb_summary->setObjectName(QStringLiteral("lb_summary"));
    lb_rtt = new QLabel(this);
    lb_rtt->setObjectName(QStringLiteral("lb_rtt"));
    lb_summary->setTextFormat(Qt::PlainText);
    lb_rtt->setTextFormat(Qt::PlainText);

    tv_outages = new QTreeWidget(this);
    tv_outages->setObjectName(QStringLiteral("tv_outages"));
    tv_outages->setAccessibleName(
        QStringLiteral("Times the host did not answer or answered badly"));
    tv_outages->setRootIsDecorated(false);
    tv_outages->setHeaderLabels({QStringLiteral("Began"), QStringLiteral("Ended"),
                                 QStringLiteral("Lasted"), QStringLiteral("Outcome")});
    tv_outages->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tv_outages->setMinimumHeight(110);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(spans);
    layout->addWidget(ch_rtt, 3);
    layout->addWidget(ch_loss, 1);
    layout->addWidget(lb_summary);
    layout->addWidget(lb_rtt);
    layout->addWidget(tv_outages, 1);
    resize(720, 620);

    connect(FSpanButtons, &QButtonGroup::idClicked, this,
            [this](int span) { SetSpan(static_cast<Span>(span)); });
    connect(bn_export, &QPushButton::clicked, this, [this] { bn_exportClick(); });
    connect(bn_exportall, &QPushButton::clicked, this, [this] { bn_exportallClick(); });
    connect(FTime, &QDateTimeAxis::rangeChanged, this, [this] { AxisChanged(); });
    // The loss graph's time runs right under the round-trip graph's.
    connect(FChart, &QChart::plotAreaChanged, this, [this] { AlignLoss(); });
    connect(FLossChart, &QChart::plotAreaChanged, this, [this] { AlignLoss(); });
    ApplyPalette();
    SetSpan(initial);
}

Tfm_history::~Tfm_history() {
    // Reads still queued are skipped, and the reader ends on its own; an
    // answer still on its way finds no window.
    FOpen->store(false);
    FReader.reset();
}

int Tfm_history::PlotWidth() const {
    // Before the first layout the plot has no size: the window's width
    // less the axis labels is close.
    const int plot = static_cast<int>(FChart->plotArea().width());
    return std::max(plot > 0 ? plot : width() - 100, 100);
}

void Tfm_history::SetSpan(Span span) {
    if (QAbstractButton* button = FSpanButtons->button(span))
        button->setChecked(true);
    const qint64 now = FClock();
    static constexpr qint64 lengths[] = {HourMs, DayMs, 7 * DayMs, 30 * DayMs};
    if (span == All)
        Request(0, now, true);
    else
        Request(now - lengths[span], now, false);
}

void Tfm_history::SetRange(qint64 from, qint64 to) {
    if (QAbstractButton* checked = FSpanButtons->checkedButton()) {
        FSpanButtons->setExclusive(false);
        checked->setChecked(false);
        FSpanButtons->setExclusive(true);
    }
    Request(from, to, false);
}

void Tfm_history::Refresh() {
    const int span = FSpanButtons->checkedId();
    if (span >= 0)
        SetSpan(static_cast<Span>(span));
    else
        Request(FData.From, FData.To, false);
}

void Tfm_history::Request(qint64 from, qint64 to, bool all) {
    const int generation = ++FGeneration;
    const int width = PlotWidth();
    const QString connection = FReader->Connection();
    const QString path = FPath;
    const QString entry = FEntry;
    QPointer<Tfm_history> self(this);
    const std::shared_ptr<std::atomic<bool>> open = FOpen;
    FReader->Post([=] {
        if (!*open)
            return;
        QSqlDatabase db = ReaderDb(connection, path);
        qint64 first = from;
        qint64 last = to;
        if (all) {
            // All runs, and at least the hour before the last of them.
            if (Extent(db, entry, &first, &last)) {
                last += 1;
                first = std::min(first, last - HourMs);
            } else {
                first = last = to;
            }
        }
        const SpanData data = LoadSpan(db, entry, first, std::max(last, first + 1), width);
        QMetaObject::invokeMethod(
            qApp,
            [self, data, generation] {
                if (self)
                    self->Apply(data, generation);
            },
            Qt::QueuedConnection);
    });
}

void Tfm_history::Apply(const SpanData& data, int generation) {
    if (generation != FGeneration)
        return;
    FData = data;
    const double step = static_cast<double>(data.To - data.From) / data.Width;
    QList<QPointF> points;
    QList<QPointF> lost;
    points.reserve(data.Columns.size() * 2);
    int top = 0;
    for (const Column& c : data.Columns) {
        const double x = static_cast<double>(data.From) + (c.Index + 0.5) * step;
        if (c.MinRtt >= 0) {
            points << QPointF(x, c.MinRtt) << QPointF(x, c.MaxRtt);
            top = std::max(top, c.MaxRtt);
        }
    }
    FApplying = true;
    FMs->setRange(0, std::max(10, top + top / 8 + 1));
    FMs->applyNiceNumbers();
    // Lost echoes sit in a row just under the top of the graph.
    const double lostAt = FMs->max() * 0.96;
    for (const Column& c : data.Columns)
        if (c.Sent > c.Received)
            lost << QPointF(static_cast<double>(data.From) + (c.Index + 0.5) * step, lostAt);
    // Single runs far apart show as dots; dense ones as the band alone.
    FRtt->setPointsVisible(data.Columns.size() * 8 < data.Width);
    FRtt->replace(points);
    FLost->replace(lost);
    const qint64 span = data.To - data.From;
    FTime->setFormat(span <= 10 * 60000  ? QStringLiteral("HH:mm:ss")
                     : span <= DayMs     ? QStringLiteral("HH:mm")
                     : span <= 8 * DayMs ? QStringLiteral("ddd HH:mm")
                                         : QStringLiteral("MMM d"));
    FTime->setRange(QDateTime::fromMSecsSinceEpoch(data.From),
                    QDateTime::fromMSecsSinceEpoch(data.To));
    ApplyStates(data);
    ApplyLoss(data, step);
    FApplying = false;

    if (data.Empty()) {
        lb_summary->setText(QStringLiteral("No runs recorded in this span."));
    } else {
        lb_summary->setText(QStringLiteral("Loss %1    Availability %2    %3 runs")
                                .arg(Percent(data.LossPercent()),
                                     Percent(data.AvailabilityPercent()),
                                     QLocale().toString(data.Runs)));
    }
    if (data.Rtt.Samples == 0) {
        lb_rtt->clear();
    } else {
        QString rtt = QStringLiteral("Round-trip time: median %1 ms    95th percentile %2 ms")
                          .arg(data.Rtt.Median)
                          .arg(data.Rtt.P95);
        if (data.Rtt.Jitter >= 0)
            rtt +=
                QStringLiteral("    jitter %1 ms").arg(QLocale().toString(data.Rtt.Jitter, 'f', 1));
        lb_rtt->setText(rtt);
    }
    FillOutages(data);
    emit Loaded();
}

void Tfm_history::ApplyStates(const SpanData& data) {
    QList<QPointF> down;
    QList<QPointF> degraded;
    QList<QPointF> up;
    // Just over the time axis, where the band of round-trip times rarely is.
    const double y = FMs->max() * 0.04;
    for (const StateMark& m : data.States) {
        const QPointF at(static_cast<double>(m.TimeMs), y);
        if (m.State == states::HostState::Down)
            down << at;
        else if (m.State == states::HostState::Degraded)
            degraded << at;
        else if (m.State == states::HostState::Up)
            up << at;
    }
    FDownMarks->replace(down);
    FDegradedMarks->replace(degraded);
    FUpMarks->replace(up);
}

void Tfm_history::ApplyLoss(const SpanData& data, double step) {
    // A step for each column with echoes, down to 0 where columns without
    // runs lie between.
    QList<QPointF> points;
    int previous = -2;
    const auto at = [&](int index) { return static_cast<double>(data.From) + index * step; };
    for (const Column& c : data.Columns) {
        if (c.Sent <= 0)
            continue;
        const double loss =
            100.0 * static_cast<double>(c.Sent - c.Received) / static_cast<double>(c.Sent);
        if (c.Index != previous + 1) {
            if (previous >= 0)
                points << QPointF(at(previous + 1), 0);
            points << QPointF(at(c.Index), 0);
        }
        points << QPointF(at(c.Index), loss) << QPointF(at(c.Index + 1), loss);
        previous = c.Index;
    }
    if (previous >= 0)
        points << QPointF(at(previous + 1), 0);
    FLossLine->replace(points);
    FLossTime->setRange(QDateTime::fromMSecsSinceEpoch(data.From),
                        QDateTime::fromMSecsSinceEpoch(data.To));
}

void Tfm_history::AlignLoss() {
    // The margins of the loss graph make up for the widths of the two
    // graphs' axis labels; each change of either plot comes back here until
    // they line up.
    const QRectF above = FChart->plotArea();
    const QRectF below = FLossChart->plotArea();
    if (above.width() <= 0 || below.width() <= 0)
        return;
    const int left = qRound(above.left() - below.left());
    const int right = qRound(below.right() - above.right());
    if (left == 0 && right == 0)
        return;
    QMargins m = FLossChart->margins();
    m.setLeft(std::max(0, m.left() + left));
    m.setRight(std::max(0, m.right() + right));
    if (m != FLossChart->margins())
        FLossChart->setMargins(m);
}

void Tfm_history::FillOutages(const SpanData& data) {
    struct Row {
        qint64 Start;
        qint64 Stop;
        bool Degraded;
        QString Outcome;
    };
    QVector<Row> rows;
    for (const Outage& o : data.Outages)
        rows.append({o.Start, o.Stop, false,
                     OutcomeName(o.Result) +
                         (o.Code != 0 ? QStringLiteral(" (%1)").arg(o.Code) : QString())});
    for (const Period& p : data.Degraded)
        rows.append({p.Start, p.Stop, true, QStringLiteral("degraded")});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.Start < b.Start; });
    tv_outages->clear();
    const qint64 now = FClock();
    for (const Row& r : rows) {
        auto* row = new QTreeWidgetItem(tv_outages);
        row->setText(0, LocalStamp(r.Start));
        row->setText(1, r.Stop < 0 ? QStringLiteral("not yet") : LocalStamp(r.Stop));
        row->setText(2, DurationText((r.Stop < 0 ? now : r.Stop) - r.Start));
        row->setText(3, r.Outcome);
        // The row in words for assistive technology, which reads its first cell.
        row->setData(
            0, Qt::AccessibleTextRole,
            PeriodText(r.Degraded, r.Start, r.Stop, now, r.Degraded ? QString() : r.Outcome));
    }
}

void Tfm_history::AxisChanged() {
    if (FApplying)
        return;
    // A drag on the graph zoomed in (or a right click out): read that span
    // again at full resolution, once the axis has settled.
    const qint64 from = FTime->min().toMSecsSinceEpoch();
    const qint64 to = FTime->max().toMSecsSinceEpoch();
    if (from == FData.From && to == FData.To)
        return;
    QPointer<Tfm_history> self(this);
    QTimer::singleShot(0, this, [self, from, to] {
        if (self)
            self->SetRange(from, to);
    });
}

void Tfm_history::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

void Tfm_history::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ApplyPalette();
}

void Tfm_history::ApplyPalette() {
    const QPalette p = palette();
    const bool dark = p.color(QPalette::Window).lightness() < 128;
    const QColor text = p.color(QPalette::Text);
    // Both charts take the window's colours: theme, background, axis texts
    // and a faint grid.
    auto applyTo = [&](QChart* chart, std::initializer_list<QAbstractAxis*> axes) {
        chart->setTheme(dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
        chart->legend()->hide();
        chart->setBackgroundBrush(p.color(QPalette::Base));
        chart->setPlotAreaBackgroundVisible(false);
        for (QAbstractAxis* axis : axes) {
            axis->setLabelsColor(text);
            axis->setTitleBrush(text);
            QColor grid = text;
            grid.setAlpha(50);
            axis->setGridLineColor(grid);
        }
    };
    applyTo(FChart, {FTime, FMs});
    FRtt->setPen(QPen(dark ? QColor(0x6C, 0xB6, 0xFF) : QColor(0x1F, 0x5F, 0xB0), 1.5));
    FLost->setColor(dark ? QColor(0xFF, 0x5A, 0x5A) : QColor(0xC8, 0x10, 0x10));
    FLost->setBorderColor(FLost->color());
    FDownMarks->setColor(FLost->color());
    FDegradedMarks->setColor(dark ? QColor(0xFF, 0xB0, 0x30) : QColor(0xC0, 0x70, 0x00));
    FUpMarks->setColor(dark ? QColor(0x5A, 0xD0, 0x6A) : QColor(0x18, 0x80, 0x30));
    for (QScatterSeries* marks : {FDownMarks, FDegradedMarks, FUpMarks})
        marks->setBorderColor(p.color(QPalette::Base));

    applyTo(FLossChart, {FLossTime, FLossPercent});
    FLossTime->setLabelsVisible(false);
    QColor loss = FLost->color();
    FLoss->setPen(QPen(loss, 1));
    loss.setAlpha(110);
    FLoss->setBrush(loss);
}

void Tfm_history::ExportTo(const QString& fileName) {
    const QString entry = FEntry;
    const qint64 from = FData.From;
    const qint64 to = FData.To;
    WriteInBackground(fileName, [entry, from, to](const QSqlDatabase& db) {
        return ExportCsv(db, entry, from, to);
    });
}

void Tfm_history::ExportAllTo(const QString& fileName) {
    const qint64 from = FData.From;
    const qint64 to = FData.To;
    WriteInBackground(fileName,
                      [from, to](const QSqlDatabase& db) { return ExportAllCsv(db, from, to); });
}

void Tfm_history::WriteInBackground(const QString& fileName,
                                    std::function<QByteArray(const QSqlDatabase&)> make) {
    // Read and written on the reader's thread.
    const QString connection = FReader->Connection();
    const QString path = FPath;
    QPointer<Tfm_history> self(this);
    FReader->Post([=] {
        const QByteArray csv = make(ReaderDb(connection, path));
        QSaveFile file(fileName);
        bool ok = file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.commit();
        const QString reason = ok ? QString() : file.errorString();
        QMetaObject::invokeMethod(
            qApp,
            [self, ok, fileName, reason] {
                if (!ok)
                    platform::Messages().Error(
                        QStringLiteral("Cannot write %1: %2")
                            .arg(QDir::toNativeSeparators(fileName), reason));
                if (self)
                    emit self->Exported(ok);
            },
            Qt::QueuedConnection);
    });
}

namespace {

// Asks for the CSV file to export to; a name without an extension gets
// ".csv".
std::optional<QString> PickCsvFile(QWidget* parent, const QString& title, const QString& fileName) {
    platform::FileDialogRequest request;
    request.DialogMode = platform::FileDialogRequest::Mode::Save;
    request.Parent = parent;
    request.Title = title;
    request.Filter = QStringLiteral("CSV Files|*.csv|All Files|*.*");
    request.DefaultExt = QStringLiteral("csv");
    request.FileName = fileName;
    std::optional<QString> picked = platform::Dialogs().PickFile(request);
    if (picked && QFileInfo(*picked).suffix().isEmpty())
        *picked += QStringLiteral(".csv");
    return picked;
}

} // namespace

void Tfm_history::bn_exportClick() {
    QString name = FEntry;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    if (const std::optional<QString> file = PickCsvFile(this, QStringLiteral("Export History"),
                                                        QStringLiteral("%1-history.csv").arg(name)))
        ExportTo(*file);
}

void Tfm_history::bn_exportallClick() {
    if (const std::optional<QString> file = PickCsvFile(this, QStringLiteral("Export All Hosts"),
                                                        QStringLiteral("netsonde-summary.csv")))
        ExportAllTo(*file);
}

} // namespace history
