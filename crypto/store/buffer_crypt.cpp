#include "crypto/store/buffer_crypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "crypto/cadb/buffer_der.h"
#include "crypto/cadb/buffer_zlib.h"
#include "crypto/cadb/passwd.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/core/pbkdf2.h"
#include "crypto/pkcs7/p7_ber.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

using Bytes = std::span<const unsigned char>;

constexpr int kIvLen = 8;
constexpr int kMaxKeyLen = 32;
constexpr unsigned char kZeroSalt[8] = {};
constexpr const char* kPemLabel = "PKCS7";
constexpr int NID_DES_EDE3_CBC = 44;
constexpr int NID_DATA = 21;
constexpr int NID_DIGESTED_DATA = 25;
constexpr int NID_ENCRYPTED_DATA = 26;

// The two ciphers of the format and the PRF their keys are derived with.
struct CipherChoice {
    int nid;
    const EVP_CIPHER* cipher;
    const EVP_MD* prf;
};

std::optional<CipherChoice> cipher_of(int nid) {
    if (nid == NID_DES_EDE3_CBC) return CipherChoice{nid, EVP_des_ede3_cbc(), EVP_sha1()};
    if (nid == NID_RUS_GAMMAR) return CipherChoice{nid, EVP_rus_gammar(), EVP_rus_hash()};
    return std::nullopt;
}

// The derived key's work area, zeroed on every exit.
struct KeyArea {
    unsigned char k[kMaxKeyLen] = {};
    ~KeyArea() { OPENSSL_cleanse(k, sizeof k); }
};

bool derive_key(const CipherChoice& c, Bytes passwd, int iterations, KeyArea& key) {
    const int len = EVP_CIPHER_get_key_length(c.cipher);
    if (len <= 0 || len > kMaxKeyLen) return false;
    const unsigned long count = iterations > 0
                                    ? static_cast<unsigned long>(iterations)
                                    : static_cast<unsigned long>(kPasswdDefaultIterations);
    return pbkdf2_hmac(c.prf, passwd.data(), passwd.size(), kZeroSalt, sizeof kZeroSalt, count,
                       key.k, static_cast<std::size_t>(len));
}

bool run_cipher(const CipherChoice& c, const KeyArea& key, const unsigned char* iv, int enc,
                Bytes in, SecureBytes& out) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx || in.size() > INT_MAX - 64 ||
        !EVP_CipherInit_ex(ctx.get(), c.cipher, nullptr, key.k, iv, enc))
        return false;
    const std::size_t start = out.size();
    std::span<unsigned char> room =
        out.extend(in.size() + static_cast<std::size_t>(EVP_CIPHER_get_block_size(c.cipher)));
    int n = 0;
    int tail = 0;
    const bool ok =
        EVP_CipherUpdate(ctx.get(), room.data(), &n, in.data(), static_cast<int>(in.size())) &&
        EVP_CipherFinal_ex(ctx.get(), room.data() + n, &tail);
    out.resize_down(ok ? start + static_cast<std::size_t>(n + tail) : start);
    return ok;
}

// ---- writing ------------------------------------------------------------

bool put_small_int(SecureBytes& out, unsigned char v) {
    return der_put(out, DER_INTEGER, Bytes(&v, 1));
}

bool put_oid(SecureBytes& out, int nid) {
    const Bytes oid = der_oid(nid);
    return !oid.empty() && der_put(out, DER_OID, oid);
}

// SEQUENCE { type, [0] EXPLICIT body } where body is one encoded element.
bool put_message(SecureBytes& out, int type_nid, Bytes body) {
    SecureBytes wrapped;
    SecureBytes seq;
    return der_put(wrapped, DER_CONTEXT_0_CONS, body) && put_oid(seq, type_nid) &&
           (seq.append(wrapped.view()), true) && der_put(out, DER_SEQUENCE, seq.view());
}

bool digested_message(Bytes data, SecureBytes& out) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    if (!EVP_Digest(data.data(), data.size(), digest, &digest_len, EVP_rus_hash(), nullptr))
        return false;

    SecureBytes alg_body;
    SecureBytes octets;
    SecureBytes data_info;
    SecureBytes body;
    SecureBytes seq;
    const bool ok =
        put_oid(alg_body, NID_RUS_HASH) && der_put(alg_body, DER_NULL, {}) &&
        der_put(octets, DER_OCTET_STRING, data) &&
        put_message(data_info, NID_DATA, octets.view()) && put_small_int(body, 0) &&
        der_put(body, DER_SEQUENCE, alg_body.view()) && (body.append(data_info.view()), true) &&
        der_put(body, DER_OCTET_STRING, Bytes(digest, digest_len)) &&
        der_put(seq, DER_SEQUENCE, body.view()) && put_message(out, NID_DIGESTED_DATA, seq.view());
    OPENSSL_cleanse(digest, sizeof digest);
    return ok;
}

bool compressed_message(Bytes digested, SecureBytes& out) {
    BufferPtr z(BUFFER_compress(digested.data(), static_cast<int>(digested.size()), -1));
    if (!z) return false;
    SecureBytes alg_body;
    SecureBytes encap;
    SecureBytes body;
    SecureBytes seq;
    return put_oid(alg_body, NID_ZLIB_COMPRESS) && put_oid(encap, NID_DIGESTED_DATA) &&
           der_put(encap, DER_CONTEXT_0, Bytes(z->data, static_cast<std::size_t>(z->length))) &&
           put_small_int(body, 0) && der_put(body, DER_SEQUENCE, alg_body.view()) &&
           der_put(body, DER_SEQUENCE, encap.view()) && der_put(seq, DER_SEQUENCE, body.view()) &&
           put_message(out, NID_COMPRESSED_DATA, seq.view());
}

bool encrypted_message(int content_type, const CipherChoice& c, const unsigned char* iv,
                       Bytes encrypted, SecureBytes& out) {
    SecureBytes alg_body;
    SecureBytes info;
    SecureBytes body;
    SecureBytes seq;
    return put_oid(alg_body, c.nid) && der_put(alg_body, DER_OCTET_STRING, Bytes(iv, kIvLen)) &&
           put_oid(info, content_type) && der_put(info, DER_SEQUENCE, alg_body.view()) &&
           der_put(info, DER_CONTEXT_0, encrypted) && put_small_int(body, 1) &&
           der_put(body, DER_SEQUENCE, info.view()) && der_put(seq, DER_SEQUENCE, body.view()) &&
           put_message(out, NID_ENCRYPTED_DATA, seq.view());
}

BUFFER* to_pem(Bytes der) {
    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    if (!mem || der.size() > LONG_MAX ||
        !PEM_write_bio(mem.get(), kPemLabel, "", der.data(), static_cast<long>(der.size())))
        return nullptr;
    char* text = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &text);
    return n >= 0 && n < INT_MAX ? BUFFER_fill(text, static_cast<int>(n)) : nullptr;
}

// ---- reading ------------------------------------------------------------
// Messages are read as BER: the library's own writer uses indefinite
// lengths (the message context's output), other writers cut strings into
// constructed pieces.

// The contents of one element with the tag off the front of in.
std::optional<Bytes> ber_get(Bytes& in, unsigned char tag) {
    BerElem e;
    if (!ber_expect(in, tag, e)) return std::nullopt;
    return e.content;
}

constexpr int kMaxStringDepth = 8;

bool gather_pieces(Bytes in, SecureBytes& out, int depth) {
    if (depth > kMaxStringDepth) return false;
    while (!in.empty()) {
        BerElem piece;
        if (!ber_read(in, piece) || (piece.tag & 0xDF) != DER_OCTET_STRING) return false;
        if (!piece.constructed())
            out.append(piece.content);
        else if (!gather_pieces(piece.content, out, depth + 1))
            return false;
    }
    return true;
}

// The octets of a string element whose primitive tag is tag, taken as they
// stand when primitive, else gathered from its pieces into room (which may
// hold plain content, so it is wiped on release).
std::optional<Bytes> ber_string(Bytes& in, unsigned char tag, SecureBytes& room) {
    Bytes rest = in;
    BerElem e;
    if (!ber_read(rest, e) || (e.tag & 0xDF) != tag) return std::nullopt;
    in = rest;
    if (!e.constructed()) return e.content;
    if (!gather_pieces(e.content, room, 0)) return std::nullopt;
    return room.view();
}

bool oid_is(Bytes oid, int nid) {
    const Bytes want = der_oid(nid);
    return !want.empty() && oid.size() == want.size() &&
           std::memcmp(oid.data(), want.data(), want.size()) == 0;
}

// The library's number of an OID's content bytes, or 0.
int nid_of(Bytes oid) {
    SecureBytes tlv;
    if (!der_put(tlv, DER_OID, oid)) return 0;
    const unsigned char* p = tlv.data();
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> obj(
        d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(tlv.size())), ASN1_OBJECT_free);
    return obj ? cadb::OBJ_obj2nid(obj.get()) : 0;
}

// A message filling in exactly: its type OID and the one element inside [0].
struct Message {
    Bytes type;
    Bytes body;
};

std::optional<Message> read_message(Bytes in) {
    auto seq = ber_get(in, DER_SEQUENCE);
    if (!seq || !in.empty()) return std::nullopt;
    auto type = ber_get(*seq, DER_OID);
    auto wrapped = ber_get(*seq, DER_CONTEXT_0_CONS);
    if (!type || !wrapped || !seq->empty()) return std::nullopt;
    return Message{*type, *wrapped};
}

// The DER of the outer message in any of the input forms: DER, PEM, or bare
// base64 under the PEM label.
bool outer_der(Bytes in, SecureBytes& der) {
    if (!in.empty() && in[0] == DER_SEQUENCE) {
        der.append(in);
        return true;
    }
    auto read_pem = [&der](const std::string& text) {
        std::unique_ptr<BIO, decltype(&BIO_free)> src(
            BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), BIO_free);
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* bytes = nullptr;
        long len = 0;
        ::ERR_set_mark();
        const bool ok = src && PEM_read_bio(src.get(), &name, &header, &bytes, &len) != 0;
        ::ERR_pop_to_mark();
        const bool taken =
            ok && (std::strcmp(name, kPemLabel) == 0 || std::strcmp(name, "CMS") == 0);
        if (taken) der.append(Bytes(bytes, static_cast<std::size_t>(len)));
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(bytes);
        return taken;
    };
    if (in.size() > INT_MAX / 2) return false;
    std::string text(reinterpret_cast<const char*>(in.data()), in.size());
    if (read_pem(text)) return true;
    return read_pem(std::string("-----BEGIN ") + kPemLabel + "-----\n" + text + "\n-----END " +
                    kPemLabel + "-----\n");
}

// The encrypted layer, read once for every password attempt.
struct Encrypted {
    Bytes content_type;
    CipherChoice cipher;
    const unsigned char* iv;
    Bytes ciphertext;  // in the message, or in pieces when it came in pieces
    std::shared_ptr<SecureBytes> pieces;
};

// Fails with the reason to report.
std::optional<Encrypted> read_encrypted(Bytes der, int& reason) {
    reason = ERR_R_NESTED_ASN1_ERROR_;
    auto msg = read_message(der);
    if (!msg) return std::nullopt;
    reason = CADB_R_ENCRYPTED_DATA_EXPECTED;
    if (!oid_is(msg->type, NID_ENCRYPTED_DATA)) return std::nullopt;
    Bytes b = msg->body;
    auto body = ber_get(b, DER_SEQUENCE);
    if (!body || !b.empty() || !ber_get(*body, DER_INTEGER)) return std::nullopt;
    auto info = ber_get(*body, DER_SEQUENCE);
    if (!info || !body->empty()) return std::nullopt;
    auto pieces = std::make_shared<SecureBytes>();
    auto type = ber_get(*info, DER_OID);
    auto alg = ber_get(*info, DER_SEQUENCE);
    auto ciphertext = ber_string(*info, DER_CONTEXT_0, *pieces);
    if (!type || !alg || !ciphertext || !info->empty()) return std::nullopt;
    auto alg_oid = ber_get(*alg, DER_OID);
    auto iv = ber_get(*alg, DER_OCTET_STRING);
    reason = ERR_R_INTERNAL;
    if (!alg_oid || !iv || !alg->empty() || iv->size() != kIvLen) return std::nullopt;
    auto cipher = cipher_of(nid_of(*alg_oid));
    if (!cipher) return std::nullopt;
    return Encrypted{*type, *cipher, iv->data(), *ciphertext, std::move(pieces)};
}

// The zlib content of a compressedData message, inflated into out.
bool read_compressed(Bytes plain, SecureBytes& out) {
    auto msg = read_message(plain);
    if (!msg || !oid_is(msg->type, NID_COMPRESSED_DATA)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_DIGESTED_DATA_EXPECTED);
        return false;
    }
    Bytes b = msg->body;
    auto body = ber_get(b, DER_SEQUENCE);
    std::optional<Bytes> alg, encap, type, stream;
    if (body && b.empty() && ber_get(*body, DER_INTEGER) && (alg = ber_get(*body, DER_SEQUENCE)) &&
        (encap = ber_get(*body, DER_SEQUENCE)) && body->empty())
        type = ber_get(*encap, DER_OID);
    if (!type) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_DIGESTED_DATA_EXPECTED);
        return false;
    }
    if (!oid_is(*type, NID_DIGESTED_DATA)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_DATA_EXPECTED);
        return false;
    }
    SecureBytes pieces;
    auto alg_oid = ber_get(*alg, DER_OID);
    stream = ber_string(*encap, DER_CONTEXT_0, pieces);
    BufferPtr inflated;
    // Inflated no further than the message engine inflates compressed data.
    constexpr int kMaxInflated =
        static_cast<int>(std::min<long>(PKCS7_DEFAULT_MAX_UNCOMPRESSED, INT_MAX));
    if (alg_oid && oid_is(*alg_oid, NID_ZLIB_COMPRESS) && stream && encap->empty() &&
        stream->size() < INT_MAX)
        inflated.reset(
            BUFFER_uncompress(stream->data(), static_cast<int>(stream->size()), 0, kMaxInflated));
    if (!inflated) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_INTEGRITY_CHECK_FAILURE);
        return false;
    }
    out.append(Bytes(inflated->data, static_cast<std::size_t>(inflated->length)));
    return true;
}

// The data of a digestedData message whose digest checks.
BUFFER* read_digested(Bytes plain) {
    auto msg = read_message(plain);
    if (!msg || !oid_is(msg->type, NID_DIGESTED_DATA)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_DIGESTED_DATA_EXPECTED);
        return nullptr;
    }
    Bytes b = msg->body;
    auto body = ber_get(b, DER_SEQUENCE);
    SecureBytes digest_pieces;
    std::optional<Bytes> alg, info, digest;
    if (!body || !b.empty() || !ber_get(*body, DER_INTEGER) ||
        !(alg = ber_get(*body, DER_SEQUENCE)) || !(info = ber_get(*body, DER_SEQUENCE)) ||
        !(digest = ber_string(*body, DER_OCTET_STRING, digest_pieces)) || !body->empty()) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_DIGESTED_DATA_EXPECTED);
        return nullptr;
    }
    auto type = ber_get(*info, DER_OID);
    auto wrapped = ber_get(*info, DER_CONTEXT_0_CONS);
    SecureBytes data_pieces;
    std::optional<Bytes> data;
    if (type && oid_is(*type, NID_DATA) && wrapped && info->empty()) {
        data = ber_string(*wrapped, DER_OCTET_STRING, data_pieces);
        if (!wrapped->empty()) data.reset();
    }
    if (!data) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_DATA_EXPECTED);
        return nullptr;
    }
    auto alg_oid = ber_get(*alg, DER_OID);
    const int md_nid = alg_oid ? nid_of(*alg_oid) : 0;
    const EVP_MD* md = md_nid == NID_RUS_HASH ? EVP_rus_hash()
                       : md_nid != 0          ? EVP_get_digestbynid(md_nid)
                                              : nullptr;
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    const bool ok = md != nullptr &&
                    EVP_Digest(data->data(), data->size(), computed, &n, md, nullptr) &&
                    n == digest->size() && CRYPTO_memcmp(computed, digest->data(), n) == 0;
    OPENSSL_cleanse(computed, sizeof computed);
    if (!ok || data->size() >= INT_MAX) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, CADB_R_INTEGRITY_CHECK_FAILURE);
        return nullptr;
    }
    BUFFER* result = BUFFER_fill(data->data(), static_cast<int>(data->size()));
    if (result == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, ERR_R_MALLOC);
    return result;
}

BUFFER* attempt(const Encrypted& enc, Bytes passwd, int iterations) {
    KeyArea key;
    SecureBytes plain;
    if (!derive_key(enc.cipher, passwd, iterations, key) ||
        !run_cipher(enc.cipher, key, enc.iv, 0, enc.ciphertext, plain)) {
        // A wrong key is told by the padding of a block cipher, else by the
        // layers below.
        CADB_ERR(ERR_LIB_CADB, CADB_F_BUFFER_DECRYPT, ERR_R_INTERNAL);
        return nullptr;
    }
    if (!oid_is(enc.content_type, NID_COMPRESSED_DATA)) return read_digested(plain.view());
    SecureBytes inflated;
    if (!read_compressed(plain.view(), inflated)) return nullptr;
    return read_digested(inflated.view());
}

// A password converted to the stored encoding; wiped and freed on release.
class ConvertedPasswd {
  public:
    ~ConvertedPasswd() {
        if (p_ != nullptr) OPENSSL_clear_free(p_, static_cast<std::size_t>(len_) + 1);
    }
    bool convert(const char* passwd, int len) {
        p_ = PASSWD_encode(passwd, len, &len_);
        return p_ != nullptr;
    }
    Bytes view() const {
        return {reinterpret_cast<const unsigned char*>(p_), static_cast<std::size_t>(len_)};
    }

  private:
    char* p_ = nullptr;
    int len_ = 0;
};

bool text_length(const void* p, int& len) {
    if (len > 0) return true;
    const std::size_t n = std::strlen(static_cast<const char*>(p));
    if (n >= INT_MAX) return false;
    len = static_cast<int>(n);
    return true;
}

BUFFER* fail(int func, int reason) {
    if (reason != 0) CADB_ERR(ERR_LIB_CADB, func, reason);
    CADB_ERR(ERR_LIB_CADB, func, ERR_LIB_CADB);
    return nullptr;
}

}  // namespace

BUFFER* BUFFER_encrypt(const void* data, int data_len, int cipher_nid, const char* passwd,
                       int passwd_len, int iterations, int compress, int out_form, int raw_passwd) {
    constexpr int F = CADB_F_BUFFER_ENCRYPT;
    if (passwd == nullptr || !text_length(passwd, passwd_len)) return fail(F, ERR_R_NULL_PARAMETER);
    Bytes pw(reinterpret_cast<const unsigned char*>(passwd), static_cast<std::size_t>(passwd_len));
    ConvertedPasswd converted;
    if (!raw_passwd && passwd_len != 0) {
        if (!converted.convert(passwd, passwd_len)) return fail(F, ERR_R_INTERNAL);
        pw = converted.view();
    }
    if (data == nullptr || !text_length(data, data_len)) return fail(F, ERR_R_NULL_PARAMETER);
    const CipherChoice cipher =
        *cipher_of(cipher_nid == NID_DES_EDE3_CBC ? cipher_nid : NID_RUS_GAMMAR);

    SecureBytes inner;
    if (!digested_message(
            Bytes(static_cast<const unsigned char*>(data), static_cast<std::size_t>(data_len)),
            inner))
        return fail(F, ERR_R_INTERNAL);
    int content_type = NID_DIGESTED_DATA;
    if (compress) {
        SecureBytes packed;
        if (!compressed_message(inner.view(), packed)) return fail(F, ERR_R_INTERNAL);
        inner = std::move(packed);
        content_type = NID_COMPRESSED_DATA;
    }

    KeyArea key;
    unsigned char iv[kIvLen];
    if (!derive_key(cipher, pw, iterations, key) || RAND_bytes(iv, kIvLen) != kIvLen)
        return fail(F, ERR_R_INTERNAL);
    SecureBytes encrypted;
    SecureBytes message;
    if (!run_cipher(cipher, key, iv, 1, inner.view(), encrypted) ||
        !encrypted_message(content_type, cipher, iv, encrypted.view(), message) ||
        message.size() >= INT_MAX)
        return fail(F, ERR_R_INTERNAL);
    BUFFER* result = out_form == 2 ? to_pem(message.view())
                                   : BUFFER_fill(message.data(), static_cast<int>(message.size()));
    return result != nullptr ? result : fail(F, ERR_R_MALLOC);
}

int BUFFER_message_type(const void* data, int data_len) {
    if (data == nullptr || data_len <= 0) return 0;
    SecureBytes der;
    ::ERR_set_mark();
    const bool read = outer_der(
        Bytes(static_cast<const unsigned char*>(data), static_cast<std::size_t>(data_len)), der);
    std::optional<Message> msg;
    if (read) msg = read_message(der.view());
    const int nid = msg ? nid_of(msg->type) : 0;
    ::ERR_pop_to_mark();
    return nid;
}

BUFFER* BUFFER_decrypt(const void* data, int data_len, const char* passwd, int passwd_len,
                       int iterations, int raw_passwd) {
    constexpr int F = CADB_F_BUFFER_DECRYPT;
    if (data == nullptr || passwd == nullptr || !text_length(data, data_len) ||
        !text_length(passwd, passwd_len))
        return fail(F, ERR_R_NULL_PARAMETER);
    const Bytes typed(reinterpret_cast<const unsigned char*>(passwd),
                      static_cast<std::size_t>(passwd_len));
    SecureBytes der;
    int reason = ERR_R_NESTED_ASN1_ERROR_;
    std::optional<Encrypted> enc;
    if (outer_der(
            Bytes(static_cast<const unsigned char*>(data), static_cast<std::size_t>(data_len)),
            der))
        enc = read_encrypted(der.view(), reason);
    if (!enc) return fail(F, reason);

    ConvertedPasswd converted;
    const bool convert = !raw_passwd && passwd_len != 0;
    if (convert && !converted.convert(passwd, passwd_len)) return fail(F, ERR_R_INTERNAL);
    // The typed password is a second attempt only when it differs from the
    // converted one (plain ASCII converts to itself).
    const bool second =
        convert && (converted.view().size() != typed.size() ||
                    std::memcmp(converted.view().data(), typed.data(), typed.size()) != 0);
    if (second) {
        ERR_set_mark();
        if (BUFFER* b = attempt(*enc, converted.view(), iterations)) {
            ERR_clear_last_mark();
            return b;
        }
        ERR_pop_to_mark();
    }
    BUFFER* b = attempt(*enc, convert && !second ? converted.view() : typed, iterations);
    return b != nullptr ? b : fail(F, 0);
}

}  // namespace cadb
