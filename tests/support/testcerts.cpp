#include "tests/support/testcerts.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void require(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("making test certificates: ") + what);
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    require(ext && X509_add_ext(cert, ext, -1) == 1, "extension");
    X509_EXTENSION_free(ext);
}

// A certificate for `key` named `cn`, signed by issuer (itself when null).
Cert makeCert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuerKey, const char* san,
              long serial) {
    Cert cert(X509_new());
    require(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 2 * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                               -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (san) {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), signer, NID_subject_alt_name, san);
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    } else {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    require(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "sign");
    return cert;
}

Key makeKey() {
    Key key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key");
    return key;
}

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    require(f != nullptr, "open file");
    const bool ok = cert ? PEM_write_X509(f, cert) == 1
                         : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(f);
    require(ok, "write PEM");
}

} // namespace

TestCertificates::TestCertificates() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tds-certs-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_dir = tmpl;
    const Key caKey = makeKey(), otherKey = makeKey(), serverKeyPair = makeKey(),
              wrongKey = makeKey();
    const Cert ca = makeCert(caKey.get(), "tarnwick test CA", nullptr, nullptr, nullptr, 1);
    const Cert other = makeCert(otherKey.get(), "unrelated test CA", nullptr, nullptr, nullptr, 2);
    const Cert server = makeCert(serverKeyPair.get(), "localhost", ca.get(), caKey.get(),
                                 "DNS:localhost,IP:127.0.0.1", 3);
    const Cert wrong =
        makeCert(wrongKey.get(), "db.invalid", ca.get(), caKey.get(), "DNS:db.invalid", 4);
    caFile = m_dir + "/ca.pem";
    otherCaFile = m_dir + "/other-ca.pem";
    serverCert = m_dir + "/server.pem";
    serverKey = m_dir + "/server.key";
    wrongNameCert = m_dir + "/wrong-name.pem";
    wrongNameKey = m_dir + "/wrong-name.key";
    writePem(caFile, ca.get(), nullptr);
    writePem(otherCaFile, other.get(), nullptr);
    writePem(serverCert, server.get(), nullptr);
    writePem(serverKey, nullptr, serverKeyPair.get());
    writePem(wrongNameCert, wrong.get(), nullptr);
    writePem(wrongNameKey, nullptr, wrongKey.get());
}

TestCertificates::~TestCertificates() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::vector<std::string> TestCertificates::serverArgs(const std::string& encrypt,
                                                      bool wrongName) const {
    return {"--tls-cert", wrongName ? wrongNameCert : serverCert,
            "--tls-key",  wrongName ? wrongNameKey : serverKey,
            "--encrypt",  encrypt};
}
