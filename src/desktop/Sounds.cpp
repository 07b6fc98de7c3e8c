#include "desktop/Sounds.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QPointer>

#ifdef NETSONDE_HAVE_MULTIMEDIA
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <QtEndian>
#endif

namespace platform {

namespace {

QString resourcePath(const QString& name) {
    return QStringLiteral(":/sounds/") + name + QStringLiteral(".wav");
}

#ifdef NETSONDE_HAVE_MULTIMEDIA
// The format and the sample bytes of a PCM RIFF WAVE image; an invalid
// format when the image is not one.
struct PcmClip {
    QAudioFormat format;
    QByteArray samples;
};

PcmClip parseWave(const QByteArray& image) {
    PcmClip clip;
    auto u16 = [&](qsizetype at) {
        return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(image.constData()) + at);
    };
    auto u32 = [&](qsizetype at) {
        return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(image.constData()) + at);
    };
    if (image.size() < 12 || !image.startsWith("RIFF") || image.mid(8, 4) != "WAVE")
        return clip;
    bool haveFormat = false;
    for (qsizetype at = 12; at + 8 <= image.size();) {
        const QByteArray tag = image.mid(at, 4);
        const qsizetype size = u32(at + 4);
        const qsizetype body = at + 8;
        if (size > image.size() - body)
            break;
        if (tag == "fmt " && size >= 16 && u16(body) == 1) {
            const int bits = u16(body + 14);
            clip.format.setChannelCount(u16(body + 2));
            clip.format.setSampleRate(static_cast<int>(u32(body + 4)));
            clip.format.setSampleFormat(bits == 8    ? QAudioFormat::UInt8
                                        : bits == 16 ? QAudioFormat::Int16
                                        : bits == 32 ? QAudioFormat::Int32
                                                     : QAudioFormat::Unknown);
            haveFormat = true;
        } else if (tag == "data" && haveFormat) {
            clip.samples = image.mid(body, size);
            return clip;
        }
        at = body + size + (size & 1);
    }
    clip.format = QAudioFormat();
    return clip;
}

// Plays a clip straight from its bytes in memory through an audio sink of
// the default output. Only one sink exists at a time: a new clip stops the
// one still playing. The sink pulls its data asynchronously, so Play returns
// at once; without an output device nothing happens.
class QtSounds final : public Sounds {
public:
    void Play(const QString& name) override {
        if (!QCoreApplication::instance())
            return;
        stop();
        const PcmClip clip = parseWave(SoundClip(name));
        if (!clip.format.isValid() || clip.samples.isEmpty())
            return;
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || !device.isFormatSupported(clip.format))
            return;
        FSink = new QAudioSink(device, clip.format, QCoreApplication::instance());
        FBuffer = new QBuffer(FSink);
        FBuffer->setData(clip.samples);
        FBuffer->open(QIODevice::ReadOnly);
        FSink->start(FBuffer);
    }

private:
    void stop() {
        if (FSink) {
            FSink->stop();
            FSink->deleteLater();
        }
        FSink = nullptr;
        FBuffer = nullptr;
    }

    QPointer<QAudioSink> FSink;
    QPointer<QBuffer> FBuffer;
};
using DefaultSounds = QtSounds;
#else
// Built without Qt Multimedia: the program stays silent.
class SilentSounds final : public Sounds {
public:
    void Play(const QString&) override {}
};
using DefaultSounds = SilentSounds;
#endif

std::unique_ptr<Sounds>& current() {
    static std::unique_ptr<Sounds> layer = std::make_unique<DefaultSounds>();
    return layer;
}

} // namespace

Sounds& Player() {
    return *current();
}

std::unique_ptr<Sounds> SetSounds(std::unique_ptr<Sounds> replacement) {
    std::unique_ptr<Sounds> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<DefaultSounds>();
    return previous;
}

QByteArray SoundClip(const QString& name) {
    static QHash<QString, QByteArray> clips;
    auto it = clips.find(name);
    if (it == clips.end()) {
        QFile file(resourcePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        it = clips.insert(name, file.readAll());
    }
    return *it;
}

} // namespace platform
