#include "app/LastSession.h"

#include "app/Tfm_ns.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_listbox.h"
#include "files/SessionFile.h"
#include "hosts/HostList.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <utility>

namespace {

const QString CommandKey = QStringLiteral("Automatic/Command");
const QString SelectedKey = QStringLiteral("Automatic/Selected");
const QString ResolveKey = QStringLiteral("Options/Resolve");

// The command names in the state file, by TRunKind.
const char* const CommandNames[] = {"CheckOne", "CheckAll", "Ping", "Trace", "Stop"};

// The option fields with their keys.
std::pair<g_edit*, QString> optionFields(const Tfm_ns& w, int i) {
    const std::pair<g_edit*, const char*> fields[] = {{w.ed_number, "Options/Pings"},
                                                      {w.ed_size, "Options/Size"},
                                                      {w.ed_tmout, "Options/TimeOut"},
                                                      {w.ed_ttl, "Options/TTL"},
                                                      {w.ed_secs, "Options/Seconds"}};
    return {fields[i].first, QString::fromLatin1(fields[i].second)};
}
constexpr int OptionCount = 5;

std::function<void()>& writeObserver() {
    static std::function<void()> observer;
    return observer;
}

} // namespace

LastSession::LastSession(QString folder) : FFolder(std::move(folder)) {}

QString LastSession::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString LastSession::SessionPath() const {
    return FFolder + QStringLiteral("/last-session.nsd");
}

QString LastSession::StatePath() const {
    return FFolder + QStringLiteral("/last-session.conf");
}

LastSession::Snapshot LastSession::Take(const Tfm_ns& window) {
    Snapshot snapshot;
    const hosts::HostList& list = *window.Hosts();
    snapshot.entries.reserve(list.Count());
    for (int i = 0; i < list.Count(); ++i) {
        files::SessionFile::Entry entry{list.Item(i), std::nullopt};
        if (list.HasResults(i))
            entry.lines = list.Results(i);
        snapshot.entries.append(std::move(entry));
    }
    snapshot.watched = window.WatchedPaths();
    snapshot.command = QString::fromLatin1(CommandNames[window.AutoKind()]);
    const int selected = window.lb_add->ItemIndex();
    if (selected >= 0)
        snapshot.selected = window.lb_add->Item(selected);
    snapshot.resolve = window.ck_Resolve->Checked();
    for (int i = 0; i < OptionCount; ++i) {
        const auto [edit, key] = optionFields(window, i);
        snapshot.options.append({key, edit->text()});
    }
    return snapshot;
}

void LastSession::SetWriteObserverForTests(std::function<void()> observer) {
    writeObserver() = std::move(observer);
}

bool LastSession::Write(const Snapshot& snapshot, QString& error) const {
    if (const auto& observe = writeObserver())
        observe();
    if (!QDir().mkpath(FFolder)) {
        error = QStringLiteral("The folder %1 cannot be created.")
                    .arg(QDir::toNativeSeparators(FFolder));
        return false;
    }
    if (!files::SessionFile::Write(SessionPath(), snapshot.entries, snapshot.watched, error))
        return false;

    // QSettings replaces the file whole (a new file renamed over the old).
    QSettings state(StatePath(), QSettings::IniFormat);
    state.setValue(CommandKey, snapshot.command);
    if (!snapshot.selected.isEmpty())
        state.setValue(SelectedKey, snapshot.selected);
    else
        state.remove(SelectedKey);
    state.setValue(ResolveKey, snapshot.resolve);
    for (const auto& [key, text] : snapshot.options)
        state.setValue(key, text);
    state.sync();
    if (state.status() != QSettings::NoError) {
        error = QStringLiteral("%1 cannot be written.").arg(QDir::toNativeSeparators(StatePath()));
        return false;
    }
    return true;
}

bool LastSession::Save(const Tfm_ns& window, QString& error) const {
    return Write(Take(window), error);
}

void LastSession::Restore(Tfm_ns& window) const {
    if (QFileInfo(SessionPath()).isFile())
        window.LoadSessionFrom(SessionPath());
    if (!QFileInfo(StatePath()).isFile())
        return;
    const QSettings state(StatePath(), QSettings::IniFormat);
    // The starting values go first, so that the first show keeps what is
    // restored here; each field's change handler then applies its value.
    // The values are applied again from the fields as they stand: a field
    // that already shows the saved text reports no change.
    window.ApplyStartOptions();
    if (state.contains(ResolveKey))
        window.ck_Resolve->SetChecked(state.value(ResolveKey).toBool());
    window.ck_ResolveClick(window.ck_Resolve);
    for (int i = 0; i < OptionCount; ++i) {
        const auto [edit, key] = optionFields(window, i);
        if (state.contains(key))
            edit->setText(state.value(key).toString());
    }
    window.ed_numberChange(window.ed_number);
    window.ed_sizeChange(window.ed_size);
    window.ed_tmoutChange(window.ed_tmout);
    window.ed_ttlChange(window.ed_ttl);
    window.ed_secsChange(window.ed_secs);
    const int selected = window.lb_add->IndexOf(state.value(SelectedKey).toString());
    if (state.contains(SelectedKey) && selected >= 0) {
        window.lb_add->SetItemIndex(selected);
        window.lb_addClick(window.lb_add);
    }
    // The mode starts as from its menu: one run at once, then every tick.
    QAction* const items[] = {window.CheckOne1, window.CheckAll1, window.Ping1, window.Trace1};
    const QString command = state.value(CommandKey).toString();
    for (int kind = rkCheckOne; kind <= rkTrace; ++kind)
        if (command == QLatin1String(CommandNames[kind])) {
            items[kind]->trigger();
            break;
        }
}
