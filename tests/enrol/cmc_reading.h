// What the tests of signed and CMC requests share: the library started once
// in the test process (its CMC reader reads what the enrolment object handed
// out), owned CMC records, files and buffers as bytes, controls by type.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "crypto/cms/cmc.h"
#include "crypto/init/init.h"

namespace cadb::enrol::test {

class LibraryEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(cadb::CADB_init(), 1); }
    void TearDown() override { cadb::CADB_cleanup(); }
};
[[maybe_unused]] inline auto* const g_library_environment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

struct CmcFree {
    void operator()(CMC* c) const { CMC_free(c); }
};
using CmcPtr = std::unique_ptr<CMC, CmcFree>;

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string bytes_of(const BUFFER* b) {
    return b == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(b->data),
                                      static_cast<std::size_t>(b->length));
}

// The first control of the type, or null.
inline const CMS_TATTR* control(const CMC* cmc, int nid) {
    for (int i = 0; i < sk_CMS_TATTR_num(cmc->controls); ++i)
        if (sk_CMS_TATTR_value(cmc->controls, i)->type == nid)
            return sk_CMS_TATTR_value(cmc->controls, i);
    return nullptr;
}

}  // namespace cadb::enrol::test
