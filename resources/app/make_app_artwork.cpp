// Writes the program's pictures into the folder given as the only argument
// (normally this source's folder):
//   make_app_artwork resources/app
#include "AppArtwork.h"
#include "ArtworkMain.h"

int main(int argc, char** argv) {
    return WriteArtwork(argc, argv, [] {
        ArtworkFiles files;
        for (const AppArtwork::File& file : AppArtwork::Files())
            files.emplace_back(file.path, file.data);
        return files;
    });
}
