#pragma once

#include <QProgressBar>

// The toolkit's progress bar under the control set's name: a plain bar
// without a percentage text.
class g_progressbar : public QProgressBar {
    Q_OBJECT
public:
    explicit g_progressbar(QWidget* parent = nullptr) : QProgressBar(parent) {
        setTextVisible(false);
        setRange(0, 100);
        setValue(0);
    }
};
