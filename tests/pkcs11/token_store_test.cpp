// Certificates and key stores on tokens: the certificate context's and the
// key-store context's token methods on SoftHSM2, and on the GOST test token
// where a store is optional.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/init/init.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/tokenstore/pkcs11_cert.h"
#include "crypto/x509/cert.h"
#include "crypto/x509/cert_ctx.h"
#include "tests/pkcs11/gost_token.h"
#include "tests/pkcs11/softhsm.h"
#include "tests/pkcs11/token_support.h"
#include "tests/support/process_race.h"

namespace cadb {
namespace {

using testing::kGostToken;
using testing::kToken;
using testing::PinSource;
using Bytes = std::vector<unsigned char>;

struct CertCtxFree {
    void operator()(CERT_CTX* c) const { CERT_CTX_free(c); }
};
using CertCtxPtr = std::unique_ptr<CERT_CTX, CertCtxFree>;
struct PseCtxFree {
    void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
};
using PseCtxPtr = std::unique_ptr<PSE_CTX, PseCtxFree>;

// Contexts without a PIN argument hand the callback their path.
int token_pin(char* buffer, int size, int, void*) {
    const int n = std::min(size, 4);
    std::memcpy(buffer, "1234", static_cast<std::size_t>(n));
    return n;
}

std::string vector_file(const char* name) {
    std::ifstream in(std::string(CADB_VECTORS_DIR) + "/gost3410-2001-keys/" + name);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

Bytes der_of(CERT_CTX* ctx) {
    BufferPtr b(CERT_get(CERT_CTX_get_CERT(ctx), FORM_DER));
    return b ? Bytes(b->data, b->data + b->length) : Bytes{};
}

// Objects matching a class template with an ID and a label, each when given.
int count_on(const char* token, PKCS11_TEMPLATE* (*base)(), const char* id, const char* label) {
    static PinSource pins;
    auto obj = testing::make_context(token, &pins);
    EXPECT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
    PKCS11_TEMPLATE_ptr t(base());
    if (id != nullptr) PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id);
    if (label != nullptr) PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, label);
    int n = 0;
    EXPECT_EQ(PKCS11_OBJ_find_init(obj.get(), t.get()), 1);
    while (PKCS11_OBJ_find_next(obj.get()) == 1) ++n;
    PKCS11_OBJ_find_final(obj.get());
    ERR_clear_error();
    return n;
}

class TokenCert : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(CADB_init(), 1); }
    void SetUp() override {
        REQUIRE_SOFTHSM();
        PKCS11_set_passwd_cb(token_pin);
        ERR_clear_error();
    }

    // A context holding the vector certificate, pointed at path.
    CertCtxPtr holding(const char* path, const char* file = "cert-A.pem") {
        CertCtxPtr ctx(CERT_CTX_new());
        const std::string pem = vector_file(file);
        EXPECT_EQ(CERT_CTX_set_buffer(ctx.get(), reinterpret_cast<const unsigned char*>(pem.data()),
                                      static_cast<int>(pem.size())),
                  1);
        EXPECT_EQ(CERT_CTX_read(ctx.get()), 1);
        EXPECT_EQ(CERT_CTX_set_path(ctx.get(), path), 1);
        return ctx;
    }
};

TEST_F(TokenCert, StoredFoundAndDeletedByName) {
    CertCtxPtr ctx = holding("pkcs11:\\softhsm2\\user-cert");
    EXPECT_STREQ(ctx->method->name, "certificate pkcs11 method");
    ASSERT_EQ(CERT_CTX_set_category(ctx.get(), 2), 1);
    ASSERT_EQ(CERT_CTX_write(ctx.get(), FORM_DER), 1);
    ASSERT_EQ(CERT_CTX_write(ctx.get(), FORM_PEM), 1);
    // Written twice under one name: one object.
    EXPECT_EQ(
        count_on(kToken, PKCS11_TEMPLATE_certificates, "user-cert", "Halberd certificate object"),
        1);

    CertCtxPtr back(CERT_CTX_new());
    ASSERT_EQ(CERT_CTX_set_path(back.get(), "pkcs11:\\softhsm2\\user-cert"), 1);
    ASSERT_EQ(CERT_CTX_read(back.get()), 1);
    EXPECT_EQ(der_of(back.get()), der_of(ctx.get()));
    EXPECT_EQ(back->category, 2u);

    ASSERT_EQ(PKCS11_file_erase("pkcs11:\\softhsm2\\user-cert"), 1);
    EXPECT_EQ(CERT_CTX_read(back.get()), 0);
    EXPECT_EQ(CERT_CTX_get_CERT(back.get()), nullptr);
    ERR_clear_error();
}

TEST_F(TokenCert, PrintedFormReadsBackAndMissingNamesFail) {
    CertCtxPtr ctx = holding("pkcs11:\\softhsm2\\printed", "cert-B.pem");
    ASSERT_EQ(CERT_CTX_write(ctx.get(), FORM_TEXT), 1);
    CertCtxPtr back(CERT_CTX_new());
    ASSERT_EQ(CERT_CTX_set_path(back.get(), "pkcs11:\\softhsm2\\printed"), 1);
    ASSERT_EQ(CERT_CTX_read(back.get()), 1);
    EXPECT_EQ(der_of(back.get()), der_of(ctx.get()));

    ASSERT_EQ(CERT_CTX_set_path(back.get(), "pkcs11:\\softhsm2\\nothing-here"), 1);
    EXPECT_EQ(CERT_CTX_read(back.get()), 0);
    EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_PKCS11);
    ERR_clear_error();
    // A path without an object name names no certificate.
    ASSERT_EQ(CERT_CTX_set_path(back.get(), "pkcs11:\\softhsm2"), 1);
    EXPECT_EQ(CERT_CTX_read(back.get()), 0);
    ERR_clear_error();
}

using TokenCertGost = testing::GostTokenTest;

TEST_F(TokenCertGost, CategoryZeroIsNotStored) {
    ASSERT_EQ(CADB_init(), 1);
    PKCS11_set_passwd_cb(token_pin);
    CertCtxPtr ctx(CERT_CTX_new());
    const std::string pem = vector_file("cert-C.pem");
    ASSERT_EQ(CERT_CTX_set_buffer(ctx.get(), reinterpret_cast<const unsigned char*>(pem.data()),
                                  static_cast<int>(pem.size())),
              1);
    ASSERT_EQ(CERT_CTX_read(ctx.get()), 1);
    ASSERT_EQ(CERT_CTX_set_path(ctx.get(), "pkcs11:\\cadbgostp11\\c0"), 1);
    ASSERT_EQ(CERT_CTX_write(ctx.get(), FORM_DER), 1);
    auto obj = testing::make_context(kGostToken, &pins_);
    ASSERT_EQ(PKCS11_OBJ_find(obj.get(), "c0", nullptr), 1);
    CK_ULONG len = 0;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(obj.get(), CKA_CERTIFICATE_CATEGORY, nullptr, &len), 0);
    EXPECT_EQ(PKCS11_OBJ_get_attribute(obj.get(), CKA_SUBJECT, nullptr, &len), 1);
    EXPECT_GT(len, 0u);
    ERR_clear_error();
}

// The store's generator stopped for the guard's life, started again from
// the random boards afterwards.
class StoppedGenerator {
  public:
    StoppedGenerator() {
        PSE_rand_cleanup();
        RAND_set_rand_method(nullptr);
    }
    ~StoppedGenerator() { PSE_rand_init_device(nullptr); }
    StoppedGenerator(const StoppedGenerator&) = delete;
    StoppedGenerator& operator=(const StoppedGenerator&) = delete;
};

// A key store written to the token at path, whose saved generator state is
// then replaced by 36 bytes that do not decrypt.
void store_with_spoiled_state(const char* path, PinSource* pins) {
    PseCtxPtr made(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(made.get(), path, 0), 1);
    ASSERT_EQ(PSE_CTX_set_password(made.get(), "store password", 0), 1);
    ASSERT_EQ(PSE_CTX_set_passwd_cb(made.get(), nullptr, pins), 1);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    auto obj = testing::make_context(path, pins);
    ASSERT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
    PKCS11_TEMPLATE_ptr find(PKCS11_TEMPLATE_data());
    PKCS11_TEMPLATE_add_text(find.get(), CKA_LABEL, "rand.opq");
    ASSERT_EQ(PKCS11_OBJ_find_first(obj.get(), find.get()), 1);
    ASSERT_EQ(PKCS11_OBJ_destroy(obj.get()), 1);
    const Bytes spoiled(36, 0x5A);
    ASSERT_EQ(PKCS11_TEMPLATE_add(find.get(), CKA_VALUE, spoiled.data(), spoiled.size()), 1);
    ASSERT_EQ(PKCS11_OBJ_create(obj.get(), find.get()), 1);
}

class TokenStore : public TokenCert {
  protected:
    // A key-store context on path with a password.
    PseCtxPtr store_on(const char* path, int flags = 0) {
        PseCtxPtr ctx(PSE_CTX_new());
        EXPECT_EQ(PSE_CTX_set_path(ctx.get(), path, 0), 1);
        EXPECT_EQ(PSE_CTX_set_password(ctx.get(), "store password", 0), 1);
        EXPECT_EQ(PSE_CTX_set_passwd_cb(ctx.get(), nullptr, &pins_), 1);
        EXPECT_EQ(PSE_CTX_set_flags(ctx.get(), flags), 1);
        return ctx;
    }
    Bytes kek_of(PSE_CTX* ctx) {
        int len = 0;
        if (!PSE_CTX_get_kek(ctx, nullptr, &len) || len <= 0) return {};
        Bytes b(static_cast<std::size_t>(len));
        PSE_CTX_get_kek(ctx, b.data(), &len);
        return b;
    }
    PinSource pins_;
};

constexpr int kReadToken = PSE_CTX_FLAG_READ_TOKEN;

TEST_F(TokenStore, WrittenToATokenReadBackOpenedAndErased) {
    PseCtxPtr made = store_on(kToken);
    EXPECT_STREQ(made->method->name, "PSE_CTX pkcs11 method");
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_NE(PSE_CTX_get_pse(made.get()), nullptr);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    for (const char* label : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"}) {
        EXPECT_EQ(count_on(kToken, PKCS11_TEMPLATE_data, nullptr, label), 1) << label;
    }
    // The master key is a private object.
    auto obj = testing::make_context(kToken, &pins_);
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_data());
    PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, "mk.db3");
    PKCS11_TEMPLATE_add_bool(t.get(), CKA_PRIVATE, true);
    ASSERT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
    EXPECT_EQ(PKCS11_OBJ_find_first(obj.get(), t.get()), 1);
    ERR_clear_error();

    PseCtxPtr opened = store_on(kToken, kReadToken);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    PSE* pse = PSE_CTX_get_pse(opened.get());
    ASSERT_NE(pse, nullptr);
    EXPECT_EQ(pse->path, kToken);
    EXPECT_EQ(kek_of(opened.get()), kek_of(made.get()));
    EXPECT_FALSE(kek_of(made.get()).empty());

    // A wrong store password opens nothing.
    PseCtxPtr wrong = store_on(kToken, kReadToken);
    ASSERT_EQ(PSE_CTX_set_password(wrong.get(), "not it", 0), 1);
    EXPECT_EQ(PSE_CTX_read(wrong.get()), 0);
    ERR_clear_error();

    ASSERT_EQ(PSE_CTX_erase(opened.get()), 1);
    for (const char* label : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"}) {
        EXPECT_EQ(count_on(kToken, PKCS11_TEMPLATE_data, nullptr, label), 0) << label;
    }
    // Without its objects a token that does not sign has no store.
    PseCtxPtr gone = store_on(kToken, kReadToken);
    EXPECT_EQ(PSE_CTX_read(gone.get()), 0);
    EXPECT_EQ(PSE_CTX_get_pse(gone.get()), nullptr);
    ERR_clear_error();
}

bool store_was_there() {
    const unsigned long e = ERR_peek_last_error();
    return ERR_code_lib(e) == ERR_LIB_CADB && ERR_code_reason(e) == CADB_R_KEY_STORE_EXISTS;
}

TEST_F(TokenStore, ANewStoreLeavesTheOneThere) {
    PseCtxPtr first = store_on(kToken, PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(first.get()), 1);
    ASSERT_EQ(PSE_CTX_write(first.get()), 1);
    PseCtxPtr second = store_on(kToken, PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_set_password(second.get(), "second password", 0), 1);
    ASSERT_EQ(PSE_CTX_create(second.get()), 1);
    EXPECT_EQ(PSE_CTX_write(second.get()), 0);
    EXPECT_TRUE(store_was_there());
    ERR_clear_error();
    PseCtxPtr opened = store_on(kToken, kReadToken);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    EXPECT_EQ(kek_of(opened.get()), kek_of(first.get()));
    // Without the flag a write replaces the store, as it always has.
    ASSERT_EQ(PSE_CTX_set_flags(second.get(), 0), 1);
    ASSERT_EQ(PSE_CTX_write(second.get()), 1);
    PseCtxPtr replaced = store_on(kToken, kReadToken);
    ASSERT_EQ(PSE_CTX_set_password(replaced.get(), "second password", 0), 1);
    ASSERT_EQ(PSE_CTX_read(replaced.get()), 1);
    EXPECT_EQ(kek_of(replaced.get()), kek_of(second.get()));
    ASSERT_EQ(PSE_CTX_erase(replaced.get()), 1);
}

// A creator that died after the master key left it alone on the token: no
// read opens that, so the next new store takes its place, and that store,
// whole, is then refused as any other.
TEST_F(TokenStore, ANewStoreReplacesWhatADeadCreatorLeft) {
    auto obj = testing::make_context(kToken, &pins_);
    ASSERT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
    PKCS11_TEMPLATE_ptr left(PKCS11_TEMPLATE_data());
    const Bytes half(64, 0x3C);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(left.get(), CKA_LABEL, "mk.db3"), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_bool(left.get(), CKA_PRIVATE, true), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add(left.get(), CKA_VALUE, half.data(), half.size()), 1);
    ASSERT_EQ(PKCS11_OBJ_create(obj.get(), left.get()), 1);

    PseCtxPtr made = store_on(kToken, PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    EXPECT_EQ(count_on(kToken, PKCS11_TEMPLATE_data, nullptr, "mk.db3"), 1);
    PseCtxPtr opened = store_on(kToken, kReadToken);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    EXPECT_EQ(kek_of(opened.get()), kek_of(made.get()));

    PseCtxPtr again = store_on(kToken, PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(again.get()), 1);
    EXPECT_EQ(PSE_CTX_write(again.get()), 0);
    EXPECT_TRUE(store_was_there());
    ERR_clear_error();
    ASSERT_EQ(PSE_CTX_erase(opened.get()), 1);
}

// Processes that found the token empty create a store at once: one store
// is left, whole, and every one of them ends with it.
TEST_F(TokenStore, ProcessesCreatingAtOnceShareOneStore) {
    const testing::Race race = testing::race_processes(6, 36, [this](int, int fd) {
        // SoftHSM2 reads its token file while other processes rewrite it, so
        // an open or a login at the same moment can fail, and a process of it
        // may go on failing. The race under test is the store's: a failure
        // that starts in the token module is tried again, and a process the
        // module never serves takes no part.
        auto session = testing::make_context(kToken, &pins_, false);
        Bytes kek;
        for (int i = 0; i < 100 && kek.empty(); ++i) {
            if (i > 0) ::usleep(20000);
            ERR_clear_error();
            if (PKCS11_OBJ_open(session.get()) != 1 || PKCS11_OBJ_login(session.get(), 0) != 1)
                continue;
            PseCtxPtr made = store_on(kToken, PSE_CTX_FLAG_NEW_STORE);
            if (PSE_CTX_create(made.get()) != 1) return 2;
            if (PSE_CTX_write(made.get()) == 1) {
                kek = kek_of(made.get());
            } else if (store_was_there()) {
                PseCtxPtr found = store_on(kToken, kReadToken);
                if (PSE_CTX_read(found.get()) == 1) kek = kek_of(found.get());
            }
            if (kek.empty() && ERR_code_lib(ERR_peek_error()) != ERR_LIB_PKCS11) return 3;
        }
        if (kek.empty()) return 0;
        return kek.size() == 36 && testing::tell(fd, kek.data(), kek.size()) ? 0 : 5;
    });
    EXPECT_TRUE(race.all_exited_zero);
    EXPECT_GE(race.records.size(), 2u);
    const std::set<std::string> keks(race.records.begin(), race.records.end());
    ASSERT_EQ(keks.size(), 1u);
    PseCtxPtr opened = store_on(kToken, kReadToken);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    const Bytes kept = kek_of(opened.get());
    EXPECT_EQ(std::string(kept.begin(), kept.end()), *keks.begin());
    ASSERT_EQ(PSE_CTX_erase(opened.get()), 1);
}

// This process's changes to the SoftHSM2 token go through a copy of the
// module's function list that kills the process right after its n-th change
// (object created, destroyed or relabelled): a writer dying at each instant
// between two of its token calls.
CK_FUNCTION_LIST* g_module_calls = nullptr;
CK_FUNCTION_LIST g_killing_calls;
int g_changes_left = 0;

CK_RV changed(CK_RV rv) {
    if (rv == CKR_OK && --g_changes_left == 0) ::raise(SIGKILL);
    return rv;
}
CK_RV create_then_die(CK_SESSION_HANDLE s, CK_ATTRIBUTE* t, CK_ULONG n, CK_OBJECT_HANDLE* h) {
    return changed(g_module_calls->C_CreateObject(s, t, n, h));
}
CK_RV destroy_then_die(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h) {
    return changed(g_module_calls->C_DestroyObject(s, h));
}
CK_RV set_then_die(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, CK_ATTRIBUTE* t, CK_ULONG n) {
    return changed(g_module_calls->C_SetAttributeValue(s, h, t, n));
}

void die_after_changes(int n) {
    PKCS11_MODULE* module = PKCS11_MODULE_get_by_name("softhsm2");  // kept for the process
    if (module == nullptr) ::_exit(3);
    g_module_calls = module->functions;
    g_killing_calls = *module->functions;
    g_killing_calls.C_CreateObject = create_then_die;
    g_killing_calls.C_DestroyObject = destroy_then_die;
    g_killing_calls.C_SetAttributeValue = set_then_die;
    g_changes_left = n;
    module->functions = &g_killing_calls;
}

// A store rewritten under a new password by a process killed after each of
// its changes to the token in turn: the old password or the new one opens
// what is left, a store of one object per kind, and a new store is refused
// over it rather than taking its place; whether the read or the new-store
// check is first to find what the writer left.
TEST_F(TokenStore, ARewriteKilledAnywhereLeavesTheOldStoreOrTheNew) {
    PseCtxPtr cleared = store_on(kToken);
    ASSERT_EQ(PSE_CTX_erase(cleared.get()), 1);
    const int others = count_on(kToken, PKCS11_TEMPLATE_data, nullptr, nullptr);
    for (const bool check_first : {false, true}) {
        bool finished = false;
        bool seen_new = false;
        for (int changes = 1; changes < 64 && !finished; ++changes) {
            SCOPED_TRACE("killed after change " + std::to_string(changes) +
                         (check_first ? ", new store tried first" : ", read first"));
            PseCtxPtr old_store = store_on(kToken);
            ASSERT_EQ(PSE_CTX_create(old_store.get()), 1);
            ASSERT_EQ(PSE_CTX_write(old_store.get()), 1);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                die_after_changes(changes);
                PseCtxPtr rewrite = store_on(kToken);
                ::_exit(PSE_CTX_set_password(rewrite.get(), "new password", 0) == 1 &&
                                PSE_CTX_create(rewrite.get()) == 1 &&
                                PSE_CTX_write(rewrite.get()) == 1
                            ? 0
                            : 4);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            finished = WIFEXITED(status);
            if (finished) {
                ASSERT_EQ(WEXITSTATUS(status), 0);
            } else {
                ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            }
            auto refused = [this] {
                PseCtxPtr fresh = store_on(kToken, PSE_CTX_FLAG_NEW_STORE);
                EXPECT_EQ(PSE_CTX_set_password(fresh.get(), "third password", 0), 1);
                EXPECT_EQ(PSE_CTX_create(fresh.get()), 1);
                EXPECT_EQ(PSE_CTX_write(fresh.get()), 0);
                EXPECT_TRUE(store_was_there());
                ERR_clear_error();
            };
            if (check_first) refused();
            PseCtxPtr opened = store_on(kToken, kReadToken);
            ASSERT_EQ(PSE_CTX_set_password(opened.get(), "new password", 0), 1);
            const bool is_new = PSE_CTX_read(opened.get()) == 1;
            ERR_clear_error();
            if (!is_new) {
                EXPECT_FALSE(seen_new) << "the old store came back";
                ASSERT_EQ(PSE_CTX_set_password(opened.get(), "store password", 0), 1);
                ASSERT_EQ(PSE_CTX_read(opened.get()), 1) << "neither password opens the store";
                EXPECT_EQ(kek_of(opened.get()), kek_of(old_store.get()));
            }
            seen_new = seen_new || is_new;
            EXPECT_TRUE(is_new || !finished);
            EXPECT_EQ(count_on(kToken, PKCS11_TEMPLATE_data, nullptr, nullptr), others + 4);
            if (!check_first) refused();
            ASSERT_EQ(PSE_CTX_erase(opened.get()), 1);
        }
        EXPECT_TRUE(finished);
    }
}

TEST_F(TokenStore, WrongPinWritesNothing) {
    PseCtxPtr made = store_on(kToken);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    // The login the earlier tests left is dropped by a fresh one that fails.
    PinSource wrong;
    wrong.pin = "0000";
    ASSERT_EQ(PSE_CTX_set_passwd_cb(made.get(), nullptr, &wrong), 1);
    auto obj = testing::make_context(kToken, &wrong);
    EXPECT_EQ(PKCS11_OBJ_login(obj.get(), 1), 0);
    ERR_clear_error();
    EXPECT_EQ(PSE_CTX_write(made.get()), 0);
    EXPECT_EQ(ERR_get_last_rv(), CKR_PIN_INCORRECT);
    ERR_clear_error();
    EXPECT_EQ(count_on(kToken, PKCS11_TEMPLATE_data, nullptr, "kek.opq"), 0);
}

TEST_F(TokenStore, GeneratorThatCannotStartFailsTheRead) {
    store_with_spoiled_state(kToken, &pins_);
    StoppedGenerator stopped;
    // Nobody to seed it either.
    PseCtxPtr opened = store_on(kToken);
    EXPECT_EQ(PSE_CTX_read(opened.get()), 0);
    EXPECT_EQ(PSE_CTX_get_pse(opened.get()), nullptr);
    EXPECT_NE(ERR_peek_error(), 0u);
    ERR_clear_error();
}

class GostTokenStore : public testing::GostTokenTest {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(CADB_init(), 1); }
};

TEST_F(GostTokenStore, SigningTokenWithoutObjectsGivesAnEmptyStore) {
    PseCtxPtr ctx(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(ctx.get(), kGostToken, 0), 1);
    ASSERT_EQ(PSE_CTX_set_passwd_cb(ctx.get(), nullptr, &pins_), 1);
    ASSERT_EQ(PSE_CTX_set_flags(ctx.get(), kReadToken), 1);
    ASSERT_EQ(PSE_CTX_read(ctx.get()), 1);
    ASSERT_NE(PSE_CTX_get_pse(ctx.get()), nullptr);
    EXPECT_EQ(PSE_CTX_get_pse(ctx.get())->path, kGostToken);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(GostTokenStore, GeneratorThatCannotStartLeavesTheBareStore) {
    store_with_spoiled_state(kGostToken, &pins_);
    StoppedGenerator stopped;
    PseCtxPtr ctx(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(ctx.get(), kGostToken, 0), 1);
    ASSERT_EQ(PSE_CTX_set_password(ctx.get(), "store password", 0), 1);
    ASSERT_EQ(PSE_CTX_set_passwd_cb(ctx.get(), nullptr, &pins_), 1);
    ASSERT_EQ(PSE_CTX_read(ctx.get()), 1);
    const PSE* pse = PSE_CTX_get_pse(ctx.get());
    ASSERT_NE(pse, nullptr);
    EXPECT_EQ(pse->path, kGostToken);
    // Only the token path: no secrets of the store.
    EXPECT_TRUE(std::all_of(std::begin(pse->fingerprint), std::end(pse->fingerprint),
                            [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(GostTokenStore, RunningGeneratorLeavesTheTokenAlone) {
    if (CADB_rand_status() != 1) GTEST_SKIP() << "no random board started the generator";
    // Not even a module is loaded: the store only carries its path.
    PseCtxPtr ctx(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(ctx.get(), "pkcs11:\\no-such-module", 0), 1);
    PSE* pse = PSE_CTX_pkcs11_read(ctx.get());
    ASSERT_NE(pse, nullptr);
    EXPECT_EQ(pse->path, "pkcs11:\\no-such-module");
    PSE_free(pse);
}

// On the in-memory GOST token: SoftHSM2's file store itself answers
// CKR_GENERAL_ERROR now and then when threads create objects at once.
TEST_F(TokenCertGost, ThreadsStoreCertificatesSideBySide) {
    ASSERT_EQ(CADB_init(), 1);
    PKCS11_set_passwd_cb(token_pin);
    const std::string pem = vector_file("cert-A.pem");
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string path = std::string(kGostToken) + "\\thread-" + std::to_string(t);
            for (int i = 0; i < 3; ++i) {
                CertCtxPtr ctx(CERT_CTX_new());
                CertCtxPtr back(CERT_CTX_new());
                good += CERT_CTX_set_buffer(ctx.get(),
                                            reinterpret_cast<const unsigned char*>(pem.data()),
                                            static_cast<int>(pem.size())) == 1 &&
                        CERT_CTX_read(ctx.get()) == 1 &&
                        CERT_CTX_set_path(ctx.get(), path.c_str()) == 1 &&
                        CERT_CTX_write(ctx.get(), FORM_DER) == 1 &&
                        CERT_CTX_set_path(back.get(), path.c_str()) == 1 &&
                        CERT_CTX_read(back.get()) == 1 && der_of(back.get()) == der_of(ctx.get());
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), 12);
    for (int t = 0; t < 4; ++t) {
        const std::string id = "thread-" + std::to_string(t);
        EXPECT_EQ(count_on(kGostToken, PKCS11_TEMPLATE_certificates, id.c_str(), nullptr), 1);
    }
    ERR_clear_error();
}

// A certificate the token has no room for leaves the one under its name.
TEST_F(TokenCertGost, AWriteTheTokenRefusesLeavesTheOldCertificate) {
    ASSERT_EQ(CADB_init(), 1);
    PKCS11_set_passwd_cb(token_pin);
    const std::string path = std::string(kGostToken) + "\\kept";
    auto holding = [&path](const char* file) {
        const std::string pem = vector_file(file);
        CertCtxPtr ctx(CERT_CTX_new());
        EXPECT_EQ(CERT_CTX_set_buffer(ctx.get(), reinterpret_cast<const unsigned char*>(pem.data()),
                                      static_cast<int>(pem.size())),
                  1);
        EXPECT_EQ(CERT_CTX_read(ctx.get()), 1);
        EXPECT_EQ(CERT_CTX_set_path(ctx.get(), path.c_str()), 1);
        return ctx;
    };
    CertCtxPtr old_cert = holding("cert-A.pem");
    ASSERT_EQ(CERT_CTX_write(old_cert.get(), FORM_DER), 1);
    testing::GostModuleControl full;
    full.full = 1;
    control(full);
    CertCtxPtr new_cert = holding("cert-B.pem");
    EXPECT_EQ(CERT_CTX_write(new_cert.get(), FORM_DER), 0);
    EXPECT_EQ(ERR_get_last_rv(), kGostFullTokenRv);
    ERR_clear_error();

    EXPECT_EQ(count(CKO_CERTIFICATE), 1);
    CertCtxPtr back(CERT_CTX_new());
    ASSERT_EQ(CERT_CTX_set_path(back.get(), path.c_str()), 1);
    ASSERT_EQ(CERT_CTX_read(back.get()), 1);
    EXPECT_EQ(der_of(back.get()), der_of(old_cert.get()));
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
