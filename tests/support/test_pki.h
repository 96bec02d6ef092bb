#pragma once
// Certificates for TLS tests, made with the openssl command in a fresh
// temporary folder: a test CA, a server certificate for localhost and
// 127.0.0.1 signed by it, one for another host name signed by it, and a
// self-signed one for localhost that no one trusts.

#include <optional>
#include <string>

#include "support/script_server.h"

namespace vlt::test {

struct TestPki {
    std::string folder;
    std::string ca_file;  // trust this (SSL_CERT_FILE) to accept `server`
    TlsFiles server;      // localhost, 127.0.0.1
    TlsFiles other_host;  // mail.other.test only
    TlsFiles untrusted;   // self-signed, localhost and 127.0.0.1
};

// nullopt when the openssl command is missing or fails; `why` says which.
std::optional<TestPki> make_test_pki(std::string* why = nullptr);

// Deletes the folder and everything in it.
void remove_test_pki(const TestPki& pki);

}  // namespace vlt::test
