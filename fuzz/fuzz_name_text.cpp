// The name parser and the text conversions: a DER name split into its
// attribute list and printed in both forms, the attribute list written back
// into a name, and raw bytes through every code-page conversion and the
// directory-string type choice. The first input byte picks the road.
#include <openssl/x509.h>

#include <cstdlib>
#include <vector>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/name_print.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/core/objects.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    static const bool ready = OBJ_init() == 1;
    if (!ready) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    std::vector<unsigned char> rest = in.rest();
    const int len = static_cast<int>(rest.size());
    if (choice % 2 == 0) {
        const unsigned char* p = rest.data();
        X509_NAME* name = ::d2i_X509_NAME(nullptr, &p, len);
        if (name != nullptr) {
            ATTRIBUTE* list = X509_NAME_split(name);
            for (const ATTRIBUTE* a = list; a != nullptr; a = a->next)
                if (a->text == nullptr || a->text[a->length] != 0) abort();
            ATTRIBUTE_free(list);
            BUFFER_free(X509_NAME_get_text(name, 1));
            BUFFER_free(X509_NAME_get_rfc2253(name));
            char small[16];
            if (cadb::X509_NAME_oneline(name, small, sizeof small) != small) abort();
            X509_NAME_free(name);
        }
    } else {
        rest.push_back(0);
        rest.push_back(0);
        const char* text = reinterpret_cast<const char*>(rest.data());
        int n = 0;
        using Conv = char* (*)(const char*, int, int*);
        for (Conv f : {STR_local_to_utf8, STR_utf8_to_local, STR_bmp_to_utf8, STR_utf8_to_bmp,
                       STR_bmp_to_local, STR_local_to_bmp}) {
            char* out = f(text, len, &n);
            if (out != nullptr && (n < 0 || out[n] != 0)) abort();
            OPENSSL_free(out);
        }
        int type = choice >> 3;
        const int nid = (choice >> 1) % 4 == 0 ? 13 : (choice >> 1) % 4 == 1 ? 48 : 14;
        if (X509_NAME_ENTRY_choose_type(nid, &type, text, len, choice & 0x14)) {
            int out_len = len;
            unsigned char* bytes = X509_NAME_ENTRY_encode_text(text, &out_len, type);
            if (bytes == nullptr && len > 0) abort();
            OPENSSL_free(bytes);
        }
    }
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
