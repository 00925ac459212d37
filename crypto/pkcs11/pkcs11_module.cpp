#include "crypto/pkcs11/pkcs11_module.h"

#include <pthread.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#include "crypto/core/lock.h"
#include "crypto/pkcs11/pkcs11_local.h"

namespace cadb {
namespace {

// Every record alive, and the names under which the registry hands them
// out. A module reached under two names (say "jcPKCS11" and "jcpkcs11")
// is one record: its C_GetFunctionList gives the same list, and two records
// would each finalise the module under the other. Guarded by lock 36.
struct Registry {
    std::vector<std::pair<std::string, PKCS11_MODULE*>> names;
    std::vector<PKCS11_MODULE*> live;
    std::uint32_t use_count = 0;
};

// Never destroyed: modules may still be held while static destructors run.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// The mutexes the module uses for its own locking. They live in malloc'd
// memory: SoftHSM2, for one, releases with free() handles still alive when
// the process exits, which is sound only for memory malloc gave out (a
// std::mutex needs no destructor on this platform).
static_assert(std::is_trivially_destructible_v<std::mutex> ||
              sizeof(std::mutex) == sizeof(pthread_mutex_t));

CK_RV create_mutex(CK_VOID_PTR* out) {
    if (out == nullptr) return CKR_GENERAL_ERROR;
    void* memory = std::malloc(sizeof(std::mutex));
    if (memory == nullptr) return CKR_GENERAL_ERROR;
    *out = new (memory) std::mutex;
    return CKR_OK;
}

CK_RV destroy_mutex(CK_VOID_PTR m) {
    if (m == nullptr) return CKR_GENERAL_ERROR;
    static_cast<std::mutex*>(m)->~mutex();
    std::free(m);
    return CKR_OK;
}

CK_RV lock_mutex(CK_VOID_PTR m) {
    if (m == nullptr) return CKR_GENERAL_ERROR;
    static_cast<std::mutex*>(m)->lock();
    return CKR_OK;
}

CK_RV unlock_mutex(CK_VOID_PTR m) {
    if (m == nullptr) return CKR_GENERAL_ERROR;
    static_cast<std::mutex*>(m)->unlock();
    return CKR_OK;
}

PKCS11_MODULE* find_name(const char* name) {
    for (auto& [n, module] : registry().names) {
        if (PKCS11_name_cmp(n.c_str(), name) == 0) return module;
    }
    return nullptr;
}

PKCS11_MODULE* find_functions(const CK_FUNCTION_LIST* f) {
    for (PKCS11_MODULE* m : registry().live) {
        if (m->functions == f) return m;
    }
    return nullptr;
}

// Steps 3-7 of loading: library, function list, initialisation, information
// and slot table. On failure the record still holds what was done, which its
// release undoes.
bool load_module(PKCS11_MODULE* m) {
    constexpr int F = PKCS11_F_PKCS11_MODULE_GET_BY_NAME;
    m->library = module_load(m->name);
    if (!m->library) {
        PKCS11_ERR(F, PKCS11_R_MODULE_NOT_FOUND);
        return false;
    }
    CK_C_GetFunctionList get_list = nullptr;
    if (!module_entry(m->library, "C_GetFunctionList", get_list)) {
        PKCS11_ERR(F, PKCS11_R_FUNCTION_NOT_FOUND);
        return false;
    }
    CK_FUNCTION_LIST* list = nullptr;
    const CK_RV rv = get_list(&list);
    if (rv != CKR_OK || list == nullptr) {
        PKCS11_RV_ERR(F, PKCS11_R_GET_FUNCTION_LIST_ERROR, rv != CKR_OK ? rv : CKR_GENERAL_ERROR);
        return false;
    }
    m->functions = list;
    return true;
}

bool start_module(PKCS11_MODULE* m) {
    constexpr int F = PKCS11_F_PKCS11_MODULE_GET_BY_NAME;
    CK_C_INITIALIZE_ARGS args{create_mutex, destroy_mutex,     lock_mutex,
                              unlock_mutex, CKF_OS_LOCKING_OK, nullptr};
    CK_RV rv = m->functions->C_Initialize(&args);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        PKCS11_RV_ERR(F, PKCS11_R_INITIALIZE_ERROR, rv);
        return false;
    }
    m->finalize_on_release = rv == CKR_OK;
    CK_INFO info{};
    rv = m->functions->C_GetInfo(&info);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, PKCS11_R_INITIALIZE_ERROR, rv);
        return false;
    }
    if (!PKCS11_MODULE_load_slots(m)) {
        PKCS11_ERR(F, PKCS11_R_INITIALIZE_ERROR);
        return false;
    }
    return true;
}

}  // namespace

void PKCS11_registry_init() {
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    ++registry().use_count;
}

void PKCS11_registry_cleanup() {
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    auto& r = registry();
    if (r.use_count == 0) return;
    if (--r.use_count == 0) PKCS11_registry_free_all();
}

void PKCS11_registry_free_all() {
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    auto& r = registry();
    r.names.clear();
    const std::vector<PKCS11_MODULE*> live = r.live;
    for (PKCS11_MODULE* m : live) {
        if (!m->registered) continue;
        m->registered = false;
        PKCS11_MODULE_free(m);
    }
}

int PKCS11_name_cmp(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
    return strcasecmp(a, b);
}

PKCS11_MODULE* PKCS11_MODULE_new() {
    auto* m = new (std::nothrow) PKCS11_MODULE;
    if (m == nullptr) PKCS11_ERR(PKCS11_F_PKCS11_MODULE_NEW, ERR_R_MALLOC);
    return m;
}

PKCS11_MODULE* PKCS11_MODULE_get_by_name(const char* name) {
    constexpr int F = PKCS11_F_PKCS11_MODULE_GET_BY_NAME;
    if (name == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    auto& r = registry();
    if (PKCS11_MODULE* m = find_name(name)) {
        ++m->references;
        return m;
    }
    PKCS11_MODULE_ptr m(PKCS11_MODULE_new());
    if (!m) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return nullptr;
    }
    try {
        m->name = name;
        r.names.reserve(r.names.size() + 1);
        r.live.reserve(r.live.size() + 1);
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return nullptr;
    }
    if (!load_module(m.get())) return nullptr;

    if (PKCS11_MODULE* same = find_functions(m->functions)) {
        // Already running under another name: the new record never started
        // the module, so dropping it only unloads its extra library handle.
        if (!same->registered) {
            same->registered = true;
            ++same->references;
        }
        ++same->references;
        r.names.emplace_back(name, same);
        return same;
    }
    if (!start_module(m.get())) return nullptr;

    m->references = 2;  // the registry's and the caller's
    m->registered = true;
    r.live.push_back(m.get());
    r.names.emplace_back(name, m.get());
    return m.release();
}

void PKCS11_MODULE_free(PKCS11_MODULE* module) {
    if (module == nullptr) return;
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    if (module->references > 0) --module->references;
    if (module->references > 0) return;
    auto& r = registry();
    std::erase(r.live, module);
    std::erase_if(r.names, [module](const auto& entry) { return entry.second == module; });
    // Finalising ends the slots' shared sessions with every other session.
    if (module->functions != nullptr && module->finalize_on_release) {
        module->functions->C_Finalize(nullptr);
    }
    delete module;
}

int PKCS11_MODULE_load_slots(PKCS11_MODULE* module) {
    constexpr int F = PKCS11_F_PKCS11_MODULE_LOAD_SLOTS;
    if (module == nullptr || module->functions == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    std::vector<CK_SLOT_ID> ids;
    const CK_RV rv = pkcs11::fetch_slot_list(module->functions, ids);
    if (rv == CKR_HOST_MEMORY) {
        PKCS11_RV_ERR(F, ERR_R_MALLOC, rv);
        return 0;
    }
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    try {
        std::vector<PKCS11_SLOT> slots;
        slots.reserve(ids.size());
        for (CK_SLOT_ID id : ids) slots.push_back({id, 0});
        module->slots = std::move(slots);
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

int PKCS11_MODULE_slot_index(const PKCS11_MODULE* module, CK_SLOT_ID slot) {
    if (module == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_MODULE_SLOT_INDEX, ERR_R_NULL_PARAMETER);
        return -1;
    }
    LockGuard guard(CRYPTO_LOCK_PKCS11);
    const auto it = std::find_if(module->slots.begin(), module->slots.end(),
                                 [slot](const PKCS11_SLOT& s) { return s.id == slot; });
    return it == module->slots.end() ? -1 : static_cast<int>(it - module->slots.begin());
}

}  // namespace cadb
