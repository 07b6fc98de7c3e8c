// The alert settings file: defaults, a round trip, and whatever a hand-
// edited or damaged file holds.
#include "alerts/AlertSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using alerts::AlertSettings;

namespace {

class AlertSettingsTest : public testing::Test {
protected:
    void Write(const QByteArray& text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir dir;
    QString path = dir.filePath("alerts.conf");
};

TEST_F(AlertSettingsTest, MissingFileGivesTheDefaults) {
    const AlertSettings s = AlertSettings::Load(path);
    EXPECT_EQ(s, AlertSettings());
    EXPECT_EQ(s.Thresholds.FailuresToDown, 3);
    EXPECT_EQ(s.Thresholds.AnswersToUp, 2);
    EXPECT_EQ(s.Thresholds.RttLimitMs, 0);
    EXPECT_EQ(s.Thresholds.BaselineFactor, 0);
    EXPECT_EQ(s.Thresholds.LossWindow, 20);
    EXPECT_EQ(s.Thresholds.LossPercent, 20);
    EXPECT_TRUE(s.Sounds);
    EXPECT_TRUE(s.Notices);
    EXPECT_TRUE(s.PathChanges);
    EXPECT_TRUE(s.PathLoss);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(AlertSettingsTest, SavedSettingsLoadAgainInAFreshFolder) {
    AlertSettings s;
    s.Thresholds = {5, 4, 250, 3, 50, 10};
    s.Sounds = false;
    s.Notices = false;
    s.PathChanges = false;
    s.PathLoss = false;
    const QString nested = dir.filePath("config/Netsonde/alerts.conf");
    ASSERT_TRUE(s.Save(nested));
    EXPECT_EQ(AlertSettings::Load(nested), s);
    // Saving again replaces, it does not add.
    s.Thresholds.FailuresToDown = 7;
    ASSERT_TRUE(s.Save(nested));
    EXPECT_EQ(AlertSettings::Load(nested), s);
}

TEST_F(AlertSettingsTest, BadValuesNeverSurvive) {
    Write("[Alerts]\n"
          "FailuresToDown=abc\n"
          "AnswersToUp=-3\n"
          "RoundTripLimitMs=99999999999\n"
          "BaselineFactor=1\n"
          "LossWindow=0\n"
          "LossPercent=250\n"
          "Sounds=perhaps\n"
          "Notices=0\n");
    const AlertSettings s = AlertSettings::Load(path);
    EXPECT_EQ(s.Thresholds.FailuresToDown, 3); // not a number: the default
    EXPECT_EQ(s.Thresholds.AnswersToUp, 1);    // below the range: its floor
    EXPECT_EQ(s.Thresholds.RttLimitMs, 60000); // above the range: its ceiling
    EXPECT_EQ(s.Thresholds.BaselineFactor, 0); // a multiple of 1 is off
    EXPECT_EQ(s.Thresholds.LossWindow, 1);
    EXPECT_EQ(s.Thresholds.LossPercent, 100);
    EXPECT_TRUE(s.Sounds);
    EXPECT_FALSE(s.Notices);
}

TEST_F(AlertSettingsTest, GarbageFileGivesTheDefaults) {
    static const char garbage[] = "\x00\xff\xfe garbage [[[ = = =\n";
    Write(QByteArray(garbage, sizeof garbage - 1));
    EXPECT_EQ(AlertSettings::Load(path), AlertSettings());
}

TEST_F(AlertSettingsTest, UnwritablePlaceFailsToSave) {
    Write("a file, not a folder");
    EXPECT_FALSE(AlertSettings().Save(path + "/alerts.conf"));
}

TEST_F(AlertSettingsTest, DefaultPathIsInTheUsersConfigurationFolder) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const QString where = AlertSettings::DefaultPath();
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_TRUE(where.startsWith(dir.path() + "/")) << where.toStdString();
    EXPECT_TRUE(where.endsWith("/alerts.conf")) << where.toStdString();
}

} // namespace
