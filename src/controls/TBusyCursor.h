#pragma once

#include <QCursor>
#include <QGuiApplication>

// Shows the busy cursor over every window of the program for its lifetime,
// for work that keeps the window thread busy long enough to be noticed.
class TBusyCursor {
public:
    TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
