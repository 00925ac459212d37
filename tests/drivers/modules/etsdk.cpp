// Stand-in for eToken's vendor library, over a directory.
#define SIM_LOGIN_NEEDED cadb::vendor::kETokenLoginNeeded
#include "tests/drivers/modules/token_sim.h"

#define SIM_ETOKEN_ENTRY(role, type, ru, et) SIM_EXPORT_ENTRY(role, type, et)
CADB_TOKEN_FS_ENTRIES(SIM_ETOKEN_ENTRY)
