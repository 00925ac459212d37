#include "crypto/core/err.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/err.h>

#include <string>
#include <thread>

namespace cadb {
namespace {

TEST(ErrorQueue, FifoWithFileAndLine) {
    ERR_clear_error();
    ERR_put_error(ERR_LIB_GOSTE, 100, ERR_R_MALLOC, "a.cpp", 7);
    ERR_put_error(ERR_LIB_PSE, 102, ERR_R_INTERNAL, "b.cpp", 9);
    EXPECT_EQ(ERR_peek_error(), ERR_pack_code(72, 100, 33));
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(74, 102, 12));
    const char* file = nullptr;
    int line = 0;
    unsigned long e = ERR_get_error_line(&file, &line);
    EXPECT_EQ(ERR_code_lib(e), 72);
    EXPECT_EQ(ERR_code_func(e), 100);
    EXPECT_EQ(ERR_code_reason(e), 33);
    EXPECT_STREQ(file, "a.cpp");
    EXPECT_EQ(line, 7);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(74, 102, 12));
    EXPECT_EQ(ERR_get_error(), 0UL);
}

TEST(ErrorQueue, BoundedKeepsNewest) {
    ERR_clear_error();
    for (int i = 1; i <= 100; ++i) ERR_put_error(ERR_LIB_CADB, i, 1, __FILE__, __LINE__);
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(66, 100, 1));
    int n = 0;
    while (ERR_get_error()) ++n;
    EXPECT_GT(n, 0);
    EXPECT_LT(n, 100);
}

TEST(ErrorQueue, PopToMarkKeepsOlderRecords) {
    ERR_clear_error();
    EXPECT_EQ(ERR_set_mark(), 0);  // nothing to mark
    ERR_put_error(ERR_LIB_CADB, 1, 1, __FILE__, __LINE__);
    EXPECT_EQ(ERR_set_mark(), 1);
    ERR_put_error(ERR_LIB_CADB, 2, 2, __FILE__, __LINE__);
    ERR_put_error(ERR_LIB_CADB, 3, 3, __FILE__, __LINE__);
    EXPECT_EQ(ERR_pop_to_mark(), 1);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(66, 1, 1));
    EXPECT_EQ(ERR_get_error(), 0UL);
    EXPECT_EQ(ERR_pop_to_mark(), 0);
}

TEST(ErrorQueue, MarksOnOneRecordNest) {
    ERR_clear_error();
    ERR_put_error(ERR_LIB_CADB, 1, 1, __FILE__, __LINE__);  // the caller's
    EXPECT_EQ(ERR_set_mark(), 1);
    EXPECT_EQ(ERR_set_mark(), 1);
    EXPECT_EQ(ERR_pop_to_mark(), 1);
    ERR_put_error(ERR_LIB_CADB, 2, 2, __FILE__, __LINE__);
    EXPECT_EQ(ERR_set_mark(), 1);
    EXPECT_EQ(ERR_clear_last_mark(), 1);
    EXPECT_EQ(ERR_pop_to_mark(), 1);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(66, 1, 1));
    EXPECT_EQ(ERR_get_error(), 0UL);
}

TEST(ErrorQueue, StateIsPerThread) {
    ERR_clear_error();
    ERR_set_last_error(ERR_CLASS_MAC_MISMATCH);
    ERR_put_error(ERR_LIB_CADB, 1, 1, __FILE__, __LINE__);
    std::thread([] {
        EXPECT_EQ(ERR_peek_error(), 0UL);
        EXPECT_EQ(ERR_get_last_error(), 0);
        ERR_set_last_error(ERR_CLASS_INTERNAL);
    }).join();
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_MAC_MISMATCH);
    EXPECT_NE(ERR_get_error(), 0UL);
}

TEST(ErrorQueue, FirstTokenCodeWinsUntilReset) {
    ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    ERR_set_last_rv(0xA0, TOKEN_CODE_PKCS11);
    ERR_set_last_rv(0xE0, TOKEN_CODE_VENDOR);
    EXPECT_EQ(ERR_get_last_rv(), 0xA0UL);
    EXPECT_EQ(ERR_get_last_rv_kind(), TOKEN_CODE_PKCS11);
    ERR_reset_last_rv(0xE0, TOKEN_CODE_VENDOR);
    EXPECT_EQ(ERR_get_last_rv(), 0xE0UL);
    EXPECT_EQ(ERR_get_last_rv_kind(), TOKEN_CODE_VENDOR);
    ERR_remove_state();
    EXPECT_EQ(ERR_get_last_rv(), 0UL);
}

TEST(ErrorQueue, LibcryptoFailuresMoveOver) {
    ERR_clear_error();
    ::ERR_clear_error();
    EXPECT_EQ(BIO_new_file("/nonexistent/dir/file", "r"), nullptr);
    EXPECT_NE(::ERR_peek_error(), 0UL);
    ERR_move_openssl_errors(ERR_LIB_CADB, 5);
    EXPECT_EQ(::ERR_peek_error(), 0UL);
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(ERR_LIB_CADB, 5, ERR_LIB_OPENSSL));
    ERR_clear_error();
}

// libcrypto frees its entries' file names when its queue is cleared and its
// slots are used again; the moved entries still name the file.
TEST(ErrorQueue, MovedEntriesKeepTheirFileNames) {
    ERR_clear_error();
    ::ERR_clear_error();
    EXPECT_EQ(BIO_new_file("/nonexistent/dir/file", "r"), nullptr);
    ERR_move_openssl_errors(ERR_LIB_CADB, 5);
    for (int i = 0; i < 40; ++i) {
        ::ERR_clear_error();
        EXPECT_EQ(BIO_new_file("/nonexistent/dir/other", "r"), nullptr);
    }
    ::ERR_clear_error();
    const char* file = nullptr;
    int line = 0;
    ASSERT_EQ(ERR_code_lib(ERR_get_error_line(&file, &line)), ERR_LIB_OPENSSL);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(std::string(file).find("bss_file.c"), std::string::npos) << file;
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
