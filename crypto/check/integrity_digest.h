// Integrity of built-in tables: a GOST R 34.11-94 digest (hash default set,
// zero start value) of the tables, taken on the first check in the process
// and compared on every later one, so that a table damaged in memory is
// caught before anything is computed with it.
#pragma once

#include <functional>

namespace cadb {

struct GOSTH;

class RememberedDigest {
  public:
    // lock: the library lock that guards the remembered value.
    explicit RememberedDigest(int lock) : lock_(lock) {}
    RememberedDigest(const RememberedDigest&) = delete;
    RememberedDigest& operator=(const RememberedDigest&) = delete;

    // Hashes what feed puts into the context. The first successful call
    // remembers the digest and passes; later calls pass only when the digest
    // is the same. False as well when hashing or feed fails.
    bool check(const std::function<bool(GOSTH*)>& feed);

  private:
    int lock_;
    bool set_ = false;
    unsigned char value_[32]{};
};

}  // namespace cadb
