#include "app/Tfm_ns.h"
#include "tray/TTrayIcon.h"

#include "controls/FormScale.h"
#include "controls/ScaledImage.h"
#include "controls/TBusyCursor.h"
#include "controls/TCBitBtn.h"
#include "controls/TForm.h"
#include "controls/g_PopupMenu.h"
#include "controls/g_bevel.h"
#include "controls/g_btnmenu.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_imagelist.h"
#include "controls/g_label3d.h"
#include "controls/g_listbox.h"
#include "controls/g_memo.h"
#include "controls/g_panel.h"
#include "controls/g_progressbar.h"
#include "controls/g_updown.h"
#include "dialogs/TOpenDialog.h"
#include "dialogs/TSaveDialog.h"
#include "dialogs/Tfm_add.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "hosts/HostList.h"

#include <QActionGroup>
#include <QApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <iterator>
#include <memory>

QPointer<Tfm_ns> fm_ns;

namespace {

// Client size at 96 dots per inch.
constexpr int ClientWidth = 625;
constexpr int ClientHeight = 426;
constexpr int ItemHeight = 34;
constexpr int VisibleRows = 12;

QImage picture(const char* name) {
    return LoadScaledImage(QString::fromLatin1(name));
}

} // namespace

Tfm_ns::Tfm_ns(QWidget* owner) : QWidget(owner) {
    setObjectName(QStringLiteral("fm_ns"));
    setWindowTitle(QStringLiteral("Netsonde"));
    // The name of the window when it is minimised (the icon's text), which
    // is also what assistive technology reads for it then.
    setWindowIconText(windowTitle());
    // A fixed frame with the system menu and the minimise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont(font()));
    setWindowIcon(QApplication::windowIcon());

    // Controls in their creation order; the separators and the panel lie
    // beneath the buttons.
    g_bevel1 = new g_bevel(this);
    g_bevel2 = new g_bevel(this);
    pn_ctrls = new g_panel(this);
    lb_add = new g_listbox(this);
    bn_add = new TCBitBtn(this);
    bn_one = new TCBitBtn(this);
    bn_all = new TCBitBtn(this);
    bn_ping = new TCBitBtn(this);
    bn_trace = new TCBitBtn(this);
    bn_load = new TCBitBtn(this);
    bn_save = new TCBitBtn(this);
    bn_auto = new g_btnmenu(this);
    bn_close = new TCBitBtn(this);
    bn_cancel = new TCBitBtn(this);
    bar = new g_progressbar(this);
    ed_results = new g_memo(this);

    FormScale scale(this);
    BuildOptions(scale);
    FScale = scale.Factor();

    for (g_bevel* line : {g_bevel1, g_bevel2})
        line->SetShape(TBevelShape::bsTopLine);
    scale.SetBounds(g_bevel1, 176, 40, 121, 9);
    scale.SetBounds(g_bevel2, 176, 176, 121, 9);

    // The address list.
    scale.SetBounds(lb_add, 8, 8, 169, 412);
    lb_add->SetStyle(TListBoxStyle::lbOwnerDrawFixed);
    lb_add->SetItemHeight(scale.Px(ItemHeight));
    FHosts = new hosts::HostList(this);
    lb_add->SetItemModel(FHosts);
    lb_add->SetSorted(true);
    // Twelve whole rows at every scale: the rounded row height times twelve
    // may exceed the scaled height, which an integral list would cut to 11.
    lb_add->resize(lb_add->width(), 2 * lb_add->frameWidth() + VisibleRows * lb_add->ItemHeight());
    lb_add->SetIntegralHeight(true);
    lb_add->OnClick = [this](QObject* sender) { lb_addClick(sender); };
    lb_add->OnDrawItem = [this](QObject* control, int index, const QRect& rect,
                                TOwnerDrawState state) {
        lb_addDrawItem(control, index, rect, state);
    };
    lb_add->viewport()->installEventFilter(this);

    // The command buttons.
    struct ButtonSpec {
        TCBitBtn* button;
        int left, top, width, height;
        const char* caption;
        const char* hint;
        const char* glyph;
        void (Tfm_ns::*click)(QObject*);
    };
    const ButtonSpec buttons[] = {
        {bn_add, 184, 8, 105, 25, "&Addresses", "Change the selection", nullptr,
         &Tfm_ns::bn_addClick},
        {bn_one, 184, 48, 105, 25, "Check &One", "Check it Now", nullptr, &Tfm_ns::bn_oneClick},
        {bn_all, 184, 80, 105, 25, "&Check All", "May be slow...", nullptr, &Tfm_ns::bn_allClick},
        {bn_ping, 184, 112, 105, 25, "&Ping", "Ping the selection", nullptr, &Tfm_ns::bn_pingClick},
        {bn_trace, 184, 144, 105, 25, "&Trace", "Trace the selection", nullptr,
         &Tfm_ns::bn_traceClick},
        {bn_load, 184, 184, 33, 28, "", "Load a old session", ":/dialogs/load.png",
         &Tfm_ns::bn_loadClick},
        {bn_save, 220, 184, 33, 28, "", "Save the current session", ":/dialogs/save.png",
         &Tfm_ns::bn_saveClick},
        {bn_auto, 256, 184, 33, 28, "", "", ":/app/auto.png", nullptr},
        {bn_close, 184, 392, 105, 25, "Close", "Bye Bye", nullptr, &Tfm_ns::bn_closeClick},
        {bn_cancel, 184, 392, 105, 25, "&Cancel", "Stop NOW !", nullptr, &Tfm_ns::bn_cancelClick},
    };
    for (const ButtonSpec& b : buttons) {
        scale.SetBounds(b.button, b.left, b.top, b.width, b.height);
        b.button->SetCaption(QString::fromLatin1(b.caption));
        b.button->setToolTip(QString::fromLatin1(b.hint));
        b.button->SetTipo3D(T3D::normal);
        if (b.glyph) {
            b.button->SetGlyph(picture(b.glyph));
            b.button->setAccessibleName(b.button->toolTip());
        }
        if (b.click) {
            auto handler = b.click;
            b.button->OnClick = [this, handler](QObject* sender) { (this->*handler)(sender); };
        }
    }
    // The seven command buttons put their captions (and Cancel its glyph)
    // 8 pixels from the left edge.
    for (TCBitBtn* b : {bn_add, bn_one, bn_all, bn_ping, bn_trace, bn_close, bn_cancel}) {
        b->SetMargin(scale.Px(8));
        b->SetSpacing(-1);
    }
    // Cancel is of the cancel kind (Esc clicks it, the kind's glyph) and keeps
    // its own caption.
    bn_cancel->SetLoading(true);
    bn_cancel->SetKind(bkCancel);
    bn_cancel->SetLoading(false);
    bn_cancel->setEnabled(false);
    bn_cancel->hide();

    scale.SetBounds(bar, 296, 8, 321, 13);
    bar->setRange(0, 100);

    scale.SetBounds(ed_results, 296, 24, 321, 393);
    KeepFrameWhole(ed_results);
    ed_results->setReadOnly(true);
    ed_results->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ed_results->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    // Components: Ping, Trace and the timer of the automatic mode belong to
    // the runs.
    ConnectRuns();

    const QString sessionFilter = QStringLiteral("Netsonde Files|*.NSD|All Files|*.*");
    dl_open = new TOpenDialog(this);
    dl_open->setObjectName(QStringLiteral("dl_open"));
    dl_open->SetTitle(QStringLiteral("Load from File"));
    dl_save = new TSaveDialog(this);
    dl_save->setObjectName(QStringLiteral("dl_save"));
    dl_save->SetTitle(QStringLiteral("Save to File"));
    for (TFileDialog* dialog :
         {static_cast<TFileDialog*>(dl_open), static_cast<TFileDialog*>(dl_save)}) {
        dialog->SetFilter(sessionFilter);
        dialog->SetFilterIndex(1);
        dialog->SetDefaultExt(QStringLiteral("NSD"));
    }
    dl_open->SetOptions(ofHideReadOnly | ofPathMustExist | ofFileMustExist);
    dl_save->SetOptions(ofOverwritePrompt | ofHideReadOnly | ofPathMustExist | ofCreatePrompt);

    // The automatic-mode menu: four commands and Stop in one radio group.
    popup = new g_PopupMenu(this);
    popup->setObjectName(QStringLiteral("popup"));
    auto* group = new QActionGroup(popup);
    group->setExclusive(true);
    struct ItemSpec {
        QAction** item;
        const char* name;
        const char* caption;
        void (Tfm_ns::*click)(QObject*);
    };
    const ItemSpec items[] = {
        {&CheckOne1, "CheckOne1", "Check &One", &Tfm_ns::CheckOne1Click},
        {&CheckAll1, "CheckAll1", "&Check All", &Tfm_ns::CheckAll1Click},
        {&Ping1, "Ping1", "&Ping", &Tfm_ns::Ping1Click},
        {&Trace1, "Trace1", "&Trace", &Tfm_ns::Trace1Click},
        {&N1, "N1", "-", nullptr},
        {&Stop1, "Stop1", "&Stop", &Tfm_ns::Stop1Click},
    };
    for (const ItemSpec& menuItem : items) {
        QAction* item = menuItem.click ? popup->addAction(QString::fromLatin1(menuItem.caption))
                                       : popup->addSeparator();
        item->setObjectName(QString::fromLatin1(menuItem.name));
        *menuItem.item = item;
        if (!menuItem.click)
            continue;
        item->setCheckable(true);
        group->addAction(item);
        auto handler = menuItem.click;
        connect(item, &QAction::triggered, this, [this, handler, item] { (this->*handler)(item); });
    }
    CheckOne1->setChecked(true);
    connect(popup, &QMenu::aboutToShow, this, [this] { popupPopup(popup); });
    bn_auto->SetMenu(popup);

    tray = new TTrayIcon(this);
    tray->setObjectName(QStringLiteral("tray"));
    QIcon trayPicture;
    for (int size : {16, 32, 48, 64})
        trayPicture.addFile(QStringLiteral(":/app/icons/netsonde-%1.png").arg(size));
    tray->SetIcon(trayPicture);
    tray->SetToolTip(QStringLiteral("Netsonde"));
    tray->OnClick = [this](QObject* Sender) { trayClick(Sender); };

    BuildHistoryMenu();
    BuildPathMenu();
    BuildAlerts();
    BuildDesktop();

    il_states = new g_imagelist(this);
    il_states->setObjectName(QStringLiteral("il_states"));
    il_states->SetSize(32, 32);
    il_states->Add(picture(":/app/states.png"));

    // Names and tab order.
    const std::pair<QWidget*, const char*> named[] = {
        {lb_add, "lb_add"},        {bn_add, "bn_add"},       {g_bevel1, "g_bevel1"},
        {bn_one, "bn_one"},        {bn_all, "bn_all"},       {bn_ping, "bn_ping"},
        {bn_trace, "bn_trace"},    {g_bevel2, "g_bevel2"},   {bn_load, "bn_load"},
        {bn_save, "bn_save"},      {bn_auto, "bn_auto"},     {pn_ctrls, "pn_ctrls"},
        {bn_close, "bn_close"},    {bn_cancel, "bn_cancel"}, {bar, "bar"},
        {ed_results, "ed_results"}};
    for (const auto& [widget, name] : named)
        widget->setObjectName(QString::fromLatin1(name));
    QWidget* const tabOrder[] = {lb_add,     bn_add,    bn_one,  bn_all,   bn_ping,  bn_trace,
                                 ed_results, bn_load,   bn_save, bn_auto,  bn_close, bn_cancel,
                                 ck_Resolve, ed_number, ed_size, ed_tmout, ed_ttl,   ed_secs};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    setFixedSize(scale.Px(ClientWidth), scale.Px(ClientHeight));
    OnTerminate = [](QObject*) { QCoreApplication::quit(); };
    FormCreate(this);
}

void Tfm_ns::BuildOptions(FormScale& scale) {
    pn_ctrls->SetBevelInner(TPanelBevel::bvRaised);
    pn_ctrls->SetBevelOuter(TPanelBevel::bvLowered);
    ck_Resolve = new g_checkbox(pn_ctrls);
    ck_Resolve->setObjectName(QStringLiteral("ck_Resolve"));
    ck_Resolve->setText(QStringLiteral("&Resolve"));
    ck_Resolve->setToolTip(QStringLiteral("Resolve returned IP Address"));
    ck_Resolve->OnClick = [this](QObject* sender) { ck_ResolveClick(sender); };

    struct FieldSpec {
        g_label3d** label;
        g_edit** edit;
        g_updown** spin;
        const char* labelName;
        const char* editName;
        const char* spinName;
        const char* caption;
        const char* hint;
        int min, max, step, top;
        const char* text;
        void (Tfm_ns::*change)(QObject*);
    };
    const FieldSpec fields[] = {
        {&g_label3d1, &ed_number, &ud_number, "g_label3d1", "ed_number", "ud_number",
         "P&ings :", "Number of Pings to do", 1, 100, 1, 32, "1", &Tfm_ns::ed_numberChange},
        {&g_label3d2, &ed_size, &ud_size, "g_label3d2", "ed_size", "ud_size",
         "&Size :", "Packet size to use", 1, 32000, 16, 56, "1", &Tfm_ns::ed_sizeChange},
        {&g_label3d3, &ed_tmout, &ud_tmout, "g_label3d3", "ed_tmout", "ud_tmout",
         "T&mOut :", "Time to wait for packet return, in Milliseconds", 100, 32000, 1, 80, "100",
         &Tfm_ns::ed_tmoutChange},
        {&g_label3d4, &ed_ttl, &ud_ttl, "g_label3d4", "ed_ttl", "ud_ttl",
         "TT&L :", "Maximun number of routers to pass", 1, 100, 1, 104, "1", &Tfm_ns::ed_ttlChange},
        {&g_label3d5, &ed_secs, &ud_secs, "g_label3d5", "ed_secs", "ud_secs",
         "Secs.:", "Seconds to wait before run", 3, 32000, 1, 136, "15", &Tfm_ns::ed_secsChange},
    };
    for (const FieldSpec& f : fields) {
        auto* label = new g_label3d(pn_ctrls);
        auto* edit = new g_edit(pn_ctrls);
        auto* spin = new g_updown(pn_ctrls);
        *f.label = label;
        *f.edit = edit;
        *f.spin = spin;
        label->setObjectName(QString::fromLatin1(f.labelName));
        edit->setObjectName(QString::fromLatin1(f.editName));
        spin->setObjectName(QString::fromLatin1(f.spinName));
        label->SetTipo3D(T3D::normal);
        label->SetCaption(QString::fromLatin1(f.caption));
        label->SetFocusControl(edit);
        // A label wider than the room before its field widens the layout.
        scale.Fit(label->width(), 40);
        edit->setText(QString::fromLatin1(f.text));
        edit->setToolTip(QString::fromLatin1(f.hint));
        spin->setToolTip(QString::fromLatin1(f.hint));
        spin->SetMin(f.min);
        spin->SetMax(f.max);
        spin->SetIncrement(f.step);
        spin->SetWrap(false);
        spin->SetThousands(true);
        spin->SetAssociate(edit);
        auto handler = f.change;
        edit->OnChange = [this, handler](QObject* sender) { (this->*handler)(sender); };
    }
    scale.SetBounds(pn_ctrls, 175, 216, 123, 169);
    scale.SetBounds(ck_Resolve, 8, 8, 105, 17);
    for (const FieldSpec& f : fields) {
        (*f.label)->move(scale.Px(8), scale.Px(f.top + 2));
        scale.SetBounds(*f.edit, 48, f.top, 57, 21);
        scale.SetBounds(*f.spin, 105, f.top, 12, 21);
    }
}

// ---- form events ----

void Tfm_ns::FormShow(QObject*) {
    if (FRuns->CheckKind() != rkNone && FRuns->AutoKind() == rkNone)
        lb_add->setFocus();
    FRuns->ResetCheckKind();
    UpdateButtons();
    ApplyStartOptions();
}

void Tfm_ns::ApplyStartOptions() {
    if (FOptionsApplied)
        return;
    FOptionsApplied = true;
    ApplyResolve(false);
    ApplyNumber(10);
    ApplyPacketSize(56);
    ApplyTimeOut(2500);
    ApplyTimeToLive(32);
    ApplySeconds(30);
}

void Tfm_ns::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (FShown)
        return;
    FShown = true;
    // A window shown minimised was placed before (StartInTray): moving it
    // now would bring it out of the minimised state on X11.
    if (!isMinimized())
        CentreOnScreen(this);
    FormShow(this);
}

void Tfm_ns::keyPressEvent(QKeyEvent* event) {
    // Esc clicks the cancel button while it is shown; Enter a default one.
    if (!TForm::DialogKey(this, event))
        QWidget::keyPressEvent(event);
}

bool Tfm_ns::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lb_add->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        lb_add->isEnabled()) {
        bn_addClick(lb_add);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- address list and results ----

QStringList Tfm_ns::Results(int Index) const {
    return FHosts->Results(Index);
}

bool Tfm_ns::HasResults(int Index) const {
    return FHosts->HasResults(Index);
}

unsigned Tfm_ns::EntryState(int Index) const {
    return static_cast<unsigned>(states::PictureIndex(FHosts->State(Index)));
}

void Tfm_ns::UpdateButtons() {
    const int selected = lb_add->ItemIndex();
    bn_one->setEnabled(selected >= 0);
    bn_ping->setEnabled(bn_one->isEnabled());
    bn_trace->setEnabled(bn_one->isEnabled() &&
                         FHosts->State(selected) == states::HostState::Answered);
}

void Tfm_ns::lb_addClick(QObject*) {
    UpdateButtons();
    PaneClear();
    const int selected = lb_add->ItemIndex();
    if (selected >= 0 && HasResults(selected))
        for (const QString& line : Results(selected))
            PaneAppend(line);
}

void Tfm_ns::lb_addDrawItem(QObject*, int Index, const QRect& Rect, unsigned State) {
    QPainter* canvas = lb_add->Canvas();
    if (!canvas)
        return;
    QFont f = canvas->font();
    f.setBold((State & odSelected) || (State & odFocused));
    canvas->setFont(f);
    canvas->fillRect(Rect, canvas->brush());
    const int height = lb_add->ItemHeight();
    canvas->save();
    canvas->setClipRect(Rect);
    canvas->drawText(QRect(Rect.left() + height + qRound(4 * FScale),
                           Rect.top() + qRound(8 * FScale), Rect.width(), Rect.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, FHosts->Item(Index));
    canvas->restore();
    il_states->Draw(*canvas, Rect.left() + qRound(2 * FScale), Rect.top() + qRound(1 * FScale),
                    states::PictureIndex(FHosts->State(Index)));
}

void Tfm_ns::StoreResults() {
    const int selected = lb_add->ItemIndex();
    if (selected < 0)
        return;
    FHosts->SetResults(selected, FPaneLines);
    lb_add->viewport()->update();
}

void Tfm_ns::FillDialog(Tfm_add& dialog) const {
    // Each entry goes with its place in this list, not with a copy of its
    // results: runs of the automatic mode may still store results while the
    // dialog is open, and an entry that stays takes its results as they are
    // when the dialog closes. Entries added in the dialog carry nothing.
    QVariantList origins;
    origins.reserve(FHosts->Count());
    for (int i = 0; i < FHosts->Count(); ++i)
        origins << i;
    dialog.AddItems(FHosts->Items(), origins);
}

void Tfm_ns::FillFromDialog(const Tfm_add& dialog) {
    const TBusyCursor busy;
    const QStringList texts = dialog.Items();
    const QVariantList origins = dialog.ItemsData();
    QVariantList results;
    results.reserve(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        bool ok = false;
        const int origin = i < origins.size() ? origins[i].toInt(&ok) : -1;
        // The list cannot change while the dialog is open; the text check
        // only keeps a stale place from handing over another entry's lines.
        if (ok && origin >= 0 && origin < FHosts->Count() && FHosts->Item(origin) == texts[i])
            results << FHosts->ItemData(origin);
        else
            results << QVariant();
    }
    FHosts->Clear();
    FHosts->AddItems(texts, results);
}

void Tfm_ns::bn_addClick(QObject*) {
    std::unique_ptr<Tfm_add> dialog(new Tfm_add(this));
    fm_add = dialog.get();
    FillDialog(*dialog);
    if (dialog->ShowModal() == mrOk)
        FillFromDialog(*dialog);
    lb_addClick(lb_add);
}

// ---- the result pane ----

void Tfm_ns::PaneClear() {
    FPaneLines.clear();
    if (FBatch)
        FPaneDirty = true;
    else
        ed_results->clear();
}

void Tfm_ns::PaneAppend(const QString& text) {
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = normal.split(QLatin1Char('\n'));
    if (FBatch) {
        FPaneLines.append(lines);
        FPaneDirty = true;
        return;
    }
    QTextCursor cursor(ed_results->document());
    cursor.movePosition(QTextCursor::End);
    for (const QString& line : lines) {
        if (!FPaneLines.isEmpty())
            cursor.insertBlock();
        cursor.insertText(line);
        FPaneLines.append(line);
    }
    ed_results->verticalScrollBar()->setValue(ed_results->verticalScrollBar()->maximum());
}

void Tfm_ns::SyncPane() {
    if (!FPaneDirty)
        return;
    FPaneDirty = false;
    ed_results->setPlainText(FPaneLines.join(QLatin1Char('\n')));
    ed_results->verticalScrollBar()->setValue(ed_results->verticalScrollBar()->maximum());
}

// ---- option fields ----

void Tfm_ns::ApplyResolve(bool Value) {
    Ping->SetResolve(Value);
    Trace->SetResolve(Value);
    ck_Resolve->SetChecked(Value);
}

void Tfm_ns::ApplyNumber(std::int16_t Value) {
    FRuns->SetNumber(static_cast<std::uint16_t>(Value));
    ud_number->SetPosition(Value);
    bar->setMaximum(Value);
}

void Tfm_ns::ApplyPacketSize(std::int16_t Value) {
    Ping->SetPacketSize(Value);
    Trace->SetPacketSize(Value);
    ud_size->SetPosition(Value);
}

void Tfm_ns::ApplyTimeOut(std::int16_t Value) {
    Ping->SetTimeOut(static_cast<std::uint16_t>(Value));
    Trace->SetTimeOut(static_cast<std::uint16_t>(Value));
    ud_tmout->SetPosition(Value);
}

void Tfm_ns::ApplyTimeToLive(std::int16_t Value) {
    Ping->SetTimeToLive(static_cast<std::uint8_t>(Value & 0xFF));
    Trace->SetTimeToLive(static_cast<std::uint8_t>(Value & 0xFF));
    ud_ttl->SetPosition(Value);
}

void Tfm_ns::ApplySeconds(std::int16_t Value) {
    // Setting the interval of a running timer restarts its count: only a
    // changed interval does, not a retyped one ("030" over 30).
    const int interval = static_cast<int>(static_cast<std::uint16_t>(Value)) * 1000;
    if (interval != Tick->interval())
        Tick->setInterval(interval);
    ud_secs->SetPosition(Value);
    const QString hint = QStringLiteral("Run every %1 seconds").arg(ud_secs->Position());
    bn_auto->setToolTip(hint);
    bn_auto->setAccessibleName(hint);
}

void Tfm_ns::ck_ResolveClick(QObject*) {
    ApplyResolve(ck_Resolve->Checked());
}

void Tfm_ns::ed_numberChange(QObject*) {
    ApplyNumber(static_cast<std::int16_t>(ud_number->Position()));
}

void Tfm_ns::ed_sizeChange(QObject*) {
    ApplyPacketSize(static_cast<std::int16_t>(ud_size->Position()));
}

void Tfm_ns::ed_tmoutChange(QObject*) {
    ApplyTimeOut(static_cast<std::int16_t>(ud_tmout->Position()));
}

void Tfm_ns::ed_ttlChange(QObject*) {
    ApplyTimeToLive(static_cast<std::int16_t>(ud_ttl->Position()));
}

void Tfm_ns::ed_secsChange(QObject*) {
    ApplySeconds(static_cast<std::int16_t>(ud_secs->Position()));
}
