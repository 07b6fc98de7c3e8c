#include "alerts/AlertSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

namespace alerts {

namespace {

const QString kFailures = QStringLiteral("Alerts/FailuresToDown");
const QString kAnswers = QStringLiteral("Alerts/AnswersToUp");
const QString kRttLimit = QStringLiteral("Alerts/RoundTripLimitMs");
const QString kBaseline = QStringLiteral("Alerts/BaselineFactor");
const QString kLossWindow = QStringLiteral("Alerts/LossWindow");
const QString kLossPercent = QStringLiteral("Alerts/LossPercent");
const QString kSounds = QStringLiteral("Alerts/Sounds");
const QString kNotices = QStringLiteral("Alerts/Notices");
const QString kPathChanges = QStringLiteral("Alerts/PathChanges");
const QString kPathLoss = QStringLiteral("Alerts/PathLoss");

int Number(const QSettings& s, const QString& key, int fallback, int low, int high) {
    bool ok = false;
    const qlonglong value = s.value(key, fallback).toString().trimmed().toLongLong(&ok);
    return ok ? static_cast<int>(std::clamp<qlonglong>(value, low, high)) : fallback;
}

bool Flag(const QSettings& s, const QString& key, bool fallback) {
    const QString text = s.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return fallback;
}

} // namespace

bool AlertSettings::operator==(const AlertSettings& o) const {
    const Limits &a = Thresholds, &b = o.Thresholds;
    return a.FailuresToDown == b.FailuresToDown && a.AnswersToUp == b.AnswersToUp &&
           a.RttLimitMs == b.RttLimitMs && a.BaselineFactor == b.BaselineFactor &&
           a.LossWindow == b.LossWindow && a.LossPercent == b.LossPercent && Sounds == o.Sounds &&
           Notices == o.Notices && PathChanges == o.PathChanges && PathLoss == o.PathLoss;
}

AlertSettings AlertSettings::Load(const QString& path) {
    const QSettings s(path, QSettings::IniFormat);
    AlertSettings d;
    AlertSettings r;
    Limits& l = r.Thresholds;
    l.FailuresToDown = Number(s, kFailures, d.Thresholds.FailuresToDown, 1, MaxFailures);
    l.AnswersToUp = Number(s, kAnswers, d.Thresholds.AnswersToUp, 1, MaxAnswers);
    l.RttLimitMs = Number(s, kRttLimit, d.Thresholds.RttLimitMs, 0, MaxRttLimitMs);
    l.BaselineFactor = Number(s, kBaseline, d.Thresholds.BaselineFactor, 0, MaxBaselineFactor);
    // A multiple of 1 would call half the runs slow: it means off.
    if (l.BaselineFactor == 1)
        l.BaselineFactor = 0;
    l.LossWindow = Number(s, kLossWindow, d.Thresholds.LossWindow, 1, MaxLossWindow);
    l.LossPercent = Number(s, kLossPercent, d.Thresholds.LossPercent, 0, 100);
    r.Sounds = Flag(s, kSounds, d.Sounds);
    r.Notices = Flag(s, kNotices, d.Notices);
    r.PathChanges = Flag(s, kPathChanges, d.PathChanges);
    r.PathLoss = Flag(s, kPathLoss, d.PathLoss);
    return r;
}

bool AlertSettings::Save(const QString& path) const {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSettings s(path, QSettings::IniFormat);
    s.setValue(kFailures, Thresholds.FailuresToDown);
    s.setValue(kAnswers, Thresholds.AnswersToUp);
    s.setValue(kRttLimit, Thresholds.RttLimitMs);
    s.setValue(kBaseline, Thresholds.BaselineFactor);
    s.setValue(kLossWindow, Thresholds.LossWindow);
    s.setValue(kLossPercent, Thresholds.LossPercent);
    s.setValue(kSounds, Sounds);
    s.setValue(kNotices, Notices);
    s.setValue(kPathChanges, PathChanges);
    s.setValue(kPathLoss, PathLoss);
    s.sync();
    return s.status() == QSettings::NoError;
}

QString AlertSettings::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/alerts.conf");
}

} // namespace alerts
