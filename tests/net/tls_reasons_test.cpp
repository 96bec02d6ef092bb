#include "net/tls_reasons.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vlt::net {
namespace {

// Status values as the Windows certificate check reports them.
constexpr std::uint32_t kUntrustedRoot = 0x800B0109;  // CERT_E_UNTRUSTEDROOT
constexpr std::uint32_t kChaining = 0x800B010A;       // CERT_E_CHAINING
constexpr std::uint32_t kNameMismatch = 0x800B010F;   // CERT_E_CN_NO_MATCH
constexpr std::uint32_t kExpired = 0x800B0101;        // CERT_E_EXPIRED
constexpr std::uint32_t kRevoked = 0x80092010;        // CRYPT_E_REVOKED
constexpr std::uint32_t kWrongUsage = 0x800B0110;     // CERT_E_WRONG_USAGE
constexpr std::uint32_t kNoRevocationCheck = 0x80092012;
constexpr std::uint32_t kRevocationOffline = 0x80092013;
constexpr std::uint32_t kRevocationFailure = 0x800B010E;  // CERT_E_REVOCATION_FAILURE
constexpr std::uint32_t kTrustPartialChain = 0x00010000;
constexpr std::uint32_t kTrustUntrustedRoot = 0x00000020;
constexpr std::uint32_t kTrustRevocationUnknown = 0x00000040;
constexpr std::uint32_t kTrustRevoked = 0x00000004;
constexpr std::uint32_t kTrustOffline = 0x01000000;

struct ChainCase {
    const char* name;
    ChainCheck check;
    const char* reason;  // nullptr: accepted
};

class ChainReason : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainReason, ReadsAsTheOpenSslBuildWouldReport) {
    const ChainCase& c = GetParam();
    const std::optional<TlsCause> cause = tls_cause_of_chain(c.check);
    if (c.reason == nullptr) {
        EXPECT_FALSE(cause.has_value());
    } else {
        ASSERT_TRUE(cause.has_value());
        EXPECT_EQ(std::string(tls_cause_text(*cause)), c.reason);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ChainReason,
    ::testing::Values(
        ChainCase{"Accepted", {0, 0, 2}, nullptr},
        ChainCase{"RevocationUnknown", {kNoRevocationCheck, kTrustRevocationUnknown, 2}, nullptr},
        ChainCase{"RevocationOffline", {kRevocationOffline, kTrustOffline, 2}, nullptr},
        ChainCase{"RevocationFailureOnlyUnknown",
                  {kRevocationFailure, kTrustRevocationUnknown | kTrustOffline, 2},
                  nullptr},
        ChainCase{"RevocationFailureOfARevokedChain",
                  {kRevocationFailure, kTrustRevoked | kTrustRevocationUnknown, 2},
                  "certificate revoked"},
        ChainCase{"SelfSignedServer",
                  {kUntrustedRoot, kTrustUntrustedRoot, 1},
                  "self-signed certificate"},
        ChainCase{"UntrustedRootInChain",
                  {kUntrustedRoot, kTrustUntrustedRoot, 2},
                  "self-signed certificate in certificate chain"},
        ChainCase{"IssuerNotFound",
                  {kUntrustedRoot, kTrustUntrustedRoot | kTrustPartialChain, 1},
                  "unable to get local issuer certificate"},
        ChainCase{"Chaining",
                  {kChaining, kTrustPartialChain, 1},
                  "unable to get local issuer certificate"},
        ChainCase{"WrongName", {kNameMismatch, 0, 2}, "hostname mismatch"},
        ChainCase{"Expired", {kExpired, 1, 2}, "certificate has expired"},
        ChainCase{"Revoked", {kRevoked, kTrustRevoked, 2}, "certificate revoked"},
        ChainCase{"WrongUsage", {kWrongUsage, 0x10, 2}, "unsuitable certificate purpose"},
        // An unnamed policy error falls back to the chain's own fault bits,
        // and revocation that could not be checked is not one of them.
        ChainCase{
            "UnnamedErrorRevokedChain", {0x800B0100, kTrustRevoked, 2}, "certificate revoked"},
        ChainCase{"UnnamedErrorOnlyRevocationUnknown",
                  {0x800B0100, kTrustRevocationUnknown | kTrustOffline, 2},
                  "TLS handshake failed"},
        ChainCase{"Unknown", {0x80004005, 0, 2}, "TLS handshake failed"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::net
