// Messages of every type fed to the reading context, DER or PEM, with
// detached content after the first choice byte's worth; whatever reads is
// opened the way its type asks for (verified against an empty store,
// decrypted with a fixed password key, its digest checked, uncompressed),
// its content taken, and the message written again and read back as the
// same type.
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <vector>

#include "crypto/cms/cms.h"
#include "crypto/engine/engine.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    static const bool loaded = [] {
        use_kernel_random();
        return cadb::ENGINE_load_cadb() == 1;
    }();
    if (!loaded) abort();
    static X509_STORE* const store = X509_STORE_new();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::size_t detached_len = in.byte();
    const std::vector<unsigned char> detached = in.bytes(detached_len);
    const std::vector<unsigned char> rest = in.rest();

    cadb::CmsPtr cms(cadb::CMS_new());
    if (!cms) abort();
    cms->flags = (choice & 1) ? cadb::CMS_OPT_NO_PEM : 0;
    if ((choice & 2) != 0) cms->flags |= cadb::CMS_OPT_IGNORE_CERTS;
    if (!rest.empty()) cadb::CMS_update(cms.get(), rest.data(), static_cast<int>(rest.size()), 0);
    const int type = cadb::CMS_get_type(cms.get());
    if (type != 0) {
        if (cms->detached && !detached.empty())
            cadb::CMS_update_detached(cms.get(), detached.data(),
                                      static_cast<int>(detached.size()));
        switch (type) {
            case 22:
                cadb::CMS_verify(cms.get(), store, nullptr, 0);
                break;
            case 25:
                cadb::CMS_digested_verify(cms.get());
                break;
            case 26: {
                unsigned char key[32];
                int len = 0;
                if (cadb::CMS_passwd2key(cms->cipher == 44 ? 44 : 174, "fuzz", 4, key, &len, 1) &&
                    cadb::CMS_encrypted_set_password(cms.get(), key, len))
                    cadb::CMS_decrypt(cms.get());
                break;
            }
            case 261:
                cadb::CMS_uncompress(cms.get());
                break;
            default:
                break;
        }
        cadb::BUFFER_free(cadb::CMS_get_content(cms.get()));
        cadb::BUFFER* der = cadb::CMS_get(cms.get(), 1);
        cadb::BUFFER_free(cadb::CMS_get(cms.get(), 2));
        if (der != nullptr) {
            cadb::CmsPtr again(cadb::CMS_new());
            if (!cadb::CMS_update(again.get(), der->data, der->length, 0) ||
                cadb::CMS_get_type(again.get()) != type)
                abort();
        }
        cadb::BUFFER_free(der);
    }
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
