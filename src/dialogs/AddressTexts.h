#pragma once

#include <QString>
#include <QStringList>

// Rules for the address texts of the selection dialog.
namespace AddressTexts {

// True when a and b are the same address for the list: equal under a
// case-insensitive comparison in the user's locale.
bool Same(const QString& a, const QString& b);

// Order of the sorted address list: case-insensitive in the user's locale,
// ties broken by the exact text so that the order is total.
bool Less(const QString& a, const QString& b);

// The texts of a numbered range: net followed by every number from `from` to
// `to` with at least three digits ("192.168.1." gives "192.168.1.001"...).
// Empty when to is below from.
QStringList Range(const QString& net, int from, int to);

} // namespace AddressTexts
