// Session files: the whole address list with the results of every entry.
#include "app/Tfm_ns.h"

#include "controls/g_listbox.h"
#include "dialogs/TOpenDialog.h"
#include "dialogs/TSaveDialog.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "files/SessionFile.h"
#include "platform/MessageBoxes.h"

void Tfm_ns::bn_saveClick(QObject*) {
    if (!Ping->Busy() && !Trace->Busy())
        SaveSession();
}

void Tfm_ns::bn_loadClick(QObject*) {
    if (!Ping->Busy() && !Trace->Busy())
        LoadSession();
}

// The file is written whole to a temporary file and moved over the chosen
// one, so a failed save leaves the earlier file as it was. The list, its
// selection and the pane are not touched.
void Tfm_ns::SaveSession() {
    if (!dl_save->Execute())
        return;
    QList<files::SessionFile::Entry> entries;
    entries.reserve(lb_add->Count());
    for (int i = 0; i < lb_add->Count(); ++i) {
        files::SessionFile::Entry entry{lb_add->Item(i), std::nullopt};
        if (HasResults(i))
            entry.lines = Results(i);
        entries.append(std::move(entry));
    }
    QString error;
    if (!files::SessionFile::Write(dl_save->FileName(), entries, error))
        platform::Messages().Error(error);
}

// The file replaces the whole list, read in full before the list changes:
// a file that cannot be read leaves the list as it was. Afterwards nothing
// is selected and the pane keeps its text until the user picks an entry.
void Tfm_ns::LoadSession() {
    if (!dl_open->Execute())
        return;
    QList<files::SessionFile::Entry> entries;
    QString error;
    if (!files::SessionFile::Read(dl_open->FileName(), entries, error)) {
        platform::Messages().Error(error);
        return;
    }
    QStringList texts;
    QVariantList data;
    texts.reserve(entries.size());
    data.reserve(entries.size());
    for (const files::SessionFile::Entry& entry : entries) {
        texts << entry.address;
        data << (entry.lines ? QVariant(*entry.lines) : QVariant());
    }
    lb_add->setUpdatesEnabled(false);
    lb_add->Clear();
    lb_add->AddItems(texts, data);
    lb_add->SetItemIndex(-1);
    lb_add->setUpdatesEnabled(true);
}
