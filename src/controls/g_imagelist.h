#pragma once

#include <QImage>
#include <QList>
#include <QObject>

class QPainter;

// A list of images of one size, drawn by index.
class g_imagelist : public QObject {
    Q_OBJECT
public:
    explicit g_imagelist(QObject* owner = nullptr) : QObject(owner) {}

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Changing the size empties the list.
    void SetSize(int width, int height);

    int Count() const { return static_cast<int>(FImages.size()); }
    // Adds the images of a strip, Width() pixels each, left to right, and
    // returns the index of the first; a strip narrower than one image adds
    // nothing and gives -1. A strip with a device pixel ratio holds that
    // many pixels per pixel of Width(), and so do its images.
    int Add(const QImage& strip);
    QImage Image(int index) const;
    void Clear() { FImages.clear(); }

    // Draws image index with its top-left corner at (x, y); transparent
    // pixels leave the background as it is. Disabled images are greyed.
    void Draw(QPainter& canvas, int x, int y, int index, bool enabled = true) const;

private:
    int FWidth = 16;
    int FHeight = 16;
    QList<QImage> FImages;
};
