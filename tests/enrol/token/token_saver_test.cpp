// The enrolment's PKCS#11 key saver on the project's GOST test token: the
// key at the main name kept under the next free number no key bears, and
// savers at once on one token (threads of one process on the test module,
// which keeps its token per process; and processes sharing one SoftHSM2
// token through the forwarding module that adds GOST keys to it), every
// save reported as kept leaving its key on the token with its own public
// half.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/init/init.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/pse/pse.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/store/pkey_ctx.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/tokenstore/token_lock.h"
#include "enrol/key_savers.h"
#include "platform/module.h"
#include "tests/pkcs11/gost_module.h"
#include "tests/pkcs11/softhsm.h"
#include "tests/support/process_race.h"
#include "wrappers/pse_container.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol::test {
namespace {

constexpr const char* kToken = "pkcs11:\\cadbgostp11";
constexpr const char* kFolder = "pkcs11:\\cadbgostp11\\";
constexpr const char* kPin = "1234";
// SoftHSM2's token, with GOST keys, reached through the forwarding module.
constexpr const char* kSharedToken = "pkcs11:\\cadbsofthsmgost";
constexpr const char* kSharedFolder = "pkcs11:\\cadbsofthsmgost\\";

struct PkeyCtxFree {
    void operator()(PKEY_CTX* c) const { PKEY_CTX_free(c); }
};
using PkeyCtxPtr = std::unique_ptr<PKEY_CTX, PkeyCtxFree>;
struct PseFree {
    void operator()(PSE* p) const { PSE_free(p); }
};
using PsePtr = std::unique_ptr<PSE, PseFree>;
using EvpPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bytes = std::vector<unsigned char>;

const Bytes kData = {'s', 'a', 'v', 'e', 'd', ' ', 'k', 'e', 'y'};

// The token's PIN, answered for the library's PKCS#11 questions.
class PinUI : public TLibraryUI {
  public:
    int getPass_pkcs11CBK(char* buf, int size, int, void*) override {
        const int n = std::min<int>(size, 4);
        std::copy(kPin, kPin + n, buf);
        return n;
    }
};

// The token's PIN, answered while another thread looks whether the token's
// lock is free: a question put to the user inside a hold of the lock keeps
// every other process waiting. The probe is a context opened on the token
// beforehand (a library context opened here would wait for this question).
class LockProbingPinUI : public PinUI {
  public:
    explicit LockProbingPinUI(PKCS11_OBJ* probe) : probe_(probe) {}
    int getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) override {
        ++asked;
        std::thread look([this] {
            const int wait = pse_lock_wait();
            pse_set_lock_wait(100);
            TokenLock lock;
            if (!lock.acquire(probe_, 0)) ++asked_under_hold;
            pse_set_lock_wait(wait);
            ERR_clear_error();
        });
        look.join();
        return PinUI::getPass_pkcs11CBK(buf, size, rwflag, arg);
    }
    int asked = 0;
    int asked_under_hold = 0;

  private:
    PKCS11_OBJ* probe_;
};

// The public half of a key as DER, with no token behind it.
Bytes public_der(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int len = i2d_PUBKEY(key, &der);
    Bytes out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    return out;
}

EvpPtr public_of(const Bytes& der) {
    const unsigned char* p = der.data();
    return EvpPtr(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())), EVP_PKEY_free);
}

Bytes signed_by(EVP_PKEY* key) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    Bytes sig(64);
    std::size_t len = sig.size();
    if (EVP_DigestSignInit(md.get(), nullptr, EVP_rus_hash_cp(), nullptr, key) != 1 ||
        EVP_DigestSign(md.get(), sig.data(), &len, kData.data(), kData.size()) != 1)
        return {};
    sig.resize(len);
    return sig;
}

bool verifies(const Bytes& public_key, const Bytes& sig) {
    EvpPtr pub = public_of(public_key);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return pub && !sig.empty() &&
           EVP_DigestVerifyInit(md.get(), nullptr, EVP_rus_hash_cp(), nullptr, pub.get()) == 1 &&
           EVP_DigestVerify(md.get(), sig.data(), sig.size(), kData.data(), kData.size()) == 1;
}

// A key under a name on the token: its public half as the token gives it,
// and a signature made by its private half.
struct Named {
    std::string name;
    Bytes public_key;
    Bytes sig;
};

class TokenSaver : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(CADB_init(), 1); }

    void SetUp() override {
        setenv(kModulePathEnv, CADB_TEST_MODULES_DIR, 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        control_ = module_load(kGostModule);
        ASSERT_TRUE(control_);
        ASSERT_TRUE(module_entry(control_, kGostReset, reset_));
        reset_();
        PKCS11_set_passwd_cb(pkcs11_passwd_cb);
        ERR_clear_error();
    }
    void TearDown() override {
        if (reset_) reset_();
        ERR_clear_error();
    }

    // A context on the token's key store, with a store object of its own.
    PkeyCtxPtr context(const std::string& key_path = "", const char* token = kToken) {
        PsePtr store(PSE_new());
        EXPECT_TRUE(store);
        store->path = token;
        PkeyCtxPtr ctx(PKEY_CTX_new());
        EXPECT_TRUE(ctx);
        EXPECT_EQ(PKEY_CTX_set_PSE(ctx.get(), store.get()), 1);
        if (!key_path.empty()) {
            EXPECT_EQ(PKEY_CTX_set_path(ctx.get(), key_path.c_str()), 1);
        }
        return ctx;
    }
    // A key made on the token and named.
    PkeyCtxPtr made(const std::string& name) {
        PkeyCtxPtr ctx = context(name);
        EXPECT_EQ(PKEY_CTX_generate(ctx.get(), NID_ECR3410_CP, 0), 1);
        EXPECT_EQ(PKEY_CTX_write(ctx.get(), 0, 0), 1);
        return ctx;
    }
    static Bytes public_of_ctx(PKEY_CTX* ctx) {
        PKEY* key = PKEY_CTX_get_PKEY(ctx);
        return key != nullptr ? public_der(key->key) : Bytes{};
    }
    // Every key on the token by its name, read back as an enrolment reads
    // it: its public half by the name, and a signature of its private half.
    // Every key half of one class on the token, by its name.
    static std::vector<std::string> names_on_token(const char* token, bool private_keys) {
        std::vector<std::string> names;
        PKCS11_OBJ_ptr obj(PKCS11_OBJ_new());
        EXPECT_EQ(PKCS11_OBJ_set_path(obj.get(), token), 1);
        EXPECT_EQ(PKCS11_OBJ_open(obj.get()), 1);
        EXPECT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
        PKCS11_TEMPLATE_ptr t(private_keys ? PKCS11_TEMPLATE_private_keys()
                                           : PKCS11_TEMPLATE_public_keys());
        EXPECT_EQ(PKCS11_OBJ_find_init(obj.get(), t.get()), 1);
        std::vector<CK_OBJECT_HANDLE> handles;
        while (PKCS11_OBJ_find_next(obj.get()) == 1) handles.push_back(obj->object);
        PKCS11_OBJ_find_final(obj.get());
        for (const CK_OBJECT_HANDLE h : handles) {
            obj->object = h;
            char id[256];
            CK_ULONG len = sizeof id;
            if (PKCS11_OBJ_get_attribute(obj.get(), CKA_ID, id, &len) == 1 && len > 0)
                names.emplace_back(id, len);
        }
        return names;
    }
    std::vector<Named> keys_on_token(const char* token = kToken, const char* folder = kFolder) {
        std::vector<Named> out;
        for (const std::string& name : names_on_token(token, true)) {
            PkeyCtxPtr reader = context(folder + name, token);
            if (PKEY_CTX_read(reader.get()) != 1) {
                out.push_back({name, {}, {}});
                continue;
            }
            EVP_PKEY* key = PKEY_CTX_get_PKEY(reader.get())->key;
            out.push_back({name, public_der(key), signed_by(key)});
        }
        ERR_clear_error();
        return out;
    }
    // Where the key with that public half is on the token, whole: a name
    // whose public half is this one and whose private half signs what this
    // public half verifies. Empty when it is nowhere.
    static std::string kept_as(const std::vector<Named>& on_token, const Bytes& public_key) {
        for (const Named& n : on_token)
            if (n.public_key == public_key && verifies(public_key, n.sig)) return n.name;
        return {};
    }

    Module control_;
    GostResetFn reset_ = nullptr;
    PinUI ui_;
    TCurrentUIScope scope_{&ui_};
    // New key-store containers keep the dialogue object current instead of
    // each putting one in place (which threads would do at once).
    TContainerDialogFlow flow_;
};

// A backup takes the next number no key bears: a half pair left under the
// next number (its private half gone, so the folder's walk of private keys
// does not count it) is passed over and kept.
TEST_F(TokenSaver, ABackupPassesOverATakenNumberAndKeepsTheKeyThere) {
    const std::string main = std::string(kFolder) + "00000001.key";
    PkeyCtxPtr old = made("00000001.key");
    PkeyCtxPtr half = made("00000002.key");
    const Bytes old_public = public_of_ctx(old.get());
    const Bytes half_public = public_of_ctx(half.get());
    {
        PKCS11_OBJ_ptr obj(PKCS11_OBJ_new());
        ASSERT_EQ(PKCS11_OBJ_set_path(obj.get(), kToken), 1);
        ASSERT_EQ(PKCS11_OBJ_open(obj.get()), 1);
        ASSERT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
        ASSERT_EQ(PKCS11_OBJ_find_private_key(obj.get(), "00000002.key", nullptr), 1);
        ASSERT_EQ(PKCS11_OBJ_destroy(obj.get()), 1);
    }
    half.reset();

    PkeyCtxPtr fresh = context();
    ASSERT_EQ(PKEY_CTX_generate(fresh.get(), NID_ECR3410_CP, 0), 1);
    const Bytes fresh_public = public_of_ctx(fresh.get());
    ASSERT_TRUE(SaveKeyPKCS11Generated(fresh.get(), main, nullptr));

    const std::vector<Named> on_token = keys_on_token();
    EXPECT_EQ(kept_as(on_token, fresh_public), "00000001.key");
    EXPECT_EQ(kept_as(on_token, old_public), "00000003.key");
    // The public half under the taken number is still there, untouched.
    PKCS11_OBJ_ptr obj(PKCS11_OBJ_new());
    ASSERT_EQ(PKCS11_OBJ_set_path(obj.get(), kToken), 1);
    ASSERT_EQ(PKCS11_OBJ_open(obj.get()), 1);
    ASSERT_EQ(PKCS11_OBJ_find_public_key(obj.get(), "00000002.key", nullptr), 1);
    EvpPtr there(PKCS11_key_get_public(obj.get()), EVP_PKEY_free);
    ASSERT_TRUE(there);
    EXPECT_TRUE(public_der(there.get()) == half_public) << "another key's public half is there";
}

// A save that must log in again asks the PIN before it takes the token's
// lock, never while it holds it.
TEST_F(TokenSaver, ThePinIsAskedBeforeTheTokensLockIsTaken) {
    const std::string main = std::string(kFolder) + "00000001.key";
    PkeyCtxPtr old = made("00000001.key");
    PkeyCtxPtr fresh = context();
    ASSERT_EQ(PKEY_CTX_generate(fresh.get(), NID_ECR3410_CP, 0), 1);
    PKCS11_OBJ_ptr probe(PKCS11_OBJ_new());
    ASSERT_EQ(PKCS11_OBJ_set_path(probe.get(), kToken), 1);
    ASSERT_EQ(PKCS11_OBJ_open(probe.get()), 1);
    // The token's login ends: the save has to ask the PIN again.
    ASSERT_EQ(probe->module->functions->C_Logout(probe->session), CKR_OK);
    LockProbingPinUI ui(probe.get());
    const TCurrentUIScope scope(&ui);
    EXPECT_TRUE(SaveKeyPKCS11Generated(fresh.get(), main, nullptr));
    EXPECT_GE(ui.asked, 1);
    EXPECT_EQ(ui.asked_under_hold, 0) << "of " << ui.asked << " PIN questions";
}

// A token that cannot be asked whether a key bears the main name may hold
// one there: the backup fails rather than find nothing to keep, after which
// the main write would destroy that key.
TEST_F(TokenSaver, ABackupFailsWhereTheTokenCannotTellOfTheName) {
    const std::string main = std::string(kFolder) + "00000001.key";
    PkeyCtxPtr old = made("00000001.key");
    GostControlFn control = nullptr;
    ASSERT_TRUE(module_entry(control_, kGostControl, control));
    cadb::testing::GostModuleControl c;
    c.refuse_find = 1;
    control(&c);
    EXPECT_FALSE(SaveBackUpKeyPKCS11(main)) << "a token that cannot be asked was taken as empty";
    c.refuse_find = 0;
    control(&c);
    ERR_clear_error();
    EXPECT_EQ(kept_as(keys_on_token(), public_of_ctx(old.get())), "00000001.key");
}

// Savers at once on one token, each with its own contexts and its own key,
// started together round after round. Each save holds the token's lock from
// its look at the main name until its key bears it, so none lands its key
// at the main name between another's backup and that one's write (which
// destroys what bears the name): every save succeeds, and every key saved
// is on the token, at the main name or under a backup number, signing with
// its own public half.
TEST_F(TokenSaver, SavesAtOnceKeepEveryKeyTheyReportKept) {
    constexpr int kSavers = 4;
    constexpr int kRounds = 6;
    const std::string main = std::string(kFolder) + "00000001.key";
    std::vector<Bytes> saved;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        // The keys are made and named apart first.
        std::vector<PkeyCtxPtr> keys;
        for (int i = 0; i < kSavers; ++i)
            keys.push_back(made("new-" + std::to_string(round) + "-" + std::to_string(i)));
        std::atomic<int> ready{0};
        std::vector<int> ok(kSavers, 0);
        std::vector<std::thread> savers;
        for (int i = 0; i < kSavers; ++i)
            savers.emplace_back([&, i] {
                ++ready;
                while (ready.load() < kSavers) std::this_thread::yield();
                ok[static_cast<std::size_t>(i)] =
                    SaveKeyPKCS11Generated(keys[static_cast<std::size_t>(i)].get(), main, nullptr);
                ERR_clear_error();
            });
        for (std::thread& t : savers) t.join();
        for (int i = 0; i < kSavers; ++i) {
            if (ok[static_cast<std::size_t>(i)])
                saved.push_back(public_of_ctx(keys[static_cast<std::size_t>(i)].get()));
            else
                ++failed;
        }
    }
    EXPECT_EQ(failed, 0) << "saves failed although no other saver had to be waited out";
    const std::vector<Named> on_token = keys_on_token();
    int lost = 0;
    for (const Bytes& key : saved) lost += kept_as(on_token, key).empty() ? 1 : 0;
    EXPECT_EQ(lost, 0) << "of " << saved.size() << " saves reported as kept";
    for (const Named& n : on_token)
        EXPECT_TRUE(verifies(n.public_key, n.sig)) << n.name << " has another key's public half";
}

// Enrolments in processes at once on one SoftHSM2 token, each generating
// its key on the token and saving it at the main name, again and again, as
// users do: SoftHSM2 shows a process that has just written nothing another
// process created since its last search, so every decision must come from a
// search made inside the token's lock, and one enrolment's pair not yet
// named is no leftover for another to remove. Every save succeeds, every
// key saved is on the token whole, and no name bears two keys or halves of
// two keys.
TEST_F(TokenSaver, EnrolmentsInProcessesAtOnceOnOneSharedTokenKeepEveryKey) {
    constexpr int kProcesses = 4;
    constexpr int kEnrolments = 5;
    cadb::testing::SoftHsmEnvironment softhsm;
    softhsm.SetUp();
    if (!cadb::testing::SoftHsmEnvironment::available()) softhsm.TearDown();
    REQUIRE_SOFTHSM();
    const std::string main = std::string(kSharedFolder) + "00000001.key";
    struct Record {
        unsigned char ok;
        unsigned char length;
        unsigned char der[254];
    };
    const auto enrol = [&](Record* r) {
        *r = Record{};
        PkeyCtxPtr ctx = context("", kSharedToken);
        r->ok = PKEY_CTX_generate(ctx.get(), NID_ECR3410_CP, 0) == 1 &&
                SaveKeyPKCS11Generated(ctx.get(), main, nullptr);
        const Bytes der = public_of_ctx(ctx.get());
        r->length = static_cast<unsigned char>(std::min<std::size_t>(der.size(), sizeof r->der));
        std::copy_n(der.begin(), r->length, r->der);
        ERR_clear_error();
    };
    // The user is logged in to the token before the enrolments start, and
    // the processes forked from here share that login: SoftHSM2 rewrites its
    // token file in place at every login, and a process that reads it
    // meanwhile has lost the token for as long as it runs.
    {
        PKCS11_OBJ_ptr login(PKCS11_OBJ_new());
        ASSERT_EQ(PKCS11_OBJ_set_path(login.get(), kSharedToken), 1);
        ASSERT_EQ(PKCS11_OBJ_open(login.get()), 1);
        ASSERT_EQ(PKCS11_OBJ_login(login.get(), 0), 1);
    }
    const cadb::testing::Race race =
        cadb::testing::race_processes(kProcesses, sizeof(Record), [&](int, int fd) {
            for (int i = 0; i < kEnrolments; ++i) {
                Record r;
                enrol(&r);
                if (!cadb::testing::tell(fd, &r, sizeof r)) return 1;
            }
            return 0;
        });
    EXPECT_TRUE(race.all_exited_zero);
    ASSERT_EQ(race.records.size(), static_cast<std::size_t>(kProcesses * kEnrolments));
    // After them, an enrolment of this process is not turned away.
    Record last;
    enrol(&last);
    EXPECT_TRUE(last.ok) << "an enrolment after the others was turned away";
    std::vector<Bytes> saved;
    int failed = 0;
    for (const std::string& rec : race.records) {
        const auto* r = reinterpret_cast<const Record*>(rec.data());
        if (r->ok)
            saved.emplace_back(r->der, r->der + r->length);
        else
            ++failed;
    }
    if (last.ok) saved.emplace_back(last.der, last.der + last.length);
    EXPECT_EQ(failed, 0) << "of " << race.records.size() << " enrolments at once";

    const std::vector<Named> on_token = keys_on_token(kSharedToken, kSharedFolder);
    int lost = 0;
    for (const Bytes& key : saved) lost += kept_as(on_token, key).empty() ? 1 : 0;
    EXPECT_EQ(lost, 0) << "of " << saved.size() << " saves reported as kept";
    for (const Named& n : on_token)
        EXPECT_TRUE(verifies(n.public_key, n.sig)) << n.name << " has another key's public half";
    std::map<std::string, int> privates, publics;
    for (const std::string& name : names_on_token(kSharedToken, true)) ++privates[name];
    for (const std::string& name : names_on_token(kSharedToken, false)) ++publics[name];
    for (const auto& [name, count] : privates)
        EXPECT_TRUE(count == 1 && publics[name] == 1)
            << name << ": " << count << " private and " << publics[name] << " public halves";
    for (const auto& [name, count] : publics)
        EXPECT_EQ(privates[name], 1) << name << " has " << count << " public halves";
    ERR_clear_error();
    softhsm.TearDown();
}

}  // namespace
}  // namespace cadb::enrol::test
