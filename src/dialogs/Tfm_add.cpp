#include "dialogs/Tfm_add.h"

#include "controls/FormScale.h"
#include "controls/ScaledImage.h"
#include "controls/TBusyCursor.h"
#include "controls/TCBitBtn.h"
#include "controls/g_edit.h"
#include "controls/g_label3d.h"
#include "controls/g_listbox.h"
#include "controls/g_updown.h"
#include "controls/tbevel_ex.h"
#include "desktop/MessageBoxes.h"
#include "dialogs/AddressTexts.h"
#include "dialogs/FileLoadProgress.h"
#include "dialogs/TOpenDialog.h"
#include "dialogs/TSaveDialog.h"
#include "files/AddressListFile.h"
#include "files/TextFile.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

QPointer<Tfm_add> fm_add;

namespace {

// Outer size at 96 dots per inch, and the frame the window system adds to
// the client area (borders and caption).
constexpr int OuterWidth = 473;
constexpr int OuterHeight = 330;
constexpr int FrameWidth = 8;
constexpr int FrameHeight = 27;

// The labels: position and size at 96 dots per inch, and caption.
struct LabelSpec {
    int left, top, width, height;
    const char* caption;
};
constexpr LabelSpec Labels[] = {
    {304, 8, 97, 16, "Selecte&d Addresses"}, {8, 8, 128, 16, "Add an IP Address or &Host"},
    {8, 96, 86, 16, "Add a Net Range"},      {16, 120, 26, 16, "&Net :"},
    {136, 120, 32, 16, "&From :"},           {224, 120, 22, 16, "&To :"},
};

QImage glyph(const char* name) {
    return LoadScaledImage(QStringLiteral(":/dialogs/%1.png").arg(QLatin1String(name)));
}

} // namespace

Tfm_add::Tfm_add(QWidget* owner) : TForm(owner) {
    setWindowTitle(QStringLiteral("Select Addresses"));
    // The toolkit's default frame: resizable, with system menu, minimise and
    // maximise buttons.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    setFont(DialogFont(font()));
    SetPosition(TPosition::poScreenCenter);

    // The two frames lie on the form's surface beneath everything else, so
    // they are made first.
    tbevel_ex1 = new tbevel_ex(this);
    tbevel_ex2 = new tbevel_ex(this);
    for (tbevel_ex* frame : {tbevel_ex1, tbevel_ex2}) {
        frame->SetBorderWidth(0);
        frame->SetBorderHeight(0);
    }

    lb_sel = new g_listbox(this);
    bn_ok = new TCBitBtn(this);
    bn_cancel = new TCBitBtn(this);
    g_label3d1 = new g_label3d(this);
    ed_add = new g_edit(this);
    g_label3d2 = new g_label3d(this);
    g_label3d3 = new g_label3d(this);
    bn_one = new TCBitBtn(this);
    g_label3d4 = new g_label3d(this);
    g_label3d5 = new g_label3d(this);
    g_label3d6 = new g_label3d(this);
    bn_range = new TCBitBtn(this);
    bn_del = new TCBitBtn(this);
    bn_delAll = new TCBitBtn(this);
    ud_from = new g_updown(this);
    ud_to = new g_updown(this);
    bn_load = new TCBitBtn(this);
    bn_save = new TCBitBtn(this);
    dl_open = new TOpenDialog(this);
    dl_save = new TSaveDialog(this);
    ed_net = new g_edit(this);
    ed_from = new g_edit(this);
    ed_to = new g_edit(this);

    // Labels, all in the plain style, each with the control its accelerator
    // moves the focus to. They size themselves to their text.
    g_label3d* const labelControls[] = {g_label3d1, g_label3d2, g_label3d3,
                                        g_label3d4, g_label3d5, g_label3d6};
    QWidget* const labelFocus[] = {lb_sel, ed_add, ed_net, ed_net, ed_from, ed_to};
    // The layout grows with a font whose captions come out wider.
    FormScale scale(this);
    for (std::size_t i = 0; i < std::size(Labels); ++i) {
        g_label3d* label = labelControls[i];
        label->SetTipo3D(T3D::normal);
        label->SetCaption(QString::fromLatin1(Labels[i].caption));
        label->SetFocusControl(labelFocus[i]);
        scale.Fit(label->width(), Labels[i].width);
    }
    FScale = scale.Factor();
    for (std::size_t i = 0; i < std::size(Labels); ++i)
        labelControls[i]->move(Px(Labels[i].left), Px(Labels[i].top));

    // The list.
    SetBounds(lb_sel, 304, 24, 153, 241);
    lb_sel->setToolTip(QStringLiteral("It's my selection"));
    lb_sel->SetSorted(true);
    lb_sel->SetItemHeight(Px(13));
    lb_sel->OnClick = [this](QObject* sender) { lb_selClick(sender); };

    SetBounds(tbevel_ex1, 8, 24, 289, 65);
    SetBounds(tbevel_ex2, 8, 112, 289, 73);

    // Edits.
    SetBounds(ed_add, 16, 32, 273, 21);
    ed_add->setToolTip(QStringLiteral("IP Address or Host here"));
    SetBounds(ed_net, 48, 120, 81, 21);
    ed_net->setToolTip(QStringLiteral("Repeated text (like 192.168.1)"));
    SetBounds(ed_from, 168, 120, 33, 21);
    ed_from->setText(QStringLiteral("1"));
    ed_from->setMaxLength(3);
    SetBounds(ed_to, 248, 120, 33, 21);
    ed_to->setText(QStringLiteral("255"));
    ed_to->setMaxLength(3);
    ed_add->OnEnter = [this](QObject* sender) { ed_addEnter(sender); };
    ed_add->OnExit = [this](QObject* sender) { ed_addExit(sender); };
    for (g_edit* edit : {ed_net, ed_from, ed_to}) {
        edit->OnEnter = [this](QObject* sender) { ed_netEnter(sender); };
        edit->OnExit = [this](QObject* sender) { ed_netExit(sender); };
    }

    // Spin buttons beside the range edits.
    SetBounds(ud_from, 201, 120, 12, 21);
    SetBounds(ud_to, 281, 120, 12, 21);
    ud_from->SetAssociate(ed_from);
    ud_to->SetAssociate(ed_to);
    for (g_updown* ud : {ud_from, ud_to}) {
        ud->SetMin(1);
        ud->SetMax(255);
        ud->SetWrap(false);
    }
    ud_from->SetPosition(1);
    ud_to->SetPosition(255);

    // Buttons.
    struct ButtonSpec {
        TCBitBtn* button;
        int left, top, width, height;
        const char* caption;
        const char* hint;
        const char* glyphName;
        bool glyphTop;
        void (Tfm_add::*click)(QObject*);
    };
    const ButtonSpec buttons[] = {
        {bn_ok, 304, 272, 65, 25, "&Ok", "Let's do it", "ok", false, nullptr},
        {bn_cancel, 376, 272, 81, 25, "&Cancel", "Oh, not again", "cancel", false, nullptr},
        {bn_one, 216, 56, 73, 25, "Add", "Add the text now", "addone", false,
         &Tfm_add::bn_oneClick},
        {bn_range, 216, 152, 73, 25, "Add", "Add the range", "addrange", false,
         &Tfm_add::bn_rangeClick},
        {bn_del, 8, 192, 145, 49, "&Remove Selected", "Yes do it", "remove", true,
         &Tfm_add::bn_delClick},
        {bn_delAll, 152, 192, 145, 49, "Remove &All", "Caution", "removeall", true,
         &Tfm_add::bn_delAllClick},
        {bn_load, 8, 248, 145, 49, "&Load from File", "You lose current selection !", "load", true,
         &Tfm_add::bn_loadClick},
        {bn_save, 152, 248, 145, 49, "&Save to File", "Save it Now", "save", true,
         &Tfm_add::bn_saveClick},
    };
    for (const ButtonSpec& b : buttons) {
        SetBounds(b.button, b.left, b.top, b.width, b.height);
        b.button->SetCaption(QString::fromLatin1(b.caption));
        b.button->setToolTip(QString::fromLatin1(b.hint));
        b.button->SetTipo3D(T3D::normal);
        b.button->SetGlyph(glyph(b.glyphName));
        if (b.glyphTop)
            b.button->SetLayout(blGlyphTop);
        if (b.click) {
            auto handler = b.click;
            b.button->OnClick = [this, handler](QObject* sender) { (this->*handler)(sender); };
        }
    }
    bn_ok->SetModalResult(mrOk);
    bn_cancel->SetModalResult(mrCancel);
    bn_cancel->SetCancel(true);

    // File dialogs.
    dl_open->SetTitle(QStringLiteral("Load from File"));
    dl_open->SetDefaultExt(QStringLiteral("NET"));
    dl_open->SetFilter(QStringLiteral("NET Files|*.net|All Files|*.*"));
    dl_open->SetFilterIndex(1);
    dl_open->SetOptions(ofHideReadOnly | ofPathMustExist | ofFileMustExist);
    dl_save->SetTitle(QStringLiteral("Save to File"));
    dl_save->SetDefaultExt(QStringLiteral("NET"));
    dl_save->SetFilter(QStringLiteral("NET Files|*.NET|All Files|*.*"));
    dl_save->SetFilterIndex(1);
    dl_save->SetOptions(ofOverwritePrompt | ofHideReadOnly | ofPathMustExist | ofCreatePrompt);

    // Tab order. Controls that never take the focus (the spin buttons step
    // through the arrow keys of their edits) are left out of the chain.
    QWidget* const tabOrder[] = {ed_add,    bn_one, ed_net,    ed_from, ud_from,
                                 ed_to,     ud_to,  bn_range,  lb_sel,  bn_ok,
                                 bn_cancel, bn_del, bn_delAll, bn_load, bn_save};
    QWidget* previous = nullptr;
    for (QWidget* w : tabOrder) {
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    // Every control answers to its name, for tests and accessibility tools.
    setObjectName(QStringLiteral("fm_add"));
    const std::pair<QObject*, const char*> named[] = {{lb_sel, "lb_sel"},
                                                      {bn_ok, "bn_ok"},
                                                      {bn_cancel, "bn_cancel"},
                                                      {g_label3d1, "g_label3d1"},
                                                      {ed_add, "ed_add"},
                                                      {tbevel_ex1, "tbevel_ex1"},
                                                      {g_label3d2, "g_label3d2"},
                                                      {tbevel_ex2, "tbevel_ex2"},
                                                      {g_label3d3, "g_label3d3"},
                                                      {bn_one, "bn_one"},
                                                      {g_label3d4, "g_label3d4"},
                                                      {g_label3d5, "g_label3d5"},
                                                      {g_label3d6, "g_label3d6"},
                                                      {bn_range, "bn_range"},
                                                      {bn_del, "bn_del"},
                                                      {bn_delAll, "bn_delAll"},
                                                      {ud_from, "ud_from"},
                                                      {ud_to, "ud_to"},
                                                      {bn_load, "bn_load"},
                                                      {bn_save, "bn_save"},
                                                      {dl_open, "dl_open"},
                                                      {dl_save, "dl_save"},
                                                      {ed_net, "ed_net"},
                                                      {ed_from, "ed_from"},
                                                      {ed_to, "ed_to"}};
    for (const auto& [object, name] : named)
        object->setObjectName(QString::fromLatin1(name));
    resize(Px(OuterWidth - FrameWidth), Px(OuterHeight - FrameHeight));
    // The dialog opens with the focus in ed_add. The window's activation does
    // not count as entering the edit, so the edit is entered here.
    ed_add->setFocus();
    ed_addEnter(ed_add);
}

Tfm_add::~Tfm_add() = default;

int Tfm_add::Px(int pixels) const {
    return qRound(pixels * FScale);
}

void Tfm_add::SetBounds(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

// ---- the list ----

int Tfm_add::Count() const {
    return lb_sel->Count();
}

QString Tfm_add::Item(int index) const {
    return lb_sel->Item(index);
}

QVariant Tfm_add::ItemData(int index) const {
    return lb_sel->ItemData(index);
}

QStringList Tfm_add::Items() const {
    return lb_sel->Items();
}

void Tfm_add::AddItem(const QString& text, const QVariant& data) {
    lb_sel->AddItem(text, data);
}

void Tfm_add::AddItems(const QStringList& texts, const QVariantList& data) {
    const TBusyCursor busy;
    lb_sel->AddItems(texts, data);
}

QVariantList Tfm_add::ItemsData() const {
    QVariantList result;
    result.reserve(lb_sel->Count());
    for (int i = 0; i < lb_sel->Count(); ++i)
        result.append(lb_sel->ItemData(i));
    return result;
}

void Tfm_add::AddAddress(const QString& Text) {
    // The list is sorted by the same comparison that decides equality, so
    // an equal entry, if any, sits where the text would be inserted.
    int lo = 0, hi = lb_sel->Count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (g_listbox::CompareText(lb_sel->Item(mid), Text) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < lb_sel->Count() && g_listbox::CompareText(lb_sel->Item(lo), Text) == 0)
        return;
    lb_sel->AddItem(Text);
}

// ---- handlers ----

void Tfm_add::bn_oneClick(QObject*) {
    AddAddress(ed_add->text());
    ed_add->selectAll();
    ed_add->setFocus();
}

void Tfm_add::bn_rangeClick(QObject*) {
    const int From = ud_from->Position();
    const int To = ud_to->Position();
    for (const QString& text : AddressTexts::Range(ed_net->text(), From, To))
        AddAddress(text);
}

void Tfm_add::bn_delClick(QObject*) {
    const int selected = lb_sel->ItemIndex();
    if (selected >= 0)
        lb_sel->DeleteItem(selected);
}

void Tfm_add::bn_delAllClick(QObject*) {
    lb_sel->Clear();
}

void Tfm_add::lb_selClick(QObject*) {
    bn_del->setEnabled(lb_sel->ItemIndex() >= 0);
}

// The file is read whole before the list changes: a file that cannot be
// read, a Cancel in the progress dialog and a lack of memory all leave the
// list as it was.
void Tfm_add::bn_loadClick(QObject*) {
    if (!dl_open->Execute())
        return;
    const QString path = dl_open->FileName();
    QStringList entries;
    QString error;
    const files::LoadStatus status =
        RunFileLoad(this, path, error, [&](files::LoadControl& control) {
            return AddressListFile::Read(path, entries, error, &control);
        });
    if (status == files::LoadStatus::Cancelled)
        return;
    if (status == files::LoadStatus::Done) {
        try {
            const TBusyCursor busy;
            lb_sel->setUpdatesEnabled(false);
            lb_sel->SetItems(entries);
            lb_sel->setUpdatesEnabled(true);
            return;
        } catch (const std::bad_alloc&) {
            lb_sel->setUpdatesEnabled(true);
            error = files::FileReadError(path, files::OutOfMemoryReason());
        }
    }
    platform::Messages().Error(error);
}

void Tfm_add::bn_saveClick(QObject*) {
    if (!dl_save->Execute())
        return;
    QString error;
    if (!AddressListFile::Write(dl_save->FileName(), Items(), error))
        platform::Messages().Error(error);
}

void Tfm_add::ed_addEnter(QObject*) {
    bn_one->SetDefault(true);
}

void Tfm_add::ed_addExit(QObject*) {
    bn_one->SetDefault(false);
}

void Tfm_add::ed_netEnter(QObject*) {
    bn_range->SetDefault(true);
}

void Tfm_add::ed_netExit(QObject*) {
    bn_range->SetDefault(false);
}
