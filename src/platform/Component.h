#pragma once

class QObject;

namespace platform {

// A component placed on a form that is being designed only stores its
// properties; it starts no services. The flag is inherited from the owner
// chain: an owner whose dynamic property "csDesigning" is true marks all the
// components it owns.
bool IsDesigning(const QObject* component);
void SetDesigning(QObject* owner, bool designing);

} // namespace platform
