// Self-signed certificates for the loopback servers, made fresh at start so that nothing
// secret lives in the repository. The one maker for the catalogue server and the
// recording test server alike.
#pragma once

#include <chrono>
#include <memory>
#include <string>

// OpenSSL's EVP_PKEY and X509.
struct evp_pkey_st;
struct x509_st;

namespace newsbar::loopback {

struct CertificateTerms {
  std::string commonName = "127.0.0.1";
  // subjectAltName in OpenSSL's configuration syntax.
  std::string altNames = "IP:127.0.0.1,DNS:localhost";
  // The validity, relative to now (an expired certificate ends in the past).
  std::chrono::seconds notBefore = -std::chrono::hours(1);
  std::chrono::seconds notAfter = std::chrono::hours(30 * 24);
};

struct KeyFree {
  void operator()(evp_pkey_st* key) const;
};
struct CertFree {
  void operator()(x509_st* cert) const;
};

// A P-256 key and the certificate it signed; both null when OpenSSL failed at any step.
struct Certificate {
  std::unique_ptr<evp_pkey_st, KeyFree> key;
  std::unique_ptr<x509_st, CertFree> cert;

  explicit operator bool() const { return key && cert; }
  // The certificate as PEM text; empty when there is none.
  std::string Pem() const;
};

Certificate MakeCertificate(const CertificateTerms& terms = {});

}  // namespace newsbar::loopback
