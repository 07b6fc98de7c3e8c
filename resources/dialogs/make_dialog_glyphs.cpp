// Writes the glyph pictures of the address dialog's buttons as PNG files into
// the folder given as the only argument (normally this source's folder):
//   make_dialog_glyphs resources/dialogs
#include "DialogGlyphs.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const QString& name : DialogGlyphs::Names()) {
        const QString path = out.filePath(name + QStringLiteral(".png"));
        if (!DialogGlyphs::Make(name).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
