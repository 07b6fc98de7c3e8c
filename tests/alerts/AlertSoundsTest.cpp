// The three alert clips: short PCM waves, each different, found by the
// program's sound layer under the names the notices use.
#include "alerts/HostStates.h"
#include "desktop/Sounds.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {

quint32 u32(const QByteArray& b, int at) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(b.constData()) + at);
}

TEST(AlertSounds, ThreeDistinctShortClips) {
    QList<QByteArray> clips;
    for (const QString& name : {alerts::AlertDown, alerts::AlertDegraded, alerts::AlertUp}) {
        const QByteArray clip = platform::SoundClip(name);
        ASSERT_GE(clip.size(), 44) << name.toStdString();
        EXPECT_EQ(clip.left(4), "RIFF");
        EXPECT_EQ(clip.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(clip.mid(36, 4), "data");
        const quint32 data = u32(clip, 40);
        EXPECT_EQ(data, quint32(clip.size() - 44));
        // Short enough not to be in the way; long enough to be told apart.
        const quint32 ms = data * 1000 / u32(clip, 28);
        EXPECT_GE(ms, 150u) << name.toStdString();
        EXPECT_LE(ms, 500u) << name.toStdString();
        // Not silent, and never clipped to full scale.
        int peak = 0;
        for (int at = 44; at + 1 < clip.size(); at += 2)
            peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(clip.constData() + at))));
        EXPECT_GT(peak, 8000) << name.toStdString();
        EXPECT_LT(peak, 32767) << name.toStdString();
        EXPECT_FALSE(clips.contains(clip)) << name.toStdString();
        clips << clip;
    }
}

} // namespace
