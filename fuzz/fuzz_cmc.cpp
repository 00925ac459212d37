// CMC bodies and CRMF messages from hostile bytes: the first byte picks the
// reader (PKIData, ResponseBody, CertReqMsg); whatever reads is split,
// written again and read back the same.
#include <cstdlib>
#include <vector>

#include "crypto/cms/cmc.h"
#include "crypto/cms/crmf.h"
#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

void check_cmc(const std::vector<unsigned char>& der, int type) {
    CMC* cmc = CMS_read(der.data(), static_cast<long>(der.size()), type);
    if (cmc == nullptr) return;
    if (cmc->content == nullptr || cmc->content_type != type) abort();
    for (int i = 0; i < sk_CMP_TREQ_num(cmc->requests); ++i) {
        const CMP_TREQ* r = sk_CMP_TREQ_value(cmc->requests, i);
        if (r->choice == CMP_TREQ_CRMF) CRMF_free(CRMF_split(r->value.crm));
    }
    BUFFER* again = CMC_get(cmc, type);
    if (again != nullptr) {
        CMC* back = CMS_read(again->data, again->length, type);
        if (back == nullptr) abort();
        BUFFER* third = CMC_get(back, type);
        if (third == nullptr || third->length != again->length) abort();
        BUFFER_free(third);
        CMC_free(back);
    }
    BUFFER_free(again);
    CMC_free(cmc);
}

void check_crmf(const std::vector<unsigned char>& der) {
    CRMF_CERT_REQ_MSG* msg = CRMF_CERT_REQ_MSG_read(der.data(), static_cast<long>(der.size()));
    if (msg == nullptr) return;
    CRMF* flat = CRMF_split(msg);
    if (flat != nullptr && flat->message != msg) abort();
    CRMF_free(flat);
    unsigned char* out = nullptr;
    const int len = i2d_CRMF_CERT_REQ_MSG(msg, &out);
    if (len > 0) {
        CRMF_CERT_REQ_MSG* back = CRMF_CERT_REQ_MSG_read(out, len);
        if (back == nullptr) abort();
        CRMF_CERT_REQ_MSG_free(back);
    }
    OPENSSL_free(out);
    CRMF_CERT_REQ_MSG_free(msg);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    static const bool loaded = [] {
        use_kernel_random();
        return cadb::ENGINE_load_cadb() == 1;
    }();
    if (!loaded) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::vector<unsigned char> rest = in.rest();
    switch (choice % 3) {
        case 0:
            check_cmc(rest, cadb::NID_CMC_PKI_DATA);
            break;
        case 1:
            check_cmc(rest, cadb::NID_CMC_RESPONSE_BODY);
            break;
        default:
            check_crmf(rest);
            break;
    }
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
