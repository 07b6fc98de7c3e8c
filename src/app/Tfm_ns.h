#pragma once

#include "platform/Events.h"
#include "runs/RunController.h"

#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <cstdint>

class QAction;
class QThreadPool;
class QTimer;
class TAlertWatch;
class TAxPing;
class TAxTrace;
class TCBitBtn;
class TOpenDialog;
class TSaveDialog;
class TTrayIcon;
class Tfm_add;
class Tfm_alerts;
class g_bevel;
class g_btnmenu;
class g_checkbox;
class g_edit;
class g_imagelist;
class g_label3d;
class g_listbox;
class g_memo;
class g_panel;
class g_PopupMenu;
class g_progressbar;
class g_updown;
namespace history {
class THistory;
}
namespace hosts {
class HostList;
}
namespace pathview {
class Tfm_path;
}
namespace runs {
class RunRecorder;
}

// The program's main window: the address list with the results of the last
// run of every host, the commands that check, ping and trace hosts, the
// option fields, the session buttons and the automatic-mode menu.
//
// Its members are spread over several files: Tfm_ns.cpp builds the form and
// holds the list and the option fields, Tfm_nsRuns.cpp the commands and the
// window's side of the runs, Tfm_nsSession.cpp the session files,
// Tfm_nsAuto.cpp the automatic mode and its menu, Tfm_nsDesktop.cpp the
// window's life in the notification area (minimising into it, the tray
// icon's click, an area that comes or goes) and the start at login,
// Tfm_nsHistory.cpp the history window and where run records go,
// Tfm_nsAlerts.cpp the Alerts dialog and the rows' spoken words,
// Tfm_nsPaths.cpp the Path windows of watched hosts. The runs
// themselves (which entry, Check All, the automatic timer) belong to a
// runs::RunController, their records to a runs::RunRecorder; the handlers
// below call into the controller and the window follows its signals.
class Tfm_ns : public QWidget {
    Q_OBJECT
public:
    explicit Tfm_ns(QWidget* owner = nullptr);
    ~Tfm_ns() override;

    // Factor from pixels at 96 dots per inch to this window's pixels.
    double Scale() const { return FScale; }

    // ---- controls, in tab order ----
    g_listbox* lb_add;
    TCBitBtn* bn_add;
    g_bevel* g_bevel1;
    TCBitBtn* bn_one;
    TCBitBtn* bn_all;
    TCBitBtn* bn_ping;
    TCBitBtn* bn_trace;
    g_bevel* g_bevel2;
    TCBitBtn* bn_load;
    TCBitBtn* bn_save;
    g_btnmenu* bn_auto;
    g_panel* pn_ctrls;
    TCBitBtn* bn_close;
    TCBitBtn* bn_cancel;
    g_progressbar* bar;
    g_memo* ed_results;
    // The option fields inside pn_ctrls.
    g_checkbox* ck_Resolve;
    g_label3d* g_label3d1; // "P&ings :"
    g_label3d* g_label3d2; // "&Size :"
    g_label3d* g_label3d3; // "T&mOut :"
    g_label3d* g_label3d4; // "TT&L :"
    g_label3d* g_label3d5; // "Secs.:"
    g_edit* ed_number;
    g_edit* ed_size;
    g_edit* ed_tmout;
    g_edit* ed_ttl;
    g_edit* ed_secs;
    g_updown* ud_number;
    g_updown* ud_size;
    g_updown* ud_tmout;
    g_updown* ud_ttl;
    g_updown* ud_secs;

    // ---- components ----
    TAxPing* Ping;
    TAxTrace* Trace;
    TOpenDialog* dl_open;
    TSaveDialog* dl_save;
    g_PopupMenu* popup;
    QAction* CheckOne1;
    QAction* CheckAll1;
    QAction* Ping1;
    QAction* Trace1;
    QAction* N1;
    QAction* Stop1;
    QTimer* Tick;
    TTrayIcon* tray;
    g_imagelist* il_states;

    // ---- address list and results ----
    void lb_addClick(QObject* Sender);
    void UpdateButtons();
    // The picture of the entry's state (states::PictureIndex): 0 without
    // results, 1 when they contain "timed out", else 2.
    unsigned EntryState(int Index) const;
    void lb_addDrawItem(QObject* Control, int Index, const QRect& Rect, unsigned State);
    void StoreResults();
    void bn_addClick(QObject* Sender);
    // The result lines of an entry; empty for an entry without results.
    QStringList Results(int Index) const;
    bool HasResults(int Index) const;
    // The hosts of the list with their results and states; lb_add shows
    // them.
    hosts::HostList* Hosts() const { return FHosts; }
    // The lines the result pane holds, as they were appended (a line the
    // pane wraps on screen is still one line).
    QStringList PaneLines() const { return FPaneLines; }

    // ---- commands and run events ----
    void bn_oneClick(QObject* Sender);
    void bn_allClick(QObject* Sender);
    void bn_pingClick(QObject* Sender);
    void bn_traceClick(QObject* Sender);
    void bn_cancelClick(QObject* Sender);
    void bn_closeClick(QObject* Sender);
    void SetIdle(bool Idle);
    TRunKind CheckKind() const;
    // The runs of this window.
    runs::RunController* Runs() const { return FRuns; }
    // What Close does after the about box: ends the application unless the
    // handler is replaced.
    TNotifyEvent OnTerminate;

    // ---- option fields ----
    void ApplyResolve(bool Value);
    void ApplyNumber(std::int16_t Value);
    void ApplyPacketSize(std::int16_t Value);
    void ApplyTimeOut(std::int16_t Value);
    void ApplyTimeToLive(std::int16_t Value);
    void ApplySeconds(std::int16_t Value);
    void ck_ResolveClick(QObject* Sender);
    void ed_numberChange(QObject* Sender);
    void ed_sizeChange(QObject* Sender);
    void ed_tmoutChange(QObject* Sender);
    void ed_ttlChange(QObject* Sender);
    void ed_secsChange(QObject* Sender);
    // Applies the options' starting values (10 pings of 56 bytes, 2500 ms,
    // TTL 32, every 30 s, no resolving), once: at the first show, or
    // earlier when a last session is restored into a window not shown yet,
    // whose values then replace them and are kept by that show.
    void ApplyStartOptions();

    // ---- session files ----
    void bn_loadClick(QObject* Sender);
    void bn_saveClick(QObject* Sender);
    void SaveSession();
    void LoadSession();
    // The session load without its dialog: path replaces the list, or an
    // error box says why it cannot.
    void LoadSessionFrom(const QString& path);
    // An address list file replaces the list, its entries without results.
    void LoadAddressList(const QString& path);

    // ---- automatic mode and tray ----
    void CheckOne1Click(QObject* Sender);
    void CheckAll1Click(QObject* Sender);
    void Ping1Click(QObject* Sender);
    void Trace1Click(QObject* Sender);
    void Stop1Click(QObject* Sender);
    void popupPopup(QObject* Sender);
    void SetAutoRun(bool On);
    void TickTimer(QObject* Sender);
    TRunKind AutoKind() const;
    void SetTrayMode(bool On);
    void AppMinimize();
    void AppRestore();
    void trayClick(QObject* Sender);

    // ---- history of runs ----
    // The history the window records its runs into; it becomes the
    // window's. Without one nothing is recorded.
    void SetHistory(history::THistory* History);
    history::THistory* History() const;
    // Opens (or raises) the history window of the entry at Index.
    void ShowHistory(int Index);

    // ---- watched paths ----
    // Opens (or raises) the Path window of the entry at Index, or of the
    // entry named Entry; one window per entry.
    void ShowPath(int Index);
    void ShowPathOf(const QString& Entry);
    // The entries whose Path window is open, in the order they opened.
    QStringList WatchedPaths() const;

    // ---- watch over hosts ----
    // The watch the automatic mode feeds; it becomes the window's. Without
    // one there are no state notices and no alert sounds.
    void SetAlerts(TAlertWatch* Watch);
    TAlertWatch* Alerts() const;
    // Opens the Alerts dialog over the window.
    void ShowAlerts();

    // ---- life on the desktop ----
    // "Hide to Notification Area" (Ctrl+Shift+H), in the list's context
    // menu: into the notification area without minimising, for desktops
    // that do not tell the program it was minimised.
    void HideToTray();
    // The start from the login's autostart entry: the window goes straight
    // into the notification area, or stays minimised where there is none.
    void StartInTray();
    // A notification area came or went: a minimised window goes into one
    // that came, a hidden window comes out of one that went.
    void NotifyAreaChange();
    // Where the program remembers that the user was told, once, that the
    // desktop has no notification area; empty: remembered for this run only.
    void SetDesktopSettings(const QString& Path) { DesktopSettings = Path; }
    static QString NoTrayNoticeText();
    // Where the start at login keeps the last session (see LastSession);
    // empty: the Alerts dialog does not offer the start at login.
    void SetLastSessionFolder(const QString& Folder) { LastSessionFolder = Folder; }
    const QString& LastSessionPlace() const { return LastSessionFolder; }
    // Writes or removes the autostart entry, keeping the last session with
    // it; false after telling the user why it failed.
    bool SetStartAtLogin(bool On);
    // Keeps the last session for the next start at login, if there is one:
    // taken from the window at once and written on a worker, one write
    // after the other; the window's end waits for the last of them.
    void SaveLastSession();
    // Waits until every last session handed to the worker is written.
    void WaitForLastSession();

    // ---- form events ----
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Life on the desktop (Tfm_nsDesktop.cpp).
    QAction* Hide1 = nullptr;
    QString DesktopSettings;
    QString LastSessionFolder;
    QThreadPool* FSessionWriter = nullptr;
    class Entries;

    void BuildOptions(class FormScale& scale);
    // The window's side of the runs: the controller's signals.
    void ConnectRuns();
    void BeginBatch();
    void EndBatch();
    void BuildHistoryMenu();
    void BuildPathMenu();
    // The watch of an opened Path window reports to the alerts and the
    // history: each round, each route change, each minute.
    void FollowPath(pathview::Tfm_path* Window);
    // Shows a window of the main window's over its centre (moved by
    // Offset), whole on its screen, and brings it to the front.
    void ShowOver(QWidget* Window, QPoint Offset = {});
    // Sends the records of ended runs to the history's store, then to the
    // alert watch; called whenever either of them changes.
    void ConnectRecords();
    void BuildAlerts();
    void BuildDesktop();
    // Tells the user once what a desktop without notification area needs.
    void NoTrayNotice();
    // Adds the start at login to the Alerts dialog.
    void OfferStartAtLogin(Tfm_alerts& dialog);
    // A run of entry has been recorded: its row's words follow once its
    // results are stored.
    void AlertRunEnded(const QString& entry);
    // Sets the words assistive technology reads for the row at Index.
    void UpdateRowText(int Index);
    // The result pane: cleared, and added to line by line.
    void PaneClear();
    void PaneAppend(const QString& text);
    // Shows the lines that a Check All collected since the last frame.
    void SyncPane();
    // Switches updates on after Check All held them off, and paints the
    // window at once.
    void ResumeUpdates();
    // Hands the list to the address dialog and takes it back after OK.
    void FillDialog(Tfm_add& dialog) const;
    void FillFromDialog(const Tfm_add& dialog);

    double FScale = 1.0;
    bool FShown = false;
    bool FOptionsApplied = false;
    QStringList FPaneLines;
    QPointer<QWidget> FBusyFocus;
    // The mode the controls show (SetIdle's table).
    bool FShownIdle = true;
    // Set while Check All runs: the pane and the idle mode between two
    // hosts reach the screen with the next frame, not after every host.
    bool FBatch = false;
    bool FIdlePending = false;
    bool FPaneDirty = false;
    // Repaints the window at a steady rate while Check All runs.
    QTimer* FFrame = nullptr;
    // The hosts lb_add shows, with their results.
    hosts::HostList* FHosts = nullptr;
    // The list as the runs see it; goes after them.
    Entries* FEntries = nullptr;
    runs::RunController* FRuns = nullptr;
    // Makes the record of every ended run, for the history and the alerts.
    runs::RunRecorder* FRecorder = nullptr;
    QAction* History1 = nullptr;
    QAction* Alerts1 = nullptr;
    QAction* WatchPath1 = nullptr;
    QPointer<history::THistory> FHistory;
    // Entries whose history window is on its way (it opens once the runs
    // queued before it are written).
    QStringList FHistoryComing;
    QPointer<TAlertWatch> FAlerts;
    bool FQuietNoTray = false;
    bool FNoTrayNoticeShown = false;
};

// The main window while it exists.
extern QPointer<Tfm_ns> fm_ns;
