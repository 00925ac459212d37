// The peer's side of the road benchmark: the same operations as the
// library's side (bench/road_bench.cpp), on the same fixtures, by OpenSSL
// with Debian's GOST engine. This program links libcrypto only and loads
// the engine by its id; the library never shares a process with it.
//   road_peer_bench FIXTURES [benchmark options]
//   road_peer_bench --write-signed FIXTURES   (the signed fixtures)
// The engine's interfaces are deprecated in OpenSSL 3.0 but are the only
// way to load it.
#undef OPENSSL_SUPPRESS_DEPRECATED
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/peer/road_common.h"

namespace {

using road::Bytes;

std::string g_dir;

Bytes file(const std::string& name) { return road::read_fixture(g_dir, name); }

template <typename T>
T* pem(const std::string& name, T* (*read)(BIO*, T**, pem_password_cb*, void*)) {
    return road::read_pem_fixture(g_dir, name, read);
}

struct Fixtures {
    EVP_PKEY *signer_key, *recipient_key;
    X509 *root, *inter, *signer, *recipient;
    X509_CRL *root_crl, *inter_crl;
    Bytes content1k, content1m, enveloped1k, enveloped1m, signed1k, signed1m;
    bool ok;
};

const Fixtures& fx() {
    static const Fixtures f = [] {
        Fixtures m{};
        m.signer_key = pem("signer.key", PEM_read_bio_PrivateKey);
        m.recipient_key = pem("recipient.key", PEM_read_bio_PrivateKey);
        m.root = pem("root.pem", PEM_read_bio_X509);
        m.inter = pem("inter.pem", PEM_read_bio_X509);
        m.signer = pem("signer.pem", PEM_read_bio_X509);
        m.recipient = pem("recipient.pem", PEM_read_bio_X509);
        m.root_crl = pem("root.crl", PEM_read_bio_X509_CRL);
        m.inter_crl = pem("inter.crl", PEM_read_bio_X509_CRL);
        m.content1k = file("content1k");
        m.content1m = file("content1m");
        m.enveloped1k = file("enveloped1k.der");
        m.enveloped1m = file("enveloped1m.der");
        m.signed1k = file("signed1k.der");
        m.signed1m = file("signed1m.der");
        m.ok = m.signer_key && m.recipient_key && m.root && m.inter && m.signer && m.recipient &&
               m.root_crl && m.inter_crl && m.content1k.size() == 1024 &&
               m.content1m.size() == 1 << 20;
        return m;
    }();
    return f;
}

bool ready(benchmark::State& state, const Bytes* needed = nullptr) {
    if (fx().ok && (needed == nullptr || !needed->empty())) return true;
    state.SkipWithError("fixtures missing");
    return false;
}

// The signed message: attached content, signing time, the intermediate
// certificate and both CRLs.
Bytes sign(const Bytes& content) {
    const Fixtures& f = fx();
    BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    STACK_OF(X509)* certs = sk_X509_new_null();
    sk_X509_push(certs, f.inter);
    CMS_ContentInfo* cms =
        CMS_sign(f.signer, f.signer_key, certs, in, CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP);
    Bytes out;
    if (cms && CMS_add1_crl(cms, f.root_crl) && CMS_add1_crl(cms, f.inter_crl) &&
        CMS_final(cms, in, nullptr, CMS_BINARY)) {
        unsigned char* der = nullptr;
        const int n = i2d_CMS_ContentInfo(cms, &der);
        if (n > 0) out.assign(der, der + n);
        OPENSSL_free(der);
    }
    CMS_ContentInfo_free(cms);
    sk_X509_free(certs);
    BIO_free(in);
    return out;
}

X509_STORE* trust_with_crl_checks() {
    X509_STORE* s = X509_STORE_new();
    X509_STORE_add_cert(s, fx().root);
    X509_STORE_set_flags(s, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    return s;
}

bool verify(X509_STORE* store, const Bytes& msg, std::size_t content_size) {
    const unsigned char* p = msg.data();
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(msg.size()));
    BIO* out = BIO_new(BIO_s_mem());
    const bool ok = cms && CMS_verify(cms, nullptr, store, nullptr, out, CMS_BINARY) == 1 &&
                    BIO_pending(out) == static_cast<int>(content_size);
    BIO_free(out);
    CMS_ContentInfo_free(cms);
    return ok;
}

bool decrypt(const Bytes& msg, std::size_t content_size) {
    const unsigned char* p = msg.data();
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(msg.size()));
    BIO* out = BIO_new(BIO_s_mem());
    const bool ok =
        cms &&
        CMS_decrypt(cms, fx().recipient_key, fx().recipient, nullptr, out, CMS_BINARY) == 1 &&
        BIO_pending(out) == static_cast<int>(content_size);
    BIO_free(out);
    CMS_ContentInfo_free(cms);
    return ok;
}

void BM_Road_SignRaw(benchmark::State& state) {
    if (ready(state)) road::sign_raw(state, fx().signer_key);
}

void BM_Road_VerifyRaw(benchmark::State& state) {
    if (ready(state)) road::verify_raw(state, fx().signer_key);
}

void BM_Road_KeyAndRequest(benchmark::State& state) {
    if (!ready(state)) return;
    const EVP_MD* md = EVP_get_digestbyname("md_gost94");
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, nullptr);
        EVP_PKEY* key = nullptr;
        X509_REQ* req = X509_REQ_new();
        const bool ok =
            ctx && req && md && EVP_PKEY_keygen_init(ctx) == 1 &&
            EVP_PKEY_CTX_ctrl_str(ctx, "paramset", "A") > 0 && EVP_PKEY_keygen(ctx, &key) == 1 &&
            X509_NAME_add_entry_by_txt(X509_REQ_get_subject_name(req), "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>("Road Request"), -1,
                                       -1, 0) &&
            X509_REQ_set_pubkey(req, key) && X509_REQ_sign(req, key, md) > 0 &&
            i2d_X509_REQ(req, nullptr) > 0;
        if (!ok) state.SkipWithError("request failed");
        X509_REQ_free(req);
        EVP_PKEY_free(key);
        EVP_PKEY_CTX_free(ctx);
    }
}

// As the openssl command envelopes: the recipient added with its key
// parameters left to the engine (without CMS_KEY_PARAM the engine refuses
// a GOST recipient at once).
void BM_Road_Envelope1K(benchmark::State& state) {
    if (!ready(state)) return;
    const EVP_CIPHER* cipher = EVP_get_cipherbyname("gost89");
    for (auto _ : state) {
        BIO* in = BIO_new_mem_buf(fx().content1k.data(), 1024);
        CMS_ContentInfo* cms =
            cipher ? CMS_encrypt(nullptr, in, cipher, CMS_BINARY | CMS_PARTIAL) : nullptr;
        const bool ok =
            cms && CMS_add1_recipient_cert(cms, fx().recipient, CMS_BINARY | CMS_KEY_PARAM) &&
            CMS_final(cms, in, nullptr, CMS_BINARY) && i2d_CMS_ContentInfo(cms, nullptr) > 0;
        if (!ok) state.SkipWithError("encrypt failed");
        CMS_ContentInfo_free(cms);
        BIO_free(in);
    }
}

void BM_Road_Decrypt1K(benchmark::State& state) {
    if (!ready(state, &fx().enveloped1k)) return;
    for (auto _ : state)
        if (!decrypt(fx().enveloped1k, 1024)) state.SkipWithError("decrypt failed");
}

void BM_Road_SignedData1KSign(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state)
        if (sign(fx().content1k).empty()) state.SkipWithError("sign failed");
}

void BM_Road_SignedData1KVerify(benchmark::State& state) {
    if (!ready(state, &fx().signed1k)) return;
    X509_STORE* store = trust_with_crl_checks();
    for (auto _ : state)
        if (!verify(store, fx().signed1k, 1024)) state.SkipWithError("verify failed");
    X509_STORE_free(store);
}

void BM_Road_Chain3WithCrls(benchmark::State& state) {
    if (!ready(state)) return;
    X509_STORE* store = trust_with_crl_checks();
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    sk_X509_push(untrusted, fx().inter);
    STACK_OF(X509_CRL)* crls = sk_X509_CRL_new_null();
    sk_X509_CRL_push(crls, fx().root_crl);
    sk_X509_CRL_push(crls, fx().inter_crl);
    for (auto _ : state) {
        X509_STORE_CTX* ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, store, fx().signer, untrusted);
        X509_STORE_CTX_set0_crls(ctx, crls);
        if (X509_verify_cert(ctx) != 1) state.SkipWithError("chain failed");
        X509_STORE_CTX_free(ctx);
    }
    sk_X509_CRL_free(crls);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
}

void BM_Road_SignedData1MVerify(benchmark::State& state) {
    if (!ready(state, &fx().signed1m)) return;
    X509_STORE* store = trust_with_crl_checks();
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

bool load_engine() {
    // The cipher's S-boxes: the CryptoPro A set, as the library's messages.
    setenv("CRYPT_PARAMS", "id-Gost28147-89-CryptoPro-A-ParamSet", 1);
    ENGINE_load_builtin_engines();
    ENGINE* e = ENGINE_by_id("gost");
    if (e == nullptr || !ENGINE_init(e) || !ENGINE_set_default(e, ENGINE_METHOD_ALL)) {
        std::fprintf(stderr, "road_peer_bench: the gost engine does not load\n");
        ERR_print_errors_fp(stderr);
        return false;
    }
    ENGINE_free(e);
    return true;
}

bool write_signed() {
    for (const char* size : {"1k", "1m"}) {
        const Bytes content = file(std::string("content") + size);
        const Bytes msg = fx().ok ? sign(content) : Bytes{};
        if (msg.empty()) return false;
        std::ofstream(g_dir + "/signed" + size + ".der", std::ios::binary)
            .write(reinterpret_cast<const char*>(msg.data()),
                   static_cast<std::streamsize>(msg.size()));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool writing = argc >= 3 && std::strcmp(argv[1], "--write-signed") == 0;
    if (argc < 2 || (argv[1][0] == '-' && !writing)) {
        std::fprintf(stderr, "usage: %s FIXTURES [benchmark options] | --write-signed FIXTURES\n",
                     argv[0]);
        return 2;
    }
    g_dir = writing ? argv[2] : argv[1];
    if (!load_engine()) return 1;
    if (writing) return write_signed() ? 0 : 1;
    argv[1] = argv[0];
    --argc;
    ++argv;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
