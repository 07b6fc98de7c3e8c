#pragma once

#include <QString>
#include <QStringList>

// Rules for the address texts of the selection dialog.
namespace AddressTexts {

// The texts of a numbered range: net followed by every number from `from` to
// `to` with at least three digits ("192.168.1." gives "192.168.1.001"...).
// Empty when to is below from. An IPv6 network, a text ending in ':' that
// an address completes ("fd00:12::"), gives the addresses whose last group
// runs from `from` to `to`, in canonical text ("fd00:12::1" ... "fd00:12::ff").
QStringList Range(const QString& net, int from, int to);

} // namespace AddressTexts
