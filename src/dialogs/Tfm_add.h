#pragma once

#include "controls/TForm.h"

#include <QPointer>
#include <QStringList>
#include <QVariant>

class g_edit;
class g_label3d;
class g_listbox;
class g_updown;
class tbevel_ex;
class TCBitBtn;
class TOpenDialog;
class TSaveDialog;

// The modal dialog in which the user edits the list of target hosts: one
// address or host name at a time, numbered ranges of one network, removal,
// and address list files. The caller fills the list before showing the
// dialog and reads it back after OK; every entry may carry data of the
// caller's, which the dialog keeps with the entry and never looks at.
class Tfm_add : public TForm {
    Q_OBJECT
public:
    explicit Tfm_add(QWidget* owner = nullptr);
    ~Tfm_add() override;

    // The entries of lb_sel, in the list's sorted order.
    int Count() const;
    QString Item(int index) const;
    QVariant ItemData(int index) const;
    QStringList Items() const;
    // Inserts an entry into its sorted place, without looking for duplicates.
    void AddItem(const QString& text, const QVariant& data = {});
    // Hands a whole list over in one step: the same as AddItem for each text
    // (data[i] goes with texts[i]; missing data is empty), but sorted once
    // and inserted at once, under the busy cursor. Use it to fill the dialog
    // with a caller's list; AddItem per entry slows down badly on long lists.
    void AddItems(const QStringList& texts, const QVariantList& data = {});
    // The data of every entry, in the order of Items(), for handing the list
    // back in one step.
    QVariantList ItemsData() const;

    // Factor from pixels at 96 dots per inch to this dialog's pixels.
    double Scale() const { return FScale; }

    // Controls, in the order of declaration.
    g_listbox* lb_sel;
    TCBitBtn* bn_ok;
    TCBitBtn* bn_cancel;
    g_label3d* g_label3d1;
    g_edit* ed_add;
    tbevel_ex* tbevel_ex1;
    g_label3d* g_label3d2;
    tbevel_ex* tbevel_ex2;
    g_label3d* g_label3d3;
    TCBitBtn* bn_one;
    g_label3d* g_label3d4;
    g_label3d* g_label3d5;
    g_label3d* g_label3d6;
    TCBitBtn* bn_range;
    TCBitBtn* bn_del;
    TCBitBtn* bn_delAll;
    g_updown* ud_from;
    g_updown* ud_to;
    TCBitBtn* bn_load;
    TCBitBtn* bn_save;
    TOpenDialog* dl_open;
    TSaveDialog* dl_save;
    g_edit* ed_net;
    g_edit* ed_from;
    g_edit* ed_to;

    // Handlers, each with the sender as its only argument.
    void bn_oneClick(QObject* Sender);
    void bn_rangeClick(QObject* Sender);
    void bn_delClick(QObject* Sender);
    void bn_delAllClick(QObject* Sender);
    void lb_selClick(QObject* Sender);
    void bn_loadClick(QObject* Sender);
    void bn_saveClick(QObject* Sender);
    void ed_addEnter(QObject* Sender);
    void ed_addExit(QObject* Sender);
    void ed_netEnter(QObject* Sender);
    void ed_netExit(QObject* Sender);

private:
    // Adds text unless an equal entry (ignoring case) is listed already.
    void AddAddress(const QString& Text);
    // Pixels at 96 dots per inch in this screen's logical pixels.
    int Px(int pixels) const;
    void SetBounds(QWidget* control, int left, int top, int width, int height);

    double FScale = 1.0;
};

// The dialog while it exists: set by the code that opens it, cleared
// automatically when it is destroyed.
extern QPointer<Tfm_add> fm_add;
