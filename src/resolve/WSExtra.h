#pragma once

#include <QString>

class QObject;

// Start-up and shut-down of the socket library shared by every component
// that uses it, and the texts of its error codes.
//
// There is no reference count: the first component that starts the library
// owns it, and the library is shut down when that component is destroyed.
void StartSocketLibrary(QObject* Component);
void StopSocketLibrary(QObject* Component);
QString SocketErrorText(int Code);

bool SocketsStarted();
const QObject* SocketsOwner();
