#include "net/tls_reasons.h"

#include <array>

namespace vlt::net {

namespace {

struct CauseText {
    TlsCause cause;
    std::string_view text;
};

// OpenSSL's texts (X509_verify_cert_error_string) for the causes.
constexpr std::array kCauseTexts{
    CauseText{TlsCause::SelfSigned, "self-signed certificate"},
    CauseText{TlsCause::SelfSignedInChain, "self-signed certificate in certificate chain"},
    CauseText{TlsCause::UnknownIssuer, "unable to get local issuer certificate"},
    CauseText{TlsCause::NameMismatch, "hostname mismatch"},
    CauseText{TlsCause::Expired, "certificate has expired"},
    CauseText{TlsCause::Revoked, "certificate revoked"},
    CauseText{TlsCause::WrongPurpose, "unsuitable certificate purpose"},
};

template <typename Code>
struct CodeCause {
    Code code;
    TlsCause cause;
};

// X509_V_ERR_* values (OpenSSL's x509_vfy.h).
constexpr std::array kX509Causes{
    CodeCause<long>{10, TlsCause::Expired},            // CERT_HAS_EXPIRED
    CodeCause<long>{18, TlsCause::SelfSigned},         // DEPTH_ZERO_SELF_SIGNED_CERT
    CodeCause<long>{19, TlsCause::SelfSignedInChain},  // SELF_SIGNED_CERT_IN_CHAIN
    CodeCause<long>{20, TlsCause::UnknownIssuer},      // UNABLE_TO_GET_ISSUER_CERT_LOCALLY
    CodeCause<long>{23, TlsCause::Revoked},            // CERT_REVOKED
    CodeCause<long>{26, TlsCause::WrongPurpose},       // INVALID_PURPOSE
    CodeCause<long>{62, TlsCause::NameMismatch},       // HOSTNAME_MISMATCH
};

// Policy errors of the Windows check (winerror.h).
constexpr std::uint32_t kCertEUntrustedRoot = 0x800B0109;
constexpr std::uint32_t kCertEChaining = 0x800B010A;
constexpr std::array kPolicyCauses{
    CodeCause<std::uint32_t>{0x800B0101, TlsCause::Expired},       // CERT_E_EXPIRED
    CodeCause<std::uint32_t>{0x800B010F, TlsCause::NameMismatch},  // CERT_E_CN_NO_MATCH
    CodeCause<std::uint32_t>{0x80092010, TlsCause::Revoked},       // CRYPT_E_REVOKED
    CodeCause<std::uint32_t>{0x800B0110, TlsCause::WrongPurpose},  // CERT_E_WRONG_USAGE
    CodeCause<std::uint32_t>{0x800B0113, TlsCause::WrongPurpose},  // CERT_E_INVALID_POLICY
};

// Revocation that could not be checked: no failure. CERT_E_REVOCATION_FAILURE
// says the same when the chain has no other fault (wine gives it for a
// chain whose revocation is unknown and offline).
constexpr std::uint32_t kCertERevocationFailure = 0x800B010E;
// Revocation that could not be checked: no failure.
constexpr std::array<std::uint32_t, 2> kRevocationUnknown{
    0x80092012,  // CRYPT_E_NO_REVOCATION_CHECK
    0x80092013,  // CRYPT_E_REVOCATION_OFFLINE
};

// Chain trust bits (wincrypt.h), most telling first, for a policy error the
// table above does not name.
constexpr std::uint32_t kTrustIsPartialChain = 0x00010000;
constexpr std::uint32_t kTrustRevocationUnknown = 0x00000040;
constexpr std::uint32_t kTrustOfflineRevocation = 0x01000000;
constexpr std::array kTrustCauses{
    CodeCause<std::uint32_t>{0x00000004, TlsCause::Revoked},       // IS_REVOKED
    CodeCause<std::uint32_t>{0x00000001, TlsCause::Expired},       // IS_NOT_TIME_VALID
    CodeCause<std::uint32_t>{0x00000010, TlsCause::WrongPurpose},  // IS_NOT_VALID_FOR_USAGE
    CodeCause<std::uint32_t>{kTrustIsPartialChain, TlsCause::UnknownIssuer},
};

// An untrusted root reads as OpenSSL reads the same chain: the server's own
// certificate alone, a chain that reaches an untrusted root, or one whose
// issuer was not found at all.
TlsCause untrusted_root(const ChainCheck& check) {
    if ((check.trust_errors & kTrustIsPartialChain) != 0) return TlsCause::UnknownIssuer;
    if (check.length == 1) return TlsCause::SelfSigned;
    if (check.length > 1) return TlsCause::SelfSignedInChain;
    return TlsCause::UnknownIssuer;
}

}  // namespace

std::string_view tls_cause_text(TlsCause cause) {
    for (const CauseText& row : kCauseTexts) {
        if (row.cause == cause) return row.text;
    }
    return kTlsOtherFailure;
}

TlsCause tls_cause_of_x509_error(long verify_result) {
    for (const auto& row : kX509Causes) {
        if (row.code == verify_result) return row.cause;
    }
    return TlsCause::Other;
}

std::optional<TlsCause> tls_cause_of_chain(const ChainCheck& check) {
    const std::uint32_t error = check.policy_error;
    if (error == 0) return std::nullopt;
    for (std::uint32_t unknown : kRevocationUnknown) {
        if (error == unknown) return std::nullopt;
    }
    const std::uint32_t faults =
        check.trust_errors & ~(kTrustRevocationUnknown | kTrustOfflineRevocation);
    if (error == kCertERevocationFailure && faults == 0) return std::nullopt;
    if (error == kCertEUntrustedRoot) return untrusted_root(check);
    if (error == kCertEChaining) return TlsCause::UnknownIssuer;
    for (const auto& row : kPolicyCauses) {
        if (row.code == error) return row.cause;
    }
    for (const auto& row : kTrustCauses) {
        if ((faults & row.code) != 0) return row.cause;
    }
    return TlsCause::Other;
}

}  // namespace vlt::net
