#include "catalogue_server/certificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace newsbar::loopback {

namespace {

template <auto Free>
struct OpenSslFree {
  template <class T>
  void operator()(T* handle) const {
    Free(handle);
  }
};
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;

}  // namespace

void KeyFree::operator()(evp_pkey_st* key) const {
  EVP_PKEY_free(key);
}

void CertFree::operator()(x509_st* cert) const {
  X509_free(cert);
}

std::string Certificate::Pem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!cert || !bio || PEM_write_bio_X509(bio.get(), cert.get()) != 1) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

Certificate MakeCertificate(const CertificateTerms& terms) {
  Certificate made;
  made.key.reset(EVP_EC_gen("P-256"));
  made.cert.reset(X509_new());
  BignumPtr serial(BN_new());
  if (!made || !serial) return {};
  X509* cert = made.cert.get();

  bool ok = X509_set_version(cert, X509_VERSION_3) == 1 &&
            BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) != nullptr &&
            X509_gmtime_adj(X509_getm_notBefore(cert), terms.notBefore.count()) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(cert), terms.notAfter.count()) != nullptr &&
            X509_set_pubkey(cert, made.key.get()) == 1;
  X509_NAME* name = X509_get_subject_name(cert);
  auto addName = [name](const char* field, const char* value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(value), -1, -1,
                                      0) == 1;
  };
  ok = ok && addName("O", "newsbar loopback") && addName("CN", terms.commonName.c_str()) &&
       X509_set_issuer_name(cert, name) == 1;
  if (!ok) return {};

  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  const std::pair<int, const char*> extensions[] = {
      {NID_basic_constraints, "critical,CA:FALSE"},
      {NID_subject_alt_name, terms.altNames.c_str()},
  };
  for (const auto& [nid, value] : extensions) {
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || X509_add_ext(cert, extension.get(), -1) != 1) return {};
  }
  if (X509_sign(cert, made.key.get(), EVP_sha256()) <= 0) return {};
  return made;
}

}  // namespace newsbar::loopback
