#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the program checks before Qt opens a display: its command line and
// whether there is a display to open at all.
namespace startup {

// The command line takes no options, only the file to open. "--" ends
// options, so that a file whose name starts with '-' can still be named.
struct Arguments {
    // The file to open, as given; empty for none.
    QString file;
    // One line for the user when the command line is refused; empty if it
    // is accepted.
    QString error;
};

// args are the arguments after the program's name.
Arguments ParseArguments(const QStringList& args);

// Why no display can be opened, or an empty text when one may be: Qt ends
// the process with an abort when it finds none. A platform named in
// QT_QPA_PLATFORM is left to Qt. env reads one environment variable.
QString NoDisplayReason(const std::function<QString(const char*)>& env);

// Both checks on the real command line and environment: prints the line
// and returns the exit status when the program must stop, else 0 and the
// file to open.
int Check(int argc, char** argv, QString& file);

} // namespace startup
