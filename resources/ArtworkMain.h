#pragma once

// The main of the generators that write the program's artwork into the
// folder given as their only argument (normally the generator's own source
// folder), on Qt's offscreen platform.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

// Files by their path in the output folder, with their whole contents.
using ArtworkFiles = std::vector<std::pair<QString, QByteArray>>;

inline int WriteArtwork(int argc, char** argv, const std::function<ArtworkFiles()>& make) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const auto& [name, data] : make()) {
        const QString path = out.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
