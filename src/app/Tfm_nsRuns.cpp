// The commands that start runs for the entries of the address list, busy
// mode, and the handlers of the echo components' events.
#include "app/Tfm_about.h"
#include "app/Tfm_ns.h"

#include "controls/TCBitBtn.h"
#include "controls/g_btnmenu.h"
#include "controls/g_listbox.h"
#include "controls/g_panel.h"
#include "controls/g_progressbar.h"
#include "controls/g_updown.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "echo/TLookAhead.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QScopeGuard>
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

void Tfm_ns::StartRun(TAxIcmpTask* task) {
    FRunFailed = false;
    task->Start(lb_add->Item(lb_add->ItemIndex()));
}

void Tfm_ns::bn_oneClick(QObject*) {
    if (lb_add->ItemIndex() < 0 || Ping->Busy() || Trace->Busy())
        return;
    FCheckKind = rkCheckOne;
    SetIdle(false);
    // One echo; the Pings field and the bar's maximum keep their values.
    Ping->SetNumber(1);
    StartRun(Ping);
}

void Tfm_ns::bn_allClick(QObject* Sender) {
    if (Ping->Busy() || Trace->Busy())
        return;
    const QPointer<Tfm_ns> alive(this);
    // Hosts that answer at once would have the window painted after every
    // one of them; it is painted at a steady rate instead, and stays busy on
    // screen from the first host to the last.
    const bool outermost = !FBatch;
    FBatch = true;
    QTimer frame;
    frame.setInterval(FrameMs);
    connect(&frame, &QTimer::timeout, this, [this] {
        SyncPane();
        ResumeUpdates();
    });
    frame.start();
    const auto endBatch = qScopeGuard([alive, outermost] {
        if (!alive || !outermost)
            return;
        alive->FBatch = false;
        alive->SyncPane();
        if (alive->FIdlePending)
            alive->SetIdle(true);
        alive->ResumeUpdates();
    });
    const int count = lb_add->Count();
    // The checks of the entries after the current one go out ahead of their
    // turn; each entry is still checked, shown and stored by Ping in turn.
    QPointer<TLookAhead> ahead;
    if (!FAhead && Ping->Mode() == wsmAsync && count > 1)
        FAhead = ahead = new TLookAhead(Ping, lb_add->Items(), 1, this);
    const auto endAhead = qScopeGuard([ahead] { delete ahead.data(); });
    for (int i = 0; i < count && i < lb_add->Count(); ++i) {
        setUpdatesEnabled(false);
        FCheckKind = rkCheckAll;
        lb_add->SetItemIndex(i);
        if (ahead)
            ahead->Reached(i);
        bn_oneClick(Sender);
        if (!WaitForPing() || !alive)
            return;
        if (Ping->Cancelled())
            break;
    }
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

bool Tfm_ns::WaitForPing() {
    // Sleeps in an event loop that the run's end quits; everything else the
    // window receives meanwhile (Cancel, timer ticks, repaints) is handled
    // there.
    const QPointer<Tfm_ns> alive(this);
    while (alive && !FClosing && Ping->Busy()) {
        QEventLoop loop;
        FWaitLoop = &loop;
        const int rc = loop.exec();
        if (!alive)
            return false;
        FWaitLoop = nullptr;
        // An event loop that refuses to run: the application is quitting.
        if (rc < 0)
            return false;
    }
    return alive && !FClosing;
}

void Tfm_ns::QuitWait() {
    if (FWaitLoop)
        FWaitLoop->quit();
}

void Tfm_ns::bn_pingClick(QObject*) {
    if (Ping->Busy() || Trace->Busy() || lb_add->ItemIndex() < 0)
        return;
    SetIdle(false);
    StartRun(Ping);
}

void Tfm_ns::bn_traceClick(QObject*) {
    if (Ping->Busy() || Trace->Busy() || lb_add->ItemIndex() < 0)
        return;
    SetIdle(false);
    StartRun(Trace);
}

void Tfm_ns::bn_cancelClick(QObject*) {
    // Nothing checked ahead of the current entry goes on.
    if (FAhead)
        FAhead->Stop();
    if (Ping->Busy())
        Ping->Cancel();
    if (Trace->Busy())
        Trace->Cancel();
    SetAutoRun(false);
}

void Tfm_ns::bn_closeClick(QObject*) {
    {
        std::unique_ptr<Tfm_about> about(new Tfm_about(this));
        about->ShowModal();
    }
    FireEvent(OnTerminate, this);
}

void Tfm_ns::closeEvent(QCloseEvent* event) {
    // Closing by the title bar ends a run in flight and stops the automatic
    // mode; a Check All in progress stops waiting.
    FClosing = true;
    bn_cancelClick(this);
    QuitWait();
    QWidget::closeEvent(event);
}

void Tfm_ns::PingData(QObject*, int) {
    PaneAppend(Ping->ReplyText());
    setPosition(bar, Ping->Sent());
    bar->repaint();
}

void Tfm_ns::TraceData(QObject*, int) {
    PaneAppend(Trace->HopText());
    if (Trace->SendTestPacket())
        setPosition(bar, Trace->Hop());
    bar->repaint();
}

void Tfm_ns::TraceTest(QObject*) {
    bar->setValue(0);
    bar->setMaximum(Trace->ExpectedHops());
}

void Tfm_ns::PingError(QObject* Sender, int Error, const QString& Msg) {
    PaneAppend(QStringLiteral("Error ") + QString::number(Error) + QStringLiteral(": ") + Msg);
    HistoryRunEnded(Sender, true, Error, Msg);
    // Nothing of this run is stored, also if a finished event follows.
    FRunFailed = true;
    SetIdle(true);
    if (FCheckKind != rkNone)
        ApplyNumber(static_cast<std::int16_t>(ud_number->Position()));
    FCheckKind = rkNone;
    QuitWait();
}

void Tfm_ns::PingFinished(QObject*) {
    PaneAppend(QStringLiteral("\r\n"));
    PaneAppend(Ping->StatsText());
    PaneAppend(QStringLiteral("\r\nIP Address: ") + Ping->HostAddress());
    PaneAppend(QStringLiteral("Destination: ") + Ping->HostName());
    PaneAppend(QStringLiteral("Return Name: ") + Ping->ReplyName());
    SetIdle(true);
    if (!FRunFailed)
        HistoryRunEnded(Ping, false);
    if (!FRunFailed)
        StoreResults();
    if (FCheckKind != rkNone)
        ApplyNumber(static_cast<std::int16_t>(ud_number->Position()));
    FCheckKind = rkNone;
    QuitWait();
}

void Tfm_ns::TraceFinished(QObject*) {
    PaneAppend(QStringLiteral("\r\n"));
    PaneAppend(Trace->SummaryText());
    PaneAppend(QStringLiteral("\r\nIP Address: ") + Trace->HostAddress());
    PaneAppend(QStringLiteral("Destination: ") + Trace->HostName());
    PaneAppend(QStringLiteral("Return Name: ") + Trace->ReplyName());
    if (!FRunFailed)
        HistoryRunEnded(Trace, false);
    if (!FRunFailed)
        StoreResults();
    SetIdle(true);
}
