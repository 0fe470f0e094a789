#include "ProgramSignature.h"

#include <climits>
#include <memory>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace programsignature {

namespace {

template <auto Free> struct Freeing {
    template <typename T> void operator()(T* object) const { Free(object); }
};
template <typename T, auto Free> using Owned = std::unique_ptr<T, Freeing<Free>>;

using Bio = Owned<BIO, BIO_free>;
using Cms = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using Certificate = Owned<X509, X509_free>;
using Store = Owned<X509_STORE, X509_STORE_free>;
// The stack only: its certificates belong to the signature.
void freeStack(STACK_OF(X509) * certificates) {
    sk_X509_free(certificates);
}
using Signers = Owned<STACK_OF(X509), freeStack>;

// A source of the bytes a ContentReader hands out, for the digest to read.
int readContent(BIO* bio, char* into, int size) {
    auto* content = static_cast<const ContentReader*>(BIO_get_data(bio));
    long got = size > 0 ? (*content)(into, std::size_t(size)) : 0;
    return got > size ? -1 : int(got);
}

long controlContent(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int startContent(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* contentMethod() {
    static const BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "content");
        if (made && (BIO_meth_set_read(made, readContent) != 1 ||
                     BIO_meth_set_ctrl(made, controlContent) != 1 ||
                     BIO_meth_set_create(made, startContent) != 1)) {
            BIO_meth_free(made);
            made = nullptr;
        }
        return made;
    }();
    return method;
}

Bio contentSource(const ContentReader& content) {
    Bio bio(contentMethod() ? BIO_new(contentMethod()) : nullptr);
    if (bio)
        BIO_set_data(bio.get(), const_cast<ContentReader*>(&content));
    return bio;
}

Bio readOnly(std::string_view bytes) {
    return Bio(bytes.size() <= INT_MAX ? BIO_new_mem_buf(bytes.data(), int(bytes.size()))
                                       : nullptr);
}

Store storeOf(std::string_view anchorPem) {
    Bio text = readOnly(anchorPem);
    Certificate anchor(text ? PEM_read_bio_X509(text.get(), nullptr, nullptr, nullptr) : nullptr);
    Store store(X509_STORE_new());
    if (!anchor || !store || X509_STORE_add_cert(store.get(), anchor.get()) != 1 ||
        X509_STORE_set_flags(store.get(), X509_V_FLAG_NO_CHECK_TIME) != 1 ||
        X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY) != 1)
        return nullptr;
    return store;
}

std::string organizationalUnit(X509* certificate) {
    const X509_NAME* subject = X509_get_subject_name(certificate);
    int found = X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, -1);
    if (found < 0 || X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, found) >= 0)
        return {};
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, found));
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                       std::size_t(ASN1_STRING_length(value)));
}

// A string extension gives its text; any other, the empty text.
std::string fieldValue(const X509_EXTENSION* extension) {
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(extension));
    const unsigned char* at = ASN1_STRING_get0_data(data);
    Owned<ASN1_TYPE, ASN1_TYPE_free> value(d2i_ASN1_TYPE(nullptr, &at, ASN1_STRING_length(data)));
    if (!value || (value->type != V_ASN1_UTF8STRING && value->type != V_ASN1_IA5STRING &&
                   value->type != V_ASN1_PRINTABLESTRING))
        return {};
    const ASN1_STRING* text = value->value.asn1_string;
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       std::size_t(ASN1_STRING_length(text)));
}

std::optional<Signer> signerOf(X509* certificate) {
    if (!(X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) ||
        !(X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN))
        return std::nullopt;
    Signer signer{organizationalUnit(certificate), {}};
    for (int i = 0; i < X509_get_ext_count(certificate); ++i) {
        const X509_EXTENSION* extension = X509_get_ext(certificate, i);
        char oid[128];
        int length = OBJ_obj2txt(
            oid, sizeof oid, X509_EXTENSION_get_object(const_cast<X509_EXTENSION*>(extension)), 1);
        if (length <= 0 || std::size_t(length) >= sizeof oid)
            return std::nullopt;
        signer.fields.emplace("field." + std::string(oid, std::size_t(length)),
                              fieldValue(extension));
    }
    return signer;
}

std::optional<Signer> verifyOrFail(const ContentReader& content, std::string_view signature,
                                   std::string_view anchor) {
    if (signature.size() > LONG_MAX)
        return std::nullopt;
    const auto* at = reinterpret_cast<const unsigned char*>(signature.data());
    Cms cms(d2i_CMS_ContentInfo(nullptr, &at, long(signature.size())));
    // Nothing may follow the signature, and only one signer may speak for the program.
    if (!cms || at != reinterpret_cast<const unsigned char*>(signature.data() + signature.size()) ||
        sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1)
        return std::nullopt;
    Store store = storeOf(anchor);
    Bio data = contentSource(content);
    if (!store || !data ||
        CMS_verify(cms.get(), nullptr, store.get(), data.get(), nullptr, CMS_BINARY) != 1)
        return std::nullopt;
    Signers signers(CMS_get0_signers(cms.get()));
    if (!signers || sk_X509_num(signers.get()) != 1)
        return std::nullopt;
    return signerOf(sk_X509_value(signers.get(), 0));
}

} // namespace

std::optional<Signer> verify(const ContentReader& content, std::string_view signature,
                             std::string_view anchor) {
    // No configuration file: one named in the environment could load modules into us.
    static const bool initialised =
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    if (!initialised)
        return std::nullopt;
    auto signer = verifyOrFail(content, signature, anchor);
    // What failed is of no use to us, and must not pile up in the thread's error queue.
    ERR_clear_error();
    return signer;
}

} // namespace programsignature
