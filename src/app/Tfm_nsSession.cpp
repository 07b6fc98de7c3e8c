// Session files: the whole address list with the results of every entry,
// and the entries whose path is watched.
#include "app/Tfm_ns.h"

#include "controls/g_listbox.h"
#include "desktop/MessageBoxes.h"
#include "dialogs/FileLoadProgress.h"
#include "dialogs/TOpenDialog.h"
#include "dialogs/TSaveDialog.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "files/AddressListFile.h"
#include "files/SessionFile.h"
#include "files/TextFile.h"
#include "hosts/HostList.h"
#include "hosts/TPackedLines.h"

#include <QSignalBlocker>
#include <QTimer>

#include <new>

void Tfm_ns::bn_saveClick(QObject*) {
    if (!Ping->Busy() && !Trace->Busy())
        SaveSession();
}

void Tfm_ns::bn_loadClick(QObject*) {
    if (!Ping->Busy() && !Trace->Busy())
        LoadSession();
}

// The file is replaced whole (see files::WriteFileReplacing), so a failed
// save leaves the earlier file as it was. The list, its selection and the
// pane are not touched.
void Tfm_ns::SaveSession() {
    if (!dl_save->Execute())
        return;
    QList<files::SessionFile::Entry> entries;
    entries.reserve(FHosts->Count());
    for (int i = 0; i < FHosts->Count(); ++i) {
        files::SessionFile::Entry entry{FHosts->Item(i), std::nullopt};
        if (HasResults(i))
            entry.lines = Results(i);
        entries.append(std::move(entry));
    }
    QString error;
    if (!files::SessionFile::Write(dl_save->FileName(), entries, WatchedPaths(), error))
        platform::Messages().Error(error);
}

// The file replaces the whole list, read in full on a worker thread before
// the list changes: a file that cannot be read, a Cancel in the progress
// dialog and a lack of memory all leave the list, its selection and the pane
// as they were. Afterwards nothing is selected and the pane keeps its text
// until the user picks an entry.
void Tfm_ns::LoadSession() {
    if (dl_open->Execute())
        LoadSessionFrom(dl_open->FileName());
}

void Tfm_ns::LoadSessionFrom(const QString& path) {
    QStringList texts;
    QVariantList data;
    QStringList pathWatches;
    QString error;
    // The automatic mode waits: no run may start on the list being replaced.
    const QSignalBlocker noTicks(Tick);
    const files::LoadStatus status =
        RunFileLoad(this, path, error, [&](files::LoadControl& control) {
            // Each entry goes straight into the list's own form, off the window
            // thread, its lines packed into one text (see TPackedLines).
            return files::SessionFile::ReadJoined(
                path,
                [&](files::SessionFile::JoinedEntry&& entry) {
                    texts << std::move(entry.address);
                    data << (entry.lines ? TPackedLines::FromJoined(std::move(*entry.lines))
                                         : QVariant());
                },
                error, &control, &pathWatches);
        });
    if (status == files::LoadStatus::Cancelled)
        return;
    if (status == files::LoadStatus::Done) {
        try {
            lb_add->setUpdatesEnabled(false);
            lb_add->SetItems(texts, data);
            lb_add->SetItemIndex(-1);
            lb_add->setUpdatesEnabled(true);
            // The paths watched when the session was saved, of the entries
            // it holds; windows open already stay as they are.
            for (const QString& entry : pathWatches)
                if (lb_add->IndexOf(entry) >= 0)
                    ShowPathOf(entry);
            return;
        } catch (const std::bad_alloc&) {
            lb_add->setUpdatesEnabled(true);
            error = files::FileReadError(path, files::OutOfMemoryReason());
        }
    }
    platform::Messages().Error(error);
}

// An address list file becomes the whole list, as when the address dialog
// reads it and the user confirms: sorted, without results, nothing
// selected. As with a session, a file that cannot be read, a Cancel and a
// lack of memory leave the list as it was.
void Tfm_ns::LoadAddressList(const QString& path) {
    QStringList entries;
    QString error;
    const QSignalBlocker noTicks(Tick);
    const files::LoadStatus status =
        RunFileLoad(this, path, error, [&](files::LoadControl& control) {
            return AddressListFile::Read(path, entries, error, &control);
        });
    if (status == files::LoadStatus::Cancelled)
        return;
    if (status == files::LoadStatus::Done) {
        try {
            lb_add->setUpdatesEnabled(false);
            lb_add->Clear();
            lb_add->AddItems(entries);
            lb_add->SetItemIndex(-1);
            lb_add->setUpdatesEnabled(true);
            lb_addClick(lb_add);
            return;
        } catch (const std::bad_alloc&) {
            lb_add->setUpdatesEnabled(true);
            error = files::FileReadError(path, files::OutOfMemoryReason());
        }
    }
    platform::Messages().Error(error);
}
