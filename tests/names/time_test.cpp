// Broken-down times: parsing of both ASN.1 time types with every field
// checked, offsets, the Gregorian calendar in the arithmetic.
#include <gtest/gtest.h>
#include <openssl/asn1.h>

#include <memory>
#include <string>

#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

struct TimeDeleter {
    void operator()(ASN1_TIME* t) const { ASN1_TIME_free(t); }
};
using TimePtr = std::unique_ptr<ASN1_TIME, TimeDeleter>;

TimePtr make(int type, const std::string& text) {
    TimePtr t(ASN1_TIME_new());
    ASN1_STRING_set(t.get(), text.data(), static_cast<int>(text.size()));
    t->type = type;
    return t;
}

std::string show(const struct tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string parsed(int type, const std::string& text) {
    struct tm t {};
    if (cadb::ASN1_TIME_to_tm(make(type, text).get(), &t) != 1) return "refused";
    EXPECT_EQ(t.tm_wday + t.tm_yday + t.tm_isdst, 0);
    return show(t);
}

TEST(Time, UtcTimeCenturyWindowAndOptionalSeconds) {
    EXPECT_EQ(parsed(V_ASN1_UTCTIME, "491231235959Z"), "2049-12-31 23:59:59");
    EXPECT_EQ(parsed(V_ASN1_UTCTIME, "500101000000Z"), "1950-01-01 00:00:00");
    EXPECT_EQ(parsed(V_ASN1_UTCTIME, "2402291200Z"), "2024-02-29 12:00:00");
    EXPECT_EQ(parsed(V_ASN1_GENERALIZEDTIME, "20240101100000+0300"), "2024-01-01 07:00:00");
    EXPECT_EQ(parsed(V_ASN1_GENERALIZEDTIME, "20240101010000+0300"), "2023-12-31 22:00:00");
    EXPECT_EQ(parsed(V_ASN1_GENERALIZEDTIME, "20231231220000-0330"), "2024-01-01 01:30:00");
    EXPECT_EQ(parsed(V_ASN1_GENERALIZEDTIME, "21001231235959Z"), "2100-12-31 23:59:59");
}

TEST(Time, EveryFieldIsChecked) {
    ERR_clear_error();
    for (const char* bad : {"20230229120000Z", "21000229120000Z", "20240431120000Z",
                            "20240132120000Z", "20240100120000Z", "20241301120000Z",
                            "20240001120000Z", "20240101240000Z", "20240101126000Z",
                            "20240101120060Z", "20240101120000", "20240101120000+2400",
                            "20240101120000+0060", "20240101120000Z1", "2024010112",
                            "20240101120000.5Z", "2024-1-01120000Z", "20240101120000+03"}) {
        EXPECT_EQ(parsed(V_ASN1_GENERALIZEDTIME, bad), "refused") << bad;
    }
    EXPECT_EQ(parsed(V_ASN1_GENERALIZEDTIME, "20000229120000Z"), "2000-02-29 12:00:00");
    EXPECT_EQ(parsed(V_ASN1_UTCTIME, "230229120000Z"), "refused");
    EXPECT_EQ(parsed(V_ASN1_OCTET_STRING, "20240101120000Z"), "refused");
    EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_X509_);
    struct tm t {};
    EXPECT_EQ(cadb::ASN1_TIME_to_tm(nullptr, &t), 0);
}

TEST(Time, ArithmeticFollowsTheGregorianCalendar) {
    struct tm t {};
    ASSERT_EQ(cadb::ASN1_TIME_to_tm(make(V_ASN1_GENERALIZEDTIME, "20240228120000Z").get(), &t), 1);
    ASSERT_EQ(TIME_add(&t, 1, 0, 0), 1);
    EXPECT_EQ(show(t), "2024-02-29 12:00:00");
    ASSERT_EQ(TIME_add(&t, 0, 12, 0), 1);
    EXPECT_EQ(show(t), "2024-03-01 00:00:00");
    ASSERT_EQ(TIME_sub(&t, 0, 0, 1), 1);
    EXPECT_EQ(show(t), "2024-02-29 23:59:00");
    ASSERT_EQ(cadb::ASN1_TIME_to_tm(make(V_ASN1_GENERALIZEDTIME, "21000228000000Z").get(), &t), 1);
    ASSERT_EQ(TIME_add(&t, 1, 0, 0), 1);
    EXPECT_EQ(show(t), "2100-03-01 00:00:00");  // 2100 is not a leap year
    ASSERT_EQ(TIME_add(&t, 365, 0, 0), 1);
    EXPECT_EQ(show(t), "2101-03-01 00:00:00");
    ASSERT_EQ(TIME_adjust(&t, -60 * 24 * 365), 1);
    EXPECT_EQ(show(t), "2100-03-01 00:00:00");
    // Out of range or invalid input leaves the time as it was.
    EXPECT_EQ(TIME_add(&t, 10000L * 366, 0, 0), 0);
    EXPECT_EQ(show(t), "2100-03-01 00:00:00");
    struct tm bad = t;
    bad.tm_mday = 30;
    bad.tm_mon = 1;
    EXPECT_EQ(TIME_add(&bad, 1, 0, 0), 0);
    EXPECT_EQ(TIME_sub(&t, LONG_MIN, 0, 0), 0);
}

// The reading of the system's local clock moved to UTC by its zone offset,
// across a day, a year and a leap day.
TEST(Time, LocalTimesMoveToUtcByTheirOffset) {
    auto local = [](int year, int mon, int day, int h, int m, int s) {
        struct tm t {};
        t.tm_year = year - 1900;
        t.tm_mon = mon - 1;
        t.tm_mday = day;
        t.tm_hour = h;
        t.tm_min = m;
        t.tm_sec = s;
        t.tm_wday = 5;    // the run-time's own fields are not carried
        t.tm_isdst = 1;
        return t;
    };
    struct Case {
        struct tm in;
        long offset;
        int year, mon, day, h, m;
    } cases[] = {
        {local(2024, 1, 1, 1, 30, 15), 3 * 3600, 2023, 12, 31, 22, 30},
        {local(2024, 3, 1, 0, 10, 0), 3 * 3600 + 30 * 60, 2024, 2, 29, 20, 40},
        {local(2023, 12, 31, 20, 0, 59), -5 * 3600, 2024, 1, 1, 1, 0},
        {local(2024, 6, 15, 12, 0, 0), 0, 2024, 6, 15, 12, 0},
    };
    for (const Case& c : cases) {
        struct tm utc {};
        ASSERT_EQ(TIME_local_to_utc(&c.in, c.offset, &utc), 1);
        EXPECT_EQ(utc.tm_year, c.year - 1900);
        EXPECT_EQ(utc.tm_mon, c.mon - 1);
        EXPECT_EQ(utc.tm_mday, c.day);
        EXPECT_EQ(utc.tm_hour, c.h);
        EXPECT_EQ(utc.tm_min, c.m);
        EXPECT_EQ(utc.tm_sec, c.in.tm_sec);
        EXPECT_EQ(utc.tm_wday, 0);
        EXPECT_EQ(utc.tm_isdst, 0);
    }
    struct tm bad = local(2023, 2, 29, 0, 0, 0), out {};
    EXPECT_EQ(TIME_local_to_utc(&bad, 0, &out), 0);
    EXPECT_EQ(TIME_local_to_utc(nullptr, 0, &out), 0);
    // The local reading of now agrees with the UTC clock.
    const std::time_t now = std::time(nullptr);
    struct tm lt {}, from_local {}, utc_now {};
    ASSERT_NE(localtime_r(&now, &lt), nullptr);
    ASSERT_EQ(TIME_local_to_utc(&lt, lt.tm_gmtoff, &from_local), 1);
    ASSERT_NE(gmtime_r(&now, &utc_now), nullptr);
    EXPECT_EQ(from_local.tm_hour, utc_now.tm_hour);
    EXPECT_EQ(from_local.tm_mday, utc_now.tm_mday);
}

TEST(Time, CompareNowAndGeneralized) {
    struct tm a {}, b {};
    ASSERT_EQ(cadb::ASN1_TIME_to_tm(make(V_ASN1_UTCTIME, "991231235959Z").get(), &a), 1);
    ASSERT_EQ(cadb::ASN1_TIME_to_tm(make(V_ASN1_GENERALIZEDTIME, "20000101000000Z").get(), &b), 1);
    EXPECT_LT(TIME_cmp(&a, &b), 0);
    EXPECT_GT(TIME_cmp(&b, &a), 0);
    EXPECT_EQ(TIME_cmp(&a, &a), 0);

    struct tm now {};
    ASSERT_EQ(TIME_now(&now), 1);
    EXPECT_TRUE(TIME_is_valid(&now));
    EXPECT_GT(TIME_cmp(&now, &b), 0);

    ASN1_GENERALIZEDTIME* g = TIME_to_generalized(&a);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(g))),
              "19991231235959Z");
    struct tm back {};
    ASSERT_EQ(cadb::ASN1_TIME_to_tm(g, &back), 1);
    EXPECT_EQ(TIME_cmp(&back, &a), 0);
    ASN1_GENERALIZEDTIME_free(g);
    a.tm_hour = 24;
    EXPECT_EQ(TIME_to_generalized(&a), nullptr);

    struct tm* p = ASN1_TIME_parse(make(V_ASN1_UTCTIME, "240101000000Z").get());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(show(*p), "2024-01-01 00:00:00");
    OPENSSL_free(p);
    EXPECT_EQ(ASN1_TIME_parse(nullptr), nullptr);
}

}  // namespace
}  // namespace cadb
