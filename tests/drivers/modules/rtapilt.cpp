// Stand-in for ruToken's vendor library, over a directory.
#define SIM_LOGIN_NEEDED cadb::vendor::kRuTokenLoginNeeded
#include "tests/drivers/modules/token_sim.h"

#define SIM_RUTOKEN_ENTRY(role, type, ru, et) SIM_EXPORT_ENTRY(role, type, ru)
CADB_TOKEN_FS_ENTRIES(SIM_RUTOKEN_ENTRY)
