#pragma once

#include "files/FileReader.h"

#include <QString>

#include <functional>

class QWidget;

// Runs a file load on a worker thread and waits for it on the window thread
// without freezing the window: for the first moments under the busy cursor
// (keyboard and mouse input waits), then, if the load is still running, with
// a modal progress dialog whose Cancel button stops it. Returns what the load
// returned; Cancelled also when the program is ending. load must not touch
// widgets; it gets the control to check and to report progress through. An
// allocation failure inside load ends it as Failed with error set.
files::LoadStatus RunFileLoad(QWidget* owner, const QString& path, QString& error,
                              const std::function<files::LoadStatus(files::LoadControl&)>& load);

// How long a load runs before the progress dialog shows, in milliseconds.
int FileLoadProgressDelay();
void SetFileLoadProgressDelay(int milliseconds);
