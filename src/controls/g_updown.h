#pragma once

#include "platform/Events.h"

#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

class QToolButton;

// Spin buttons bound to an edit (the associate). The position runs from Min
// to Max in steps of Increment and stops at the limits. Setting the position
// writes it into the edit, with the locale's thousands separator when
// Thousands is on; the position follows the edit's text whenever that text,
// without separators, is a whole number within the range, and keeps its
// value for any other text. The Up and Down keys in the edit step as well.
class g_updown : public QWidget {
    Q_OBJECT
public:
    explicit g_updown(QWidget* parent = nullptr);
    ~g_updown() override;

    QLineEdit* Associate() const { return FAssociate; }
    // Binds the spin buttons to edit (or to none) and writes the position into it.
    void SetAssociate(QLineEdit* edit);

    int Min() const { return FMin; }
    void SetMin(int value);
    int Max() const { return FMax; }
    void SetMax(int value);
    int Increment() const { return FIncrement; }
    void SetIncrement(int value) { FIncrement = value; }
    bool Wrap() const { return FWrap; }
    void SetWrap(bool value) { FWrap = value; }
    bool Thousands() const { return FThousands; }
    void SetThousands(bool value);

    // The position; reading it first takes over a valid text of the edit.
    int Position() const;
    // Clamps value into the range, stores it and writes it into the edit,
    // except over the user's text (any text the spin buttons did not write)
    // while the position already has that value.
    void SetPosition(int value);

    // Steps the position by Increment times steps (negative: downwards).
    void Step(int steps);

    // The position text for a value, as written into the edit.
    QString FormatPosition(int value) const;
    // The whole number a text stands for, when it is one within the range.
    std::optional<int> ParsePosition(const QString& text) const;

    // The position was changed by the spin buttons or the arrow keys.
    TNotifyEvent OnClick;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FollowText() const;
    void WriteText();

    QPointer<QLineEdit> FAssociate;
    QObject* FAssociateObject = nullptr; // for comparisons only, never dereferenced
    QToolButton* FUp = nullptr;
    QToolButton* FDown = nullptr;
    int FMin = 0;
    int FMax = 100;
    int FIncrement = 1;
    bool FWrap = false;
    bool FThousands = true;
    mutable int FPosition = 0;
    // The text last written into the edit by the spin buttons.
    QString FWritten;
};
