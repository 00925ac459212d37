// Error reporting to the script. Every failing method of the enrolment object
// leaves through PrepareAlert: the English text goes into the thread's error
// object (source the Quillon class, interface IQuillon) and the method
// returns 0x80040000 | code, so that a script sees the code as the error's
// number and the text as its description.
#pragma once

#include <cstdint>

#include "platform/com/types.h"

namespace cadb::enrol {

enum AlertCode : std::int32_t {
    kNoMoreProviders = 15002,
    kExtraObjectIndex = 15003,
    kBadObjectName = 15004,
    kContainerNameBad = 15005,
    kContainerBad = 15006,
    kKeyGenerationError = 15007,
    kKeyViewError = 15008,
    kSaveKeyError = 15009,
    kDistinguishNameEmpty = 15011,
    kCommonNameEmpty = 15012,
    kExceptionCaught = 15014,
    kPkcs10GenerationError = 15015,
    kPkcs10FileError = 15016,
    kKeyPasswordEmpty = 15018,
    kUnknownRequestType = 15019,
    kSigningCertUndefined = 15020,
    kTidEmpty = 15021,
    kPrivateKeyLoadError = 15022,
    kCertificateLoadError = 15023,
    kNotInPair = 15025,
    kCmcCreationError = 15026,
    kPkcs7CreationError = 15027,
    kEndWithoutBegin = 15028,
    kExtensionTemplateError = 15029,
    kPrivateKeyFileReadError = 15030,
    kRevocationCertUndefined = 15031,
    kCertificateViewError = 15033,
    kRevocationInfoError = 15034,
    kRevocationFileSaveError = 15035,
    kEmergencyPasswordUndefined = 15036,
    kPrivateKeyPathUndefined = 15038,
    kFileExistenceError = 15039,
    kContainerNotDeleted = 15040,
    kResponseNotAccepted = 15041,
    kExtraCertificateIndex = 15042,
    kCertificateConversionError = 15043,
    kCertificateXmlError = 15044,
    kCertificateSaveError = 15045,
    kCertificateFileBad = 15047,
    kCrlFileBad = 15048,
    kCrlSaveError = 15049,
    kResponseUndefined = 15050,
    kResponseBadInterpretation = 15051,
    kRandomizerInitBad = 15053,
    kBadOid = 15054,
    kPkcs10ReadError = 15055,
};

// The English text of a code; null for a code the table does not hold.
const char* alert_text(std::int32_t code);

inline constexpr com::HRESULT alert_hresult(std::int32_t code) {
    return static_cast<com::HRESULT>(0x80040000u | static_cast<std::uint32_t>(code));
}

// Logs the alert, sets the thread's error object and returns the HRESULT.
com::HRESULT PrepareAlert(const char* strErrDescr, std::int32_t lErrCode);
// The same with the code's own text.
com::HRESULT PrepareAlert(AlertCode code);
// The same without the log lines (the end of an enumeration is no alert).
com::HRESULT report_alert_quietly(AlertCode code);

// A member whose work this build does not have yet: E_NOTIMPL with a text
// that says so.
com::HRESULT not_available(const char* member);

}  // namespace cadb::enrol
