// The entries of the random boards' vendor libraries as this library calls
// them, shared by the board methods and by the stand-in libraries of the
// tests. The libraries are loaded by name: Crypton "sccrptn.dll", Accord
// "tmdrv32.dll", Sable "snellock.dll".
#pragma once

#include <cstdint>

namespace cadb::vendor {

// Crypton: nonzero means success; a service is an opaque handle, null when
// none could be opened.
using crInitCryptonLib_t = int (*)();
using crDoneCryptonLib_t = int (*)();
using crInitService_t = void* (*)();
using crDoneService_t = int (*)(void* service);
using crGetDriverType_t = int (*)(void* service, std::uint32_t* type);
using crGetDriverVersion_t = int (*)(void* service, std::uint32_t* version);
using crRandom_t = int (*)(void* service, void* buf, std::uint32_t len);

// Accord: zero means success.
using TmDriverPresent_t = int (*)();
using TmGetVersion_t = int (*)(std::uint32_t* version);
using TmGetInfo_t = int (*)(std::uint32_t code, std::uint32_t* status);
using TmGetRandomBytes_t = int (*)(void* buf, std::uint32_t len);
// Status bit of TmGetInfo telling that the device is present.
constexpr std::uint32_t kTmDevicePresent = 0x2;
// Information codes of TmGetInfo.
constexpr std::uint32_t kTmInfoStatus = 0;
constexpr std::uint32_t kTmInfoDevice = 14;

// Sable: zero means success (sbisCard: a card is present).
using sbisCard_t = int (*)();
using sbGetRand_t = int (*)(void* buf, std::uint32_t len);

}  // namespace cadb::vendor
