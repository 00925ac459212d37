// Answers of a PKCS#11 module, chosen by the fuzzer: a function list of the
// harness's own whose attribute reads, searches and list fetches return the
// fuzzer's codes, bytes and lengths (CK_UNAVAILABLE_INFORMATION, zero, more
// than the room given, counts past the array). The token objects must copy
// only what fits and what was reported, end every search, and never report
// success on a length they could not hold.
#include <openssl/err.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

// The script the module answers from, and what it last reported.
Input* g_in = nullptr;
CK_ULONG g_reported_len = 0;
CK_ULONG g_list_room = 0;
std::vector<CK_ULONG> g_list_given;

std::uint8_t next() { return g_in != nullptr ? g_in->byte() : 0; }

CK_RV answer() {
    static constexpr CK_RV kFailures[] = {CKR_BUFFER_TOO_SMALL, CKR_GENERAL_ERROR,
                                          CKR_ATTRIBUTE_TYPE_INVALID, 0x011 /* sensitive */};
    const std::uint8_t b = next();
    return b < 0xFC ? CKR_OK : kFailures[b - 0xFC];
}

// A length as a faulty module may report it against room bytes.
CK_ULONG length(CK_ULONG room) {
    const std::uint8_t b = next();
    switch (b & 7) {
        case 0: return CK_UNAVAILABLE_INFORMATION;
        case 1: return 0;
        case 2: return room + 1 + next();
        case 3: return static_cast<CK_ULONG>(next()) << 40;
        default: return room == 0 ? next() : next() % (room + 1);
    }
}

CK_RV get_attribute_value(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE* t, CK_ULONG count) {
    const CK_RV rv = answer();
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG room = t[i].ulValueLen;
        const CK_ULONG len = length(room);
        // The module honours the room it was given; only its report lies.
        if (t[i].pValue != nullptr && len != CK_UNAVAILABLE_INFORMATION) {
            const auto bytes = g_in->bytes(std::min(len, room));
            if (!bytes.empty()) std::memcpy(t[i].pValue, bytes.data(), bytes.size());
        }
        t[i].ulValueLen = len;
        g_reported_len = len;
    }
    return rv;
}

CK_RV find_objects_init(CK_SESSION_HANDLE, CK_ATTRIBUTE* t, CK_ULONG count) {
    // A module that writes into the search template: the template's own
    // sizes must still govern its release.
    if (count != 0 && (next() & 1)) t[next() % count].ulValueLen = ~CK_ULONG{0} >> 1;
    return answer();
}

CK_RV find_objects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* objects, CK_ULONG max, CK_ULONG* count) {
    const CK_RV rv = answer();
    const std::uint8_t b = next();
    const CK_ULONG n = (b & 3) == 3 ? max + next() : (b & 1);
    for (CK_ULONG i = 0; i < std::min(n, max); ++i) objects[i] = 1 + next() % 8;
    *count = n;
    return rv;
}

// The size query and the fetch of a list, each with its own count.
template <class T>
CK_RV fetch(T* list, CK_ULONG* count) {
    const CK_RV rv = answer();
    const CK_ULONG room = *count;
    const std::uint8_t b = next();
    const CK_ULONG n = (b & 3) == 3 ? room + 1 + next() : next() % 16;
    if (list != nullptr) {
        g_list_room = room;
        g_list_given.clear();
        for (CK_ULONG i = 0; i < std::min(n, room); ++i) {
            list[i] = next();
            g_list_given.push_back(list[i]);
        }
    }
    *count = n;
    return rv;
}

CK_RV get_slot_list(CK_BBOOL, CK_SLOT_ID* slots, CK_ULONG* count) { return fetch(slots, count); }
CK_RV get_mechanism_list(CK_SLOT_ID, CK_MECHANISM_TYPE* m, CK_ULONG* count) {
    return fetch(m, count);
}
CK_RV plain(CK_SESSION_HANDLE) { return answer(); }
CK_RV destroy_object(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return answer(); }
CK_RV set_attribute_value(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE*, CK_ULONG) {
    return answer();
}
CK_RV close_session(CK_SESSION_HANDLE) { return CKR_OK; }

CK_FUNCTION_LIST make_list() {
    CK_FUNCTION_LIST f{};
    f.C_GetSlotList = get_slot_list;
    f.C_GetMechanismList = get_mechanism_list;
    f.C_CloseSession = close_session;
    f.C_DestroyObject = destroy_object;
    f.C_GetAttributeValue = get_attribute_value;
    f.C_SetAttributeValue = set_attribute_value;
    f.C_FindObjectsInit = find_objects_init;
    f.C_FindObjects = find_objects;
    f.C_FindObjectsFinal = plain;
    return f;
}
CK_FUNCTION_LIST g_list = make_list();

// An open context on the harness's module: session 1, object 1.
PKCS11_OBJ_ptr context() {
    PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
    if (!ctx) return nullptr;
    ctx->module.reset(PKCS11_MODULE_new());
    if (!ctx->module) return nullptr;
    ctx->module->functions = &g_list;
    ctx->session = 1;
    ctx->object = 1;
    return ctx;
}

void read_attribute(PKCS11_OBJ* ctx, Input& in) {
    const CK_ATTRIBUTE_TYPE type = in.byte() & 1 ? CKA_ID : CKA_VALUE;
    const std::uint8_t mode = in.byte();
    if (mode & 1) {
        // The size query.
        CK_ULONG len = 0;
        if (PKCS11_OBJ_get_attribute(ctx, type, nullptr, &len) &&
            (len == 0 || len == CK_UNAVAILABLE_INFORMATION || len != g_reported_len))
            abort();
        return;
    }
    // A buffer with a guard after the room offered: the copy stays within
    // what the module reported and what fits.
    const CK_ULONG room = in.u16() % 300;
    std::vector<unsigned char> buf(room + 16, 0xA5);
    CK_ULONG len = room;
    const int ok = PKCS11_OBJ_get_attribute(ctx, type, buf.data(), &len);
    if (ok && (len == 0 || len > room || len != g_reported_len)) abort();
    // A refused read leaves the length and every byte as they were; a
    // taken one writes no byte past the length it reports.
    if (!ok && len != room) abort();
    for (std::size_t i = ok ? len : 0; i < buf.size(); ++i)
        if (buf[i] != 0xA5) abort();
}

// A template from the fuzzer: typed values, texts, room for reads.
PKCS11_TEMPLATE_ptr template_of(Input& in) {
    PKCS11_TEMPLATE_ptr t(in.byte() & 1 ? PKCS11_TEMPLATE_private_keys()
                                        : PKCS11_TEMPLATE_new());
    for (int k = in.byte() % 6; t && k > 0; --k) {
        const CK_ATTRIBUTE_TYPE type = in.byte();
        const std::uint8_t n = in.byte();
        const auto value = in.bytes(n);
        const bool room_only = n & 1;
        if (!PKCS11_TEMPLATE_add(t.get(), type, room_only ? nullptr : value.data(), n)) continue;
        // The template holds its own copy: of the value, or zeros as room.
        const CK_ATTRIBUTE* a = PKCS11_TEMPLATE_find(t.get(), type);
        if (a == nullptr || a->ulValueLen != n || (n != 0) != (a->pValue != nullptr)) abort();
        const std::vector<unsigned char> want = room_only ? std::vector<unsigned char>(n, 0) : value;
        if (n != 0 && std::memcmp(a->pValue, want.data(), n) != 0) abort();
    }
    return t;
}

void search(PKCS11_OBJ* ctx, Input& in) {
    const std::string id = "id" + std::to_string(in.byte());
    switch (in.byte() % 5) {
        case 0: {
            PKCS11_TEMPLATE_ptr t = template_of(in);
            if (t && PKCS11_OBJ_find_init(ctx, t.get())) {
                // Bounded by the script: a spent one fails the next step.
                while (PKCS11_OBJ_find_next(ctx) == 1) {
                }
                PKCS11_OBJ_find_final(ctx);
            }
            break;
        }
        case 1: PKCS11_OBJ_find_private_key(ctx, id.c_str(), "label"); break;
        case 2: PKCS11_OBJ_find(ctx, nullptr, id.c_str()); break;
        case 3: PKCS11_OBJ_destroy_keys(ctx, id.c_str()); break;
        default: PKCS11_OBJ_destroy_certificates(ctx, id.c_str()); break;
    }
}

void lists(PKCS11_OBJ* ctx, Input& in) {
    if (in.byte() & 1) {
        const CK_MECHANISM_TYPE m = in.byte();
        if (PKCS11_OBJ_has_mechanism(ctx, m) == 1 &&
            std::find(g_list_given.begin(), g_list_given.end(), m) == g_list_given.end())
            abort();
        return;
    }
    // The slot table holds no more slots than the fetch had room for.
    if (PKCS11_MODULE_load_slots(ctx->module.get()) == 1 &&
        ctx->module->slots.size() > g_list_room)
        abort();
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    Input in(data, size);
    g_in = &in;
    g_reported_len = 0;
    g_list_room = 0;
    g_list_given.clear();
    {
        PKCS11_OBJ_ptr ctx = context();
        if (ctx) {
            for (int step = 0; step < 4; ++step) {
                switch (in.byte() % 3) {
                    case 0: read_attribute(ctx.get(), in); break;
                    case 1: search(ctx.get(), in); break;
                    default: lists(ctx.get(), in); break;
                }
            }
        }
    }
    g_in = nullptr;
    clear_errors();
    return 0;
}
