#include "controls/g_updown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <algorithm>

g_updown::g_updown(QWidget* parent) : QWidget(parent) {
    auto makeButton = [this](Qt::ArrowType arrow, int steps) {
        auto* button = new QToolButton(this);
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, [this, steps] { Step(steps); });
        return button;
    };
    FUp = makeButton(Qt::UpArrow, 1);
    FDown = makeButton(Qt::DownArrow, -1);
    resize(12, 21);
}

g_updown::~g_updown() {
    if (FAssociate)
        FAssociate->removeEventFilter(this);
}

void g_updown::SetAssociate(QLineEdit* edit) {
    if (FAssociate)
        FAssociate->removeEventFilter(this);
    FAssociate = edit;
    FAssociateObject = edit;
    if (FAssociate) {
        FAssociate->installEventFilter(this);
        WriteText();
        // The text the edit came with is the program's, not the user's.
        FWritten = FAssociate->text();
    }
}

void g_updown::SetMin(int value) {
    FMin = value;
    FPosition = std::clamp(FPosition, std::min(FMin, FMax), std::max(FMin, FMax));
}

void g_updown::SetMax(int value) {
    FMax = value;
    FPosition = std::clamp(FPosition, std::min(FMin, FMax), std::max(FMin, FMax));
}

void g_updown::SetThousands(bool value) {
    if (value == FThousands)
        return;
    FThousands = value;
    WriteText();
}

QString g_updown::FormatPosition(int value) const {
    QString digits = QString::number(value < 0 ? -static_cast<qint64>(value) : value);
    if (FThousands) {
        const QString separator = QLocale().groupSeparator();
        for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
            digits.insert(at, separator);
    }
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

std::optional<int> g_updown::ParsePosition(const QString& text) const {
    QString plain = text;
    const QString separator = QLocale().groupSeparator();
    if (!separator.isEmpty())
        plain.remove(separator);
    const bool negative = plain.startsWith(QLatin1Char('-'));
    const QStringView digits = QStringView(plain).mid(negative ? 1 : 0);
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (negative)
        value = -value;
    if (value < std::min(FMin, FMax) || value > std::max(FMin, FMax))
        return std::nullopt;
    return static_cast<int>(value);
}

void g_updown::FollowText() const {
    if (!FAssociate)
        return;
    if (const std::optional<int> value = ParsePosition(FAssociate->text()))
        FPosition = *value;
}

int g_updown::Position() const {
    FollowText();
    return FPosition;
}

void g_updown::SetPosition(int value) {
    value = std::clamp(value, std::min(FMin, FMax), std::max(FMin, FMax));
    // Setting the position the spin buttons already hold leaves the user's
    // text as it is, also when it is no number in range: it is typing in
    // progress ("5" on the way to "500"). Every text the spin buttons did
    // not write themselves is the user's, whatever way it came in: keys,
    // paste, an input method, a drop, or assistive technology setting the
    // edit's text through the accessibility interface.
    if (value == Position() && FAssociate && FAssociate->text() != FWritten)
        return;
    FPosition = value;
    WriteText();
}

void g_updown::WriteText() {
    if (!FAssociate)
        return;
    // An edit that already shows the number keeps its text as typed, and
    // writing the same position again changes nothing.
    if (ParsePosition(FAssociate->text()) == FPosition)
        return;
    FWritten = FormatPosition(FPosition);
    FAssociate->setText(FWritten);
}

void g_updown::Step(int steps) {
    const int lo = std::min(FMin, FMax), hi = std::max(FMin, FMax);
    const int from = Position();
    qint64 next = from + static_cast<qint64>(steps) * FIncrement * (FMin <= FMax ? 1 : -1);
    if (next > hi)
        next = FWrap && from == hi ? lo : hi;
    else if (next < lo)
        next = FWrap && from == lo ? hi : lo;
    if (next == from)
        return;
    SetPosition(static_cast<int>(next));
    FireEvent(OnClick, this);
}

bool g_updown::eventFilter(QObject* watched, QEvent* event) {
    // The event type is checked first: while the edit is being destroyed its
    // events still pass here, and it must not be looked at as an edit then.
    if (event->type() == QEvent::KeyPress && watched == FAssociateObject && isEnabled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            Step(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void g_updown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int upper = height() / 2;
    FUp->setGeometry(0, 0, width(), upper);
    FDown->setGeometry(0, upper, width(), height() - upper);
}
