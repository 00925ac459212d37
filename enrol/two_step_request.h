// What a two-step Begin leaves for its End on the enrolment object: the kind
// of request asked for, the file the file End writes, the subject, the new
// key, the request-extension stack and the signing record that binds them.
// End reads it and resets nothing, so End can be repeated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wrappers/tpkcs10.h"
#include "wrappers/tprivatekey.h"
#include "wrappers/tx509name.h"
#include "wrappers/x509_ext.h"

namespace cadb::enrol {

enum RequestType : std::int32_t {
    kRequestNone = 0,
    kRequestPlain = 32,    // PKCS#10
    kRequestCmc = 33,      // PKCS#10 in CMC in CMS signed data
    kRequestRefused = 34,  // recorded, refused
};

struct TwoStepRequest {
    std::int32_t type = kRequestNone;
    std::u16string fileName;  // of createFileRequestBegin
    TPKCS10 last;             // empty until an End builds it
    std::unique_ptr<TX509Name> subject = std::make_unique<TX509Name>();
    std::unique_ptr<TPrivateKey> key = std::make_unique<TPrivateKey>();
    bool keyLoaded = false;   // read from its key file, not made by Begin
    TStack_V3EXT extensions;  // also filled by addExtensionToRequest
    TPKCS10SignParams signing;
    std::int32_t bodyPart = 0;  // of the CMC control being added
};

}  // namespace cadb::enrol
