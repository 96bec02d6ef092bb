#include <string>

#include "net/error_texts.h"
#include "net/tls.h"

namespace vlt::net {

// This build has no TLS implementation: the handshake fails before a byte of
// it is sent, and no channel is ever made.
struct TlsChannel::State {};

TlsChannel::TlsChannel(std::unique_ptr<State> state) : m_state(std::move(state)) {}

TlsChannel::~TlsChannel() = default;

Result<std::unique_ptr<TlsChannel>> TlsChannel::handshake(SocketHandle, std::string_view,
                                                          std::chrono::milliseconds) {
    return Error(ErrorKind::Tls, std::string(kTlsFailurePrefix) + std::string(kTlsUnavailable));
}

IoResult TlsChannel::receive_some(char*, std::size_t, SteadyClock::time_point) {
    return IoResult::failed(kWsaEnotsock);
}

IoResult TlsChannel::send_all(std::string_view, std::chrono::milliseconds) {
    return IoResult::failed(kWsaEnotsock);
}

void TlsChannel::shutdown() {}

}  // namespace vlt::net
