#pragma once
// Throw-away certificates for TLS tests, made at start in a temporary folder
// that goes with the object: a certificate authority, a server certificate
// it signed for localhost and 127.0.0.1, one it signed for another name, and
// a second authority that signed nothing the servers show.

#include <string>
#include <vector>

class TestCertificates {
public:
    TestCertificates(); // throws std::runtime_error
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    std::string caFile;      // PEM of the authority that signed the server certificates
    std::string otherCaFile; // PEM of an authority that signed nothing here
    std::string serverCert;  // for DNS:localhost and IP:127.0.0.1
    std::string serverKey;
    std::string wrongNameCert; // for DNS:db.invalid only
    std::string wrongNameKey;

    // tds-testserver arguments: the server certificate (or the wrongly named
    // one) and the encryption policy ("off", "on", "required").
    std::vector<std::string> serverArgs(const std::string& encrypt, bool wrongName = false) const;

private:
    std::string m_dir;
};
