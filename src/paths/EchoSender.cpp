#include "paths/EchoSender.h"

#include <utility>

namespace paths {

AsyncEchoSender::AsyncEchoSender() : FEcho(std::make_unique<platform::AsyncEcho>()) {}

void AsyncEchoSender::Send(const Target& target, const Options& options, Done done) {
    FEcho->Send(target, options, std::move(done));
}

} // namespace paths
