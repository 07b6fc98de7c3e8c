#pragma once

#include <QString>
#include <QStringList>

// Rules for the address texts of the selection dialog.
namespace AddressTexts {

// The texts of a numbered range: net followed by every number from `from` to
// `to` with at least three digits ("192.168.1." gives "192.168.1.001"...).
// Empty when to is below from.
QStringList Range(const QString& net, int from, int to);

} // namespace AddressTexts
