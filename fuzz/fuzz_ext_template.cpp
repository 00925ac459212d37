// The request-extension XML template as a web page hands it in: the first
// byte chooses whether a repeated extension replaces the earlier one, the
// rest is the template's text (to its first zero byte). The extensions the
// template adds encode as a request's Extensions and read back whole.
#include <openssl/x509.h>

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "wrappers/x509_ext.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cadb::fuzz::Input in(data, size);
    const int replace = in.byte() & 1;
    const std::vector<unsigned char> rest = in.rest();
    const std::string text(rest.begin(), rest.end());
    cadb::TStack_V3EXT extensions;
    if (extensions.fillFromXMLTemplate(text.c_str(), 0, replace) == 1 &&
        extensions.stack() != nullptr) {
        const X509_EXTENSIONS* stack = extensions.stack();
        unsigned char* der = nullptr;
        const int len = i2d_X509_EXTENSIONS(stack, &der);
        if (len <= 0) abort();
        const unsigned char* p = der;
        X509_EXTENSIONS* back = d2i_X509_EXTENSIONS(nullptr, &p, len);
        if (back == nullptr || p != der + len ||
            sk_X509_EXTENSION_num(back) != sk_X509_EXTENSION_num(stack))
            abort();
        sk_X509_EXTENSION_pop_free(back, X509_EXTENSION_free);
        OPENSSL_free(der);
    }
    ::ERR_clear_error();
    cadb::fuzz::clear_errors();
    return 0;
}
