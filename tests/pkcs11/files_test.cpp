#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/media_io.h"
#include "tests/pkcs11/token_support.h"

namespace cadb {
namespace {

using testing::logged_in;

// RSA objects stand in for keys: SoftHSM2 has no GOST R 34.10 keys, and the
// file view looks only at class and CKA_ID.
constexpr CK_KEY_TYPE kRsa = 0;
constexpr CK_ATTRIBUTE_TYPE kModulus = 0x120;
constexpr CK_ATTRIBUTE_TYPE kPublicExponent = 0x122;
constexpr CK_ATTRIBUTE_TYPE kPrivateExponent = 0x123;

void add_rsa_numbers(PKCS11_TEMPLATE* t, bool with_private) {
    const std::string modulus(64, '\xC3');
    const std::string exponent("\x01\x00\x01", 3);
    EXPECT_EQ(PKCS11_TEMPLATE_add_ulong(t, CKA_KEY_TYPE, kRsa), 1);
    EXPECT_EQ(PKCS11_TEMPLATE_add(t, kModulus, modulus.data(), modulus.size()), 1);
    if (with_private) {
        EXPECT_EQ(PKCS11_TEMPLATE_add(t, kPrivateExponent, modulus.data(), modulus.size()), 1);
    } else {
        EXPECT_EQ(PKCS11_TEMPLATE_add(t, kPublicExponent, exponent.data(), exponent.size()), 1);
    }
}

void create_key_pair(PKCS11_OBJ* ctx, const std::string& id) {
    PKCS11_TEMPLATE_ptr pub(PKCS11_TEMPLATE_public_keys());
    add_rsa_numbers(pub.get(), false);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(pub.get(), CKA_ID, id.c_str()), 1);
    ASSERT_EQ(PKCS11_OBJ_create(ctx, pub.get()), 1) << std::hex << ERR_get_last_rv();
    PKCS11_TEMPLATE_ptr priv(PKCS11_TEMPLATE_private_keys());
    add_rsa_numbers(priv.get(), true);
    ASSERT_EQ(PKCS11_TEMPLATE_add_bool(priv.get(), CKA_PRIVATE, true), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(priv.get(), CKA_ID, id.c_str()), 1);
    ASSERT_EQ(PKCS11_OBJ_create(ctx, priv.get()), 1) << std::hex << ERR_get_last_rv();
}

void create_certificate(PKCS11_OBJ* ctx, const std::string& id, CK_ULONG category) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_certificates());
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id.c_str()), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_SUBJECT, "\x30\x00"), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_VALUE, "certificate bytes"), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CERTIFICATE_CATEGORY, category), 1);
    ASSERT_EQ(PKCS11_OBJ_create(ctx, t.get()), 1) << std::hex << ERR_get_last_rv();
}

int collect(const char* name, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(name);
    return 1;
}

std::vector<std::string> walk(const char* path, int flags) {
    std::vector<std::string> names;
    EXPECT_EQ(PKCS11_walk_dir(path, flags, collect, &names), 1) << path;
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> file_layer_walk(const char* path, int flags) {
    std::vector<std::string> names;
    EXPECT_EQ(CADB_walk_dir(path, flags, collect, &names), 1) << path;
    std::sort(names.begin(), names.end());
    return names;
}

std::string label_of(const char* path, std::string* module_part) {
    char* label = PKCS11_path_get_label(path, module_part);
    if (label == nullptr) return "(null)";
    std::string out(label);
    OPENSSL_free(label);
    return out;
}

TEST(TokenPaths, LabelsAndPrefixes) {
    std::string module;
    EXPECT_EQ(label_of("pkcs112:\\rtPKCS11ECP\\key1", &module), "key1");
    EXPECT_EQ(module, "pkcs112:\\rtPKCS11ECP");
    EXPECT_EQ(label_of("pkcs11:/m/dir/key", &module), "dir\\key");
    EXPECT_EQ(module, "pkcs11:\\m");
    EXPECT_EQ(label_of("pkcs11:\\m", &module), "(null)");    // no object part
    EXPECT_EQ(label_of("pkcs11:\\m\\", &module), "(null)");  // empty name
    EXPECT_EQ(label_of("key7", &module), "(null)");          // not a token path
    EXPECT_EQ(label_of("key7", nullptr), "key7");
    EXPECT_EQ(label_of("pkcs11:\\m\\key8", nullptr), "key8");
    // Names reach the token in UTF-8: code page 1251 "Ключ".
    EXPECT_EQ(label_of("pkcs11:\\m\\\xCA\xEB\xFE\xF7", nullptr), "Ключ");
    EXPECT_EQ(PKCS11_path_get_label(nullptr, nullptr), nullptr);

    std::string prefix;
    EXPECT_EQ(PKCS11_path_get_prefix("pkcs113:\\m\\a\\b", &prefix), 1);
    EXPECT_EQ(prefix, "pkcs113:\\m");
    EXPECT_EQ(PKCS11_path_get_prefix("pkcs11:\\m", &prefix), 1);
    EXPECT_EQ(prefix, "pkcs11:\\m");
    EXPECT_EQ(PKCS11_path_get_prefix("pkcs11:m", &prefix), 0);
    EXPECT_EQ(PKCS11_path_get_prefix("a:\\keys", &prefix), 0);

    EXPECT_EQ(PKCS11_path_is_child("pkcs11:\\m\\dir", "pkcs11:\\m\\dir\\key"), 1);
    EXPECT_EQ(PKCS11_path_is_child("pkcs11:\\m\\dir\\", "pkcs11:\\m\\dir\\key\\"), 1);
    EXPECT_EQ(PKCS11_path_is_child("pkcs11:\\m\\dir", "pkcs11:\\m\\dir\\sub\\key"), 0);
    EXPECT_EQ(PKCS11_path_is_child("pkcs11:\\m\\DIR", "pkcs11:\\m\\dir\\key"), 0);
    EXPECT_EQ(PKCS11_path_is_child(nullptr, "x"), 0);
    ERR_clear_error();
}

TEST(TokenFiles, ExistsWalkAndErase) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr ctx = logged_in();
    create_key_pair(ctx.get(), "store\\key1");
    create_key_pair(ctx.get(), "store\\sub\\key2");
    create_certificate(ctx.get(), "store\\cert1", 1);
    create_certificate(ctx.get(), "store\\ca", 2);

    // A name is found also as the beginning of a longer identifier.
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\softhsm2\\store\\key1"), 1);
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\softhsm2\\store\\ke"), 1);
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\softhsm2\\store\\cert1"), 1);
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\softhsm2\\store\\nothing"), 0);
    // A module that cannot be had cannot tell what its token holds.
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\cadb-no-such-module\\x"), -1);
    EXPECT_EQ(PKCS11_file_exists(nullptr), 0);
    EXPECT_EQ(ERR_peek_error(), 0UL);

    const char* dir = "pkcs11:\\softhsm2\\store";
    EXPECT_EQ(walk(dir, PKCS11_WALK_PUBLIC_KEYS),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\key1"});
    EXPECT_EQ(walk("pkcs11:/softhsm2/store/", PKCS11_WALK_PUBLIC_KEYS | PKCS11_WALK_ALL),
              (std::vector<std::string>{"pkcs11:\\softhsm2\\store\\key1",
                                        "pkcs11:\\softhsm2\\store\\sub\\key2"}));
    EXPECT_EQ(walk("pkcs11:\\softhsm2\\store\\sub", PKCS11_WALK_PRIVATE_KEYS),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\sub\\key2"});
    EXPECT_EQ(walk(dir, PKCS11_WALK_CERTIFICATES),
              (std::vector<std::string>{"pkcs11:\\softhsm2\\store\\ca",
                                        "pkcs11:\\softhsm2\\store\\cert1"}));
    EXPECT_EQ(walk(dir, PKCS11_WALK_USER_CERTS),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\cert1"});
    EXPECT_EQ(walk(dir, PKCS11_WALK_CA_CERTS),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\ca"});
    // Keys take precedence over certificates when both are asked for.
    EXPECT_EQ(walk(dir, PKCS11_WALK_PUBLIC_KEYS | PKCS11_WALK_CERTIFICATES),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\key1"});

    // The file layer's own flags are translated: the keys, the direct
    // children or (recursing) every one; a token has no folders to report.
    // Flags naming a kind of object are the token's and pass unchanged.
    EXPECT_EQ(file_layer_walk(dir, 0), std::vector<std::string>{"pkcs11:\\softhsm2\\store\\key1"});
    EXPECT_EQ(file_layer_walk(dir, CADB_WALK_DIRECTORIES),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\key1"});
    EXPECT_EQ(file_layer_walk(dir, CADB_WALK_RECURSE | CADB_WALK_DIRECTORIES),
              (std::vector<std::string>{"pkcs11:\\softhsm2\\store\\key1",
                                        "pkcs11:\\softhsm2\\store\\sub\\key2"}));
    EXPECT_EQ(file_layer_walk(dir, PKCS11_WALK_CA_CERTS),
              std::vector<std::string>{"pkcs11:\\softhsm2\\store\\ca"});

    // A callback that stops ends the walk as a failure; no flags is refused.
    EXPECT_EQ(PKCS11_walk_dir(
                  dir, PKCS11_WALK_CERTIFICATES, [](const char*, void*) { return 0; }, nullptr),
              0);
    EXPECT_EQ(PKCS11_walk_dir(dir, 0, collect, nullptr), 0);
    EXPECT_EQ(PKCS11_walk_dir(dir, PKCS11_WALK_CERTIFICATES, nullptr, nullptr), 1);
    EXPECT_EQ(PKCS11_walk_dir(nullptr, PKCS11_WALK_CERTIFICATES, collect, nullptr), 0);
    ERR_clear_error();

    // Erasing a key name removes both halves; a certificate name the
    // certificate; an unknown name nothing, successfully.
    ASSERT_EQ(PKCS11_file_erase("pkcs11:\\softhsm2\\store\\key1"), 1);
    EXPECT_EQ(PKCS11_OBJ_find_private_key(ctx.get(), "store\\key1", nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find_public_key(ctx.get(), "store\\key1", nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find_public_key(ctx.get(), "store\\sub\\key2", nullptr), 1);
    ASSERT_EQ(PKCS11_file_erase("pkcs11:\\softhsm2\\store\\cert1"), 1);
    EXPECT_EQ(PKCS11_OBJ_find(ctx.get(), "store\\cert1", nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find(ctx.get(), "store\\ca", nullptr), 1);
    EXPECT_EQ(PKCS11_file_erase("pkcs11:\\softhsm2\\store\\nothing"), 1);
    EXPECT_EQ(PKCS11_file_erase("pkcs11:\\softhsm2"), 0);
    EXPECT_EQ(PKCS11_file_erase(nullptr), 0);
    ERR_clear_error();
}

TEST(TokenFiles, DestroyEveryMatch) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr ctx = logged_in();
    for (int i = 0; i < 3; ++i) create_key_pair(ctx.get(), "twin");
    create_certificate(ctx.get(), "twin", 0);
    create_certificate(ctx.get(), "twin", 0);
    create_key_pair(ctx.get(), "twin-other");

    ASSERT_EQ(PKCS11_OBJ_destroy_keys(ctx.get(), "twin"), 1);
    EXPECT_EQ(PKCS11_OBJ_find_private_key(ctx.get(), "twin", nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find_public_key(ctx.get(), "twin", nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find(ctx.get(), "twin", nullptr), 1);  // certificates stay
    EXPECT_EQ(PKCS11_OBJ_find_private_key(ctx.get(), "twin-other", nullptr), 1);
    ASSERT_EQ(PKCS11_OBJ_destroy_certificates(ctx.get(), "twin"), 1);
    EXPECT_EQ(PKCS11_OBJ_find(ctx.get(), "twin", nullptr), 0);
    // Nothing to destroy is success.
    EXPECT_EQ(PKCS11_OBJ_destroy_keys(ctx.get(), "never"), 1);
    EXPECT_EQ(PKCS11_OBJ_destroy_keys(ctx.get(), nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find_private_key(ctx.get(), "twin-other", "Halberd private key object"),
              0);  // the label narrows the search
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
