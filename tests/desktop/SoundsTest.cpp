#include "desktop/Sounds.h"
#include "support/FakeSounds.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

quint32 u32(const QByteArray& b, int at) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(b.constData()) + at);
}
quint16 u16(const QByteArray& b, int at) {
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(b.constData()) + at);
}

} // namespace

TEST(Sounds, ClipsAreShortPcmWaves) {
    for (const char* name : {"UP", "DOWN"}) {
        const QByteArray clip = platform::SoundClip(QString::fromLatin1(name));
        ASSERT_GE(clip.size(), 44) << name;
        EXPECT_EQ(clip.left(4), "RIFF");
        EXPECT_EQ(u32(clip, 4), quint32(clip.size() - 8));
        EXPECT_EQ(clip.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(u16(clip, 20), 1) << "PCM";
        const quint32 bytesPerSecond = u32(clip, 28);
        EXPECT_EQ(clip.mid(36, 4), "data");
        const quint32 data = u32(clip, 40);
        EXPECT_EQ(data, quint32(clip.size() - 44));
        // A click: well under a tenth of a second.
        EXPECT_LT(data * 1000 / bytesPerSecond, 100u) << name;
    }
    EXPECT_NE(platform::SoundClip("UP"), platform::SoundClip("DOWN"));
    EXPECT_TRUE(platform::SoundClip("NOSUCH").isEmpty());
}

TEST(Sounds, ReplacementObservesEveryPlayAndIsRemovedAgain) {
    platform::Sounds* original = &platform::Player();
    {
        netsonde::test::FakeSounds fake;
        EXPECT_NE(&platform::Player(), original);
        platform::Player().Play("DOWN");
        platform::Player().Play("UP");
        platform::Player().Play("UP");
        EXPECT_EQ(fake.played, (QStringList{"DOWN", "UP", "UP"}));
    }
    EXPECT_EQ(&platform::Player(), original);
}

TEST(Sounds, RealPlaybackReturnsAtOnceEvenWithoutADevice) {
    // The machine running the tests may have no sound device at all; playing
    // must neither fail nor wait, also when a clip cuts off another.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 5; ++i) {
        platform::Player().Play("DOWN");
        platform::Player().Play("UP");
    }
    platform::Player().Play("NOSUCH");
    EXPECT_LT(timer.elapsed(), 2000);
}
