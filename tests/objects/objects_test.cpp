#include "crypto/core/objects.h"

#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <string>

namespace cadb {
namespace {

TEST(Objects, EveryEntryRoundTrips) {
    ASSERT_EQ(OBJ_init(), 1);
    for (int nid = 171; nid <= NID_BIOMETRIC_INFO; ++nid) {
        const ObjEntry* e = OBJ_entry(nid);
        if (e == nullptr) continue;
        SCOPED_TRACE(e->sn);
        EXPECT_EQ(OBJ_openssl2nid(e->openssl_nid), nid);
        EXPECT_EQ(OBJ_nid2openssl(nid), e->openssl_nid);
        EXPECT_EQ(OBJ_sn2nid(e->sn), nid);
        EXPECT_EQ(OBJ_ln2nid(e->ln), nid);
        EXPECT_EQ(OBJ_txt2nid(e->oid), nid);
        char buf[80];
        ASSERT_GT(OBJ_nid2oid(nid, buf, sizeof buf), 0);
        EXPECT_EQ(std::string(buf), e->oid);
        EXPECT_EQ(cadb::OBJ_obj2nid(OBJ_nid2obj(nid)), nid);
    }
}

}  // namespace
}  // namespace cadb
