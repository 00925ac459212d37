// The library's side of the road benchmark: the operations of enrolment and
// of exchanging messages, on fixtures the peer (the openssl command with
// Debian's GOST engine) made, so that bench/peer/road_peer_bench.cpp does
// the same work on the same bytes in a process of its own;
// bench/peer/side_by_side runs both and sets the times side by side.
#include <benchmark/benchmark.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "bench/peer/road_common.h"
#include "crypto/cms/cms.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/x509/cert_verify.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

using road::Bytes;

const std::string kDir = CADB_ROAD_FIXTURES_DIR;

Bytes file(const std::string& name) { return road::read_fixture(kDir, name); }

template <typename T>
T* pem(const std::string& name, T* (*read)(BIO*, T**, pem_password_cb*, void*)) {
    return road::read_pem_fixture(kDir, name, read);
}

// Kept for the process, as the peer's side keeps its own.
struct Fixtures {
    EVP_PKEY *signer_key, *recipient_key;
    X509 *root, *inter, *signer;
    PKEY *signer_rec, *recipient_rec;
    CERT *signer_cert, *recipient_cert, *inter_cert;
    CRL *root_crl, *inter_crl;
    Bytes content1k, enveloped1k, enveloped1m, signed1k, signed1m;
    bool ok;
};

const Fixtures& fx() {
    static const Fixtures f = [] {
        ENGINE_load_cadb();
        RAND_set_rand_method(&testing::kKernelSource);
        Fixtures m{};
        m.signer_key = pem("signer.key", PEM_read_bio_PrivateKey);
        m.recipient_key = pem("recipient.key", PEM_read_bio_PrivateKey);
        m.root = pem("root.pem", PEM_read_bio_X509);
        m.inter = pem("inter.pem", PEM_read_bio_X509);
        m.signer = pem("signer.pem", PEM_read_bio_X509);
        X509* recipient = pem("recipient.pem", PEM_read_bio_X509);
        X509_CRL* root_crl = pem("root.crl", PEM_read_bio_X509_CRL);
        X509_CRL* inter_crl = pem("inter.crl", PEM_read_bio_X509_CRL);
        if (m.signer_key && m.recipient_key && m.root && m.inter && m.signer && recipient &&
            root_crl && inter_crl) {
            m.signer_rec = PKEY_split(m.signer_key);
            m.recipient_rec = PKEY_split(m.recipient_key);
            m.signer_cert = CERT_split(m.signer);
            m.recipient_cert = CERT_split(recipient);
            m.inter_cert = CERT_split(m.inter);
            m.root_crl = CRL_split(root_crl);
            m.inter_crl = CRL_split(inter_crl);
        }
        X509_free(recipient);
        X509_CRL_free(root_crl);
        X509_CRL_free(inter_crl);
        m.content1k = file("content1k");
        m.enveloped1k = file("enveloped1k.der");
        m.enveloped1m = file("enveloped1m.der");
        m.signed1k = file("signed1k.der");
        m.signed1m = file("signed1m.der");
        m.ok = m.signer_rec && m.recipient_rec && m.signer_cert && m.recipient_cert &&
               m.inter_cert && m.root_crl && m.inter_crl && m.content1k.size() == 1024;
        return m;
    }();
    return f;
}

bool ready(benchmark::State& state, const Bytes* needed = nullptr) {
    if (fx().ok && (needed == nullptr || !needed->empty())) return true;
    state.SkipWithError("fixtures missing: build the bench_fixtures target");
    return false;
}

bool content_of(CMS* cms, std::size_t size) {
    BUFFER* b = CMS_get_content(cms);
    const bool ok = b != nullptr && static_cast<std::size_t>(b->length) == size;
    BUFFER_free(b);
    return ok;
}

bool verify(X509_STORE* store, const Bytes& msg, std::size_t content_size) {
    CmsPtr cms(CMS_new());
    if (!cms || !CMS_update(cms.get(), msg.data(), static_cast<int>(msg.size()), 0) ||
        CMS_get_type(cms.get()) != 22 || !CMS_verify(cms.get(), store, nullptr, 0))
        return false;
    for (int i = 0; i < sk_CMS_SIGNATURE_num(cms->signatures); ++i) {
        const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(cms->signatures, i);
        if (s->chain_result != 1 || s->signature_result != 1) return false;
    }
    return sk_CMS_SIGNATURE_num(cms->signatures) == 1 && content_of(cms.get(), content_size);
}

bool decrypt(const Bytes& msg, std::size_t content_size) {
    CmsPtr cms(CMS_new());
    return cms && CMS_update(cms.get(), msg.data(), static_cast<int>(msg.size()), 0) &&
           CMS_get_type(cms.get()) == 23 &&
           CMS_set_recipient_key(cms.get(), fx().recipient_rec, fx().recipient_cert) &&
           CMS_decrypt(cms.get()) && content_of(cms.get(), content_size);
}

X509_STORE* trust() {
    X509_STORE* s = X509_STORE_new();
    X509_STORE_add_cert(s, fx().root);
    return s;
}

void BM_Road_SignRaw(benchmark::State& state) {
    if (ready(state)) road::sign_raw(state, fx().signer_key);
}

void BM_Road_VerifyRaw(benchmark::State& state) {
    if (ready(state)) road::verify_raw(state, fx().signer_key);
}

void BM_Road_KeyAndRequest(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(OBJ_nid2openssl(NID_ECR3410_CP), nullptr);
        EVP_PKEY* key = nullptr;
        X509_REQ* req = X509_REQ_new();
        const bool ok = ctx && req && EVP_PKEY_keygen_init(ctx) == 1 &&
                        EVP_PKEY_CTX_ctrl(ctx, -1, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_GOST_PARAMSET,
                                          NID_R3410_2001_A_PARAMSET, nullptr) > 0 &&
                        EVP_PKEY_keygen(ctx, &key) == 1 &&
                        X509_NAME_add_entry_by_txt(
                            X509_REQ_get_subject_name(req), "CN", MBSTRING_UTF8,
                            reinterpret_cast<const unsigned char*>("Road Request"), -1, -1, 0) &&
                        X509_REQ_set_pubkey(req, key) &&
                        X509_REQ_sign(req, key, EVP_r3411_with_ecr3410_cp()) > 0 &&
                        i2d_X509_REQ(req, nullptr) > 0;
        if (!ok) state.SkipWithError("request failed");
        X509_REQ_free(req);
        EVP_PKEY_free(key);
        EVP_PKEY_CTX_free(ctx);
    }
}

void BM_Road_Envelope1K(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        CmsPtr cms(CMS_new());
        const bool ok =
            cms && CMS_set_type(cms.get(), 23, 0) && CMS_set_cipher(cms.get(), NID_RUS_GAMMAR_CP) &&
            CMS_add_recipient(cms.get(), fx().recipient_cert, -1) &&
            CMS_update_data(cms.get(), fx().content1k.data(), 1024) && CMS_final(cms.get());
        BUFFER* out = ok ? CMS_get(cms.get(), 1) : nullptr;
        if (out == nullptr) state.SkipWithError("encrypt failed");
        BUFFER_free(out);
    }
}

void BM_Road_Decrypt1K(benchmark::State& state) {
    if (!ready(state, &fx().enveloped1k)) return;
    for (auto _ : state)
        if (!decrypt(fx().enveloped1k, 1024)) state.SkipWithError("decrypt failed");
}

void BM_Road_SignedData1KSign(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        CmsPtr cms(CMS_new());
        const bool ok =
            cms && CMS_set_type(cms.get(), 22, CMS_OPT_SIGNING_TIME) &&
            CMS_add_signature(cms.get(), fx().signer_cert, fx().signer_rec, NID_RUS_HASH_CP) &&
            CMS_add_cert(cms.get(), fx().inter_cert) && CMS_add_crl(cms.get(), fx().root_crl) &&
            CMS_add_crl(cms.get(), fx().inter_crl) &&
            CMS_update_data(cms.get(), fx().content1k.data(), 1024) && CMS_final(cms.get());
        BUFFER* out = ok ? CMS_get(cms.get(), 1) : nullptr;
        if (out == nullptr) state.SkipWithError("sign failed");
        BUFFER_free(out);
    }
}

void BM_Road_SignedData1KVerify(benchmark::State& state) {
    if (!ready(state, &fx().signed1k)) return;
    X509_STORE* store = trust();
    for (auto _ : state)
        if (!verify(store, fx().signed1k, 1024)) state.SkipWithError("verify failed");
    X509_STORE_free(store);
}

void BM_Road_Chain3WithCrls(benchmark::State& state) {
    if (!ready(state)) return;
    X509_STORE* store = trust();
    STACK_OF(CERT)* untrusted = sk_CERT_new_null();
    sk_CERT_push(untrusted, fx().inter_cert);
    STACK_OF(CRL)* crls = sk_CRL_new_null();
    sk_CRL_push(crls, fx().root_crl);
    sk_CRL_push(crls, fx().inter_crl);
    for (auto _ : state)
        if (CERT_verify(fx().signer_cert, store, untrusted, crls, nullptr, 0) != 1)
            state.SkipWithError("chain failed");
    sk_CRL_free(crls);
    sk_CERT_free(untrusted);
    X509_STORE_free(store);
}

void BM_Road_SignedData1MVerify(benchmark::State& state) {
    if (!ready(state, &fx().signed1m)) return;
    X509_STORE* store = trust();
    for (auto _ : state)
        if (!verify(store, fx().signed1m, 1 << 20)) state.SkipWithError("verify failed");
    X509_STORE_free(store);
}

void BM_Road_Decrypt1M(benchmark::State& state) {
    if (!ready(state, &fx().enveloped1m)) return;
    for (auto _ : state)
        if (!decrypt(fx().enveloped1m, 1 << 20)) state.SkipWithError("decrypt failed");
}

ROAD_BENCHMARKS();

}  // namespace
}  // namespace cadb
