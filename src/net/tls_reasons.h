#pragma once
// The reasons a refused TLS connection gives, shared by both TLS builds so
// that a refusal reads the same on every system.
//
// A refusal is kTlsFailurePrefix (tls.h) followed by one reason. For the
// certificate faults a user can act on, the reason is OpenSSL's own text for
// that fault, on Windows too; any other cause gives one fixed English phrase
// of ours, never a system message in the system's language.
//
// The OpenSSL build keys the table by X509 verification results, the
// Windows build by the status of its certificate check: the error of
// CertVerifyCertificateChainPolicy (CERT_E_*, CRYPT_E_*) and the chain's
// trust status bits (CERT_TRUST_*). Both are plain numbers here, so the
// table is the same data on every system. Pure functions; nothing fails.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vlt::net {

// The certificate faults a refusal names.
enum class TlsCause {
    SelfSigned,         // the server's own certificate signs itself
    SelfSignedInChain,  // the chain ends in a root that is not trusted
    UnknownIssuer,      // no trusted issuer of the chain was found
    NameMismatch,       // the certificate does not name the host
    Expired,
    Revoked,
    WrongPurpose,  // not a certificate for a TLS server
    Other,
};

// The reason text for `cause` (OpenSSL's wording; kTlsOtherFailure for Other).
std::string_view tls_cause_text(TlsCause cause);

// The reason for any cause that is not a certificate fault of the table.
inline constexpr std::string_view kTlsOtherFailure = "TLS handshake failed";
// The reason for a server that closed the connection during the handshake.
inline constexpr std::string_view kTlsClosed = "connection closed by the server";
// The reason for a handshake that did not end within its limit.
inline constexpr std::string_view kTlsTimedOut = "handshake timed out";

// The cause behind an X509 verification result (X509_V_ERR_*); Other when
// the table has no row for it.
TlsCause tls_cause_of_x509_error(long verify_result);

// What the Windows certificate check found.
struct ChainCheck {
    std::uint32_t policy_error = 0;  // CertVerifyCertificateChainPolicy's dwError
    std::uint32_t trust_errors = 0;  // the chain's TrustStatus.dwErrorStatus
    std::size_t length = 0;          // certificates in the chain, the server's first
};

// The cause of a failed check, or nothing when the certificate is accepted.
// A revocation status that is unknown or offline is no failure, nor is a
// revocation failure (CERT_E_REVOCATION_FAILURE) of a chain with no other
// fault.
std::optional<TlsCause> tls_cause_of_chain(const ChainCheck& check);

}  // namespace vlt::net
