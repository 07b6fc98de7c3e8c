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
        for (const QString& name : DialogGlyphs::Names()) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            DialogGlyphs::Make(name).save(&buffer, "PNG");
            files.emplace_back(name + QStringLiteral(".png"), png);
        }
        return files;
    });
}
