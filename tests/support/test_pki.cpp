#include "support/test_pki.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vlt::test {
namespace {

bool run(const std::string& command, std::string* why) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    if (why != nullptr) *why = "failed: " + command;
    return false;
}

std::string shell_quoted(const std::string& path) {
    return "'" + path + "'";
}

// A P-256 key and a certificate request for `name`.
std::string new_request(const std::string& dir, const std::string& stem, const std::string& name) {
    return "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
           shell_quoted(dir + "/" + stem + ".key") + " -out " + shell_quoted(dir + "/" + stem + ".csr") +
           " -subj '/CN=" + name + "'";
}

std::string sign_with_ca(const std::string& dir, const std::string& stem,
                         const std::string& ext_file) {
    return "openssl x509 -req -days 2 -in " + shell_quoted(dir + "/" + stem + ".csr") + " -CA " +
           shell_quoted(dir + "/ca.pem") + " -CAkey " + shell_quoted(dir + "/ca.key") +
           " -CAcreateserial -out " + shell_quoted(dir + "/" + stem + ".pem") + " -extfile " +
           shell_quoted(ext_file);
}

bool write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

std::optional<TestPki> make_test_pki(std::string* why) {
    char pattern[] = "/tmp/vlt-pki-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        if (why != nullptr) *why = "cannot make a temporary folder";
        return std::nullopt;
    }
    TestPki pki;
    pki.folder = pattern;
    const std::string& d = pki.folder;
    pki.ca_file = d + "/ca.pem";
    pki.server = {d + "/server.pem", d + "/server.key"};
    pki.other_host = {d + "/other.pem", d + "/other.key"};
    pki.untrusted = {d + "/untrusted.pem", d + "/untrusted.key"};

    const std::string local_ext = d + "/local.ext";
    const std::string other_ext = d + "/other.ext";
    const std::string leaf = "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    const bool ok =
        write_file(local_ext, leaf + "subjectAltName=DNS:localhost,IP:127.0.0.1\n") &&
        write_file(other_ext, leaf + "subjectAltName=DNS:mail.other.test\n") &&
        run("openssl req -x509 -days 2 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -keyout " +
                shell_quoted(d + "/ca.key") + " -out " + shell_quoted(pki.ca_file) +
                " -subj '/CN=Vellumtide Test CA'"
                " -addext 'basicConstraints=critical,CA:TRUE'"
                " -addext 'keyUsage=critical,keyCertSign,cRLSign'",
            why) &&
        run(new_request(d, "server", "localhost"), why) &&
        run(sign_with_ca(d, "server", local_ext), why) &&
        run(new_request(d, "other", "mail.other.test"), why) &&
        run(sign_with_ca(d, "other", other_ext), why) &&
        run("openssl req -x509 -days 2 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -keyout " +
                shell_quoted(pki.untrusted.key_file) + " -out " + shell_quoted(pki.untrusted.cert_file) +
                " -subj '/CN=localhost' -addext 'subjectAltName=DNS:localhost,IP:127.0.0.1'",
            why);
    if (!ok) {
        remove_test_pki(pki);
        return std::nullopt;
    }
    return pki;
}

void remove_test_pki(const TestPki& pki) {
    std::error_code ignored;
    if (!pki.folder.empty()) std::filesystem::remove_all(pki.folder, ignored);
}

}  // namespace vlt::test
