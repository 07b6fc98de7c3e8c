#pragma once

#include <QImage>
#include <QWidget>

// A picture on its parent's surface. Transparent pixels of the picture show
// what lies beneath.
class g_image : public QWidget {
    Q_OBJECT
public:
    explicit g_image(QWidget* parent = nullptr);

    QImage Picture() const { return FPicture; }
    void SetPicture(const QImage& value);
    // Scale the picture to the control's size.
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);
    // Centre the picture instead of placing it at the top-left corner.
    bool Center() const { return FCenter; }
    void SetCenter(bool value);
    // Resize the control to the picture.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FitToPicture();

    QImage FPicture;
    bool FStretch = false;
    bool FCenter = false;
    bool FAutoSize = false;
};
