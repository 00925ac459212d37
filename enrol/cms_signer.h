// Signing a CMC request as CMS signed data with an existing certificate and
// key, as the signed two-step request and the signed revocation request do:
// the signer's key store opened, the certificate and the key read and checked
// to be a pair, then the encoded CMC wrapped and signed as PEM text.
//
// Every failure is reported through PrepareAlert after a log line that names
// the calling member; the caller returns the HRESULT it is given.
#pragma once

#include <cstdint>
#include <string>

#include "enrol/alert.h"
#include "platform/com/bstr.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tprivatekey.h"
#include "wrappers/tpse.h"

namespace cadb::enrol {

// What happens when the signer's key store is opened but its password was
// refused (no store handle).
enum class RefusedStorePassword {
    kShowAndStop,  // message box; the member returns S_OK with no output
    kShowAndFail,  // message box; 15006 "Vambrace3_1 Container is Bad"
    kGoOn,         // no box; the key is read without the store
};

struct CmsSignerRoad {
    // Names the member in log lines, e.g. "CQuillon::createRvcEndSigned()".
    const char* member = "";
    RefusedStorePassword refused = RefusedStorePassword::kShowAndStop;
    // The code of a key that cannot be read from a token path (15030 or
    // 15022).
    AlertCode tokenKeyFailure = kPrivateKeyFileReadError;
};

class TCmsSigner {
  public:
    enum class Outcome {
        kReady,    // certificate and key loaded and a pair
        kStopped,  // the store's password was refused: S_OK, nothing more
        kFailed,   // an alert was reported
    };

    explicit TCmsSigner(const CmsSignerRoad& road) : road_(road) {}

    // In this order: an empty container means the key-store path in use; an
    // empty certificate name fails 15020, a missing transaction identifier
    // 15021; the store at the container is read and opened (15006) under
    // prompt 102; the certificate is read from the token or the file (15023
    // when that throws; a file that does not parse shows as 15025 below);
    // an empty key name fails 15038; the key is read under prompt 107
    // (15030 unreadable, 15022 not loadable) and must match the certificate
    // (15025). *result receives the HRESULT the member returns.
    Outcome prepare(com::BSTR container, com::BSTR certFile, com::BSTR keyFile,
                    bool haveTransactionId, com::HRESULT* result);

    // The CMC encoding as signed data (content type PKIData, digest 64) in
    // PEM; 15027 "PKCS#7 Creation Error" after a log line naming the step
    // that failed. The text is logged once made.
    com::HRESULT sign(const TBuffer& cmc, std::string& pem);

    const TCertificate& certificate() const { return certificate_; }
    const TPrivateKey& key() const { return key_; }
    const TPSE& store() const { return store_; }

  private:
    com::HRESULT fail(AlertCode code, const char* what);

    CmsSignerRoad road_;
    TPSE store_;
    TCertificate certificate_;
    TPrivateKey key_;
};

}  // namespace cadb::enrol
