// The GOST R 34.10-2001 key types as libcrypto key methods, published by the
// library's engine.
#pragma once

#include <span>

#include "crypto/core/engine.h"

namespace cadb {

// The key types ECR3410 and ECR3410-CP, built on first use.
std::span<const EngineKeyType> ECGOST_key_types();

}  // namespace cadb
