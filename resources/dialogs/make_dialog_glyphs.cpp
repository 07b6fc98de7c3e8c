// Writes the glyph pictures of the address dialog's buttons as PNG files into
// the folder given as the only argument (normally this source's folder):
//   make_dialog_glyphs resources/dialogs
#include "ArtworkMain.h"
#include "DialogGlyphs.h"

#include <QBuffer>
#include <QImage>

int main(int argc, char** argv) {
    return WriteArtwork(argc, argv, [] {
        ArtworkFiles files;
        auto add = [&files](const QString& file, const QImage& image) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            files.emplace_back(file, png);
        };
        for (const QString& name : DialogGlyphs::Names()) {
            add(name + QStringLiteral(".png"), DialogGlyphs::Make(name));
            for (int scale : DialogGlyphs::Scales)
                add(QStringLiteral("%1@%2x.png").arg(name).arg(scale),
                    DialogGlyphs::Make(name, scale));
        }
        return files;
    });
}
