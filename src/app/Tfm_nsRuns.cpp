// The commands that start runs for the entries of the address list, busy
// mode, and what the window shows of the runs its controller drives.
#include "app/Tfm_about.h"
#include "app/Tfm_ns.h"

#include "controls/TCBitBtn.h"
#include "controls/g_btnmenu.h"
#include "controls/g_listbox.h"
#include "controls/g_panel.h"
#include "controls/g_progressbar.h"
#include "echo/TAxIcmpTask.h"
#include "runs/RunRecorder.h"

#include <QCloseEvent>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

// Interval at which a running Check All repaints the window.
constexpr int FrameMs = 40;

// Moves the bar; a position beyond the maximum shows a full bar.
void setPosition(g_progressbar* bar, int position) {
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

} // namespace

// The address list as the runs see it.
class Tfm_ns::Entries final : public runs::EntryList {
public:
    explicit Entries(g_listbox* list) : FList(list) {}
    int Count() const override { return FList->Count(); }
    QString Item(int index) const override { return FList->Item(index); }
    QStringList Items() const override { return FList->Items(); }
    int Selected() const override { return FList->ItemIndex(); }
    void Select(int index) override { FList->SetItemIndex(index); }

private:
    g_listbox* FList;
};

void Tfm_ns::ConnectRuns() {
    FEntries = new Entries(lb_add);
    FRuns = new runs::RunController(*FEntries, this, this);
    Ping = FRuns->Ping();
    Trace = FRuns->Trace();
    Tick = FRuns->Tick();
    FRecorder = new runs::RunRecorder(*FRuns, FRuns);
    connect(FRuns, &runs::RunController::Busy, this, [this] { SetIdle(false); });
    connect(FRuns, &runs::RunController::Idle, this, [this] { SetIdle(true); });
    connect(FRuns, &runs::RunController::Line, this,
            [this](const QString& text) { PaneAppend(text); });
    connect(FRuns, &runs::RunController::Progress, this, [this](int position) {
        setPosition(bar, position);
        bar->repaint();
    });
    connect(FRuns, &runs::RunController::ProgressRange, this, [this](int maximum) {
        bar->setValue(0);
        bar->setMaximum(maximum);
    });
    connect(FRuns, &runs::RunController::ResultsReady, this, [this] { StoreResults(); });
    connect(FRuns, &runs::RunController::CheckAllBegins, this, [this] { BeginBatch(); });
    connect(FRuns, &runs::RunController::EntryBegins, this, [this] { setUpdatesEnabled(false); });
    connect(FRuns, &runs::RunController::CheckAllEnds, this, [this] { EndBatch(); });
    connect(FRuns, &runs::RunController::AutoRunChanged, this,
            [this](bool on) { bn_auto->SetIgnoreLight(on); });

    // Hosts that answer at once would have the window painted after every
    // one of them; during Check All it is painted at a steady rate instead,
    // and stays busy on screen from the first host to the last.
    FFrame = new QTimer(this);
    FFrame->setInterval(FrameMs);
    connect(FFrame, &QTimer::timeout, this, [this] {
        SyncPane();
        ResumeUpdates();
    });
}

Tfm_ns::~Tfm_ns() {
    // A last session on its way is written whole before the program ends.
    WaitForLastSession();
    // The runs go first: a run still in flight is cut off from the
    // components, and nothing of it reaches the window any more.
    delete FRuns;
    delete FEntries;
}

TRunKind Tfm_ns::CheckKind() const {
    return FRuns->CheckKind();
}

TRunKind Tfm_ns::AutoKind() const {
    return FRuns->AutoKind();
}

void Tfm_ns::SetIdle(bool Idle) {
    if (!Idle)
        PaneClear();
    bar->setValue(0);
    // Between two hosts of a Check All the window stays busy on screen; the
    // idle mode is shown when the Check All ends.
    FIdlePending = FBatch && Idle;
    if (FIdlePending || Idle == FShownIdle)
        return;
    FShownIdle = Idle;
    if (!Idle)
        FBusyFocus = focusWidget();
    for (QWidget* control : {static_cast<QWidget*>(bn_add), static_cast<QWidget*>(bn_one),
                             static_cast<QWidget*>(bn_all), static_cast<QWidget*>(bn_ping),
                             static_cast<QWidget*>(bn_trace), static_cast<QWidget*>(bn_close),
                             static_cast<QWidget*>(lb_add), static_cast<QWidget*>(bn_load),
                             static_cast<QWidget*>(bn_save), static_cast<QWidget*>(bn_auto)})
        control->setEnabled(Idle);
    pn_ctrls->setVisible(Idle);
    bn_cancel->setEnabled(!Idle);
    bn_cancel->setVisible(!Idle);
    if (Idle) {
        // The focus goes back where it was before the run.
        if (FBusyFocus && FBusyFocus->isEnabled() && FBusyFocus->isVisible())
            FBusyFocus->setFocus();
    } else if (!focusWidget() || !focusWidget()->isEnabled() || !focusWidget()->isVisible()) {
        bn_cancel->setFocus();
    }
}

void Tfm_ns::bn_oneClick(QObject*) {
    FRuns->CheckOne();
}

void Tfm_ns::bn_allClick(QObject*) {
    FRuns->CheckAll();
}

void Tfm_ns::BeginBatch() {
    FBatch = true;
    FFrame->start();
}

void Tfm_ns::EndBatch() {
    FFrame->stop();
    FBatch = false;
    SyncPane();
    if (FIdlePending)
        SetIdle(true);
    ResumeUpdates();
}

void Tfm_ns::ResumeUpdates() {
    // Switching updates back on only marks the window for repainting; when
    // the window's pending repaint request was handled while updates were
    // off, no new request follows the mark and the screen would keep the
    // last frame until some other repaint. The window is painted at once.
    if (updatesEnabled())
        return;
    setUpdatesEnabled(true);
    repaint();
}

void Tfm_ns::bn_pingClick(QObject*) {
    FRuns->PingEntry();
}

void Tfm_ns::bn_traceClick(QObject*) {
    FRuns->TraceEntry();
}

void Tfm_ns::bn_cancelClick(QObject*) {
    FRuns->Cancel();
}

void Tfm_ns::bn_closeClick(QObject*) {
    {
        std::unique_ptr<Tfm_about> about(new Tfm_about(this));
        about->ShowModal();
    }
    FireEvent(OnTerminate, this);
}

void Tfm_ns::closeEvent(QCloseEvent* event) {
    // Closing by the title bar ends a run in flight, stops a Check All after
    // its current entry and stops the automatic mode.
    bn_cancelClick(this);
    QWidget::closeEvent(event);
}
