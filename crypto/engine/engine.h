// The in-process OpenSSL engine that publishes the GOST digest, cipher and
// key-type records. OpenSSL 3.0 decodes a key type that no provider knows
// only through an engine's methods, so the engine is made the default for
// everything it offers as soon as the library starts.
#pragma once

#include <openssl/engine.h>
#include <openssl/evp.h>

#include <span>

#include "crypto/core/gost_pkey.h"

namespace cadb {

// Builds the engine once, registers the object numbers, the records and
// their names, and makes the engine the default. Safe from any thread;
// later calls return the first call's result. 1/0.
int ENGINE_load_cadb();

// The engine after ENGINE_load_cadb, else nullptr. The library keeps its
// reference for the whole process.
ENGINE* ENGINE_get_cadb();

}  // namespace cadb
