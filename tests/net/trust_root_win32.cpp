// A test helper for the Windows build: makes a test root certificate trusted
// by adding it to the current user's ROOT store, as a deployed company root
// would be. Older certificates with the same subject are removed first, so
// that each test run trusts only its own test CA.
//
//   vlt_trust_root CA.pem
//
// Exit status 0 when the certificate is in the store, 1 otherwise.

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "vlt_trust_root: %s (error %lu)\n", what, GetLastError());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vlt_trust_root CA.pem\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (pem.empty()) return fail("cannot read the certificate file");

    DWORD size = 0;
    const DWORD length = static_cast<DWORD>(pem.size());
    if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
        return fail("not a PEM certificate");
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr)) {
        return fail("not a PEM certificate");
    }
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    if (certificate == nullptr) return fail("not a certificate");

    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (store == nullptr) return fail("cannot open the ROOT store");

    // Earlier test CAs of the same name go: CertDeleteCertificateFromStore
    // frees the context it is given, so the search starts over each time.
    for (;;) {
        PCCERT_CONTEXT old =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                       &certificate->pCertInfo->Subject, nullptr);
        if (old == nullptr) break;
        if (!CertDeleteCertificateFromStore(old)) break;
    }
    const BOOL added = CertAddCertificateContextToStore(store, certificate,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertFreeCertificateContext(certificate);
    CertCloseStore(store, 0);
    return added ? 0 : fail("cannot add the certificate");
}
