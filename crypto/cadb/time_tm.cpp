#include "crypto/cadb/time_tm.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "crypto/core/err.h"

namespace cadb {
namespace {

constexpr long kMinutesPerDay = 24 * 60;

bool leap(long year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int month_days(long year, int month0) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month0 == 1 && leap(year) ? 29 : kDays[month0];
}

// Days since 1 January 1970 of a Gregorian date (any year), and back.
long days_from_civil(long y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(long z, long& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

struct tm make_tm(long year, int month0, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = static_cast<int>(year - 1900);
    t.tm_mon = month0;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// The value of n digits (n <= 18, so that ten digits cannot overflow), or -1.
long digits(const unsigned char* p, int n) {
    long v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// Moves a valid time by whole minutes, keeping its seconds.
bool shift_minutes(struct tm* t, long minutes) {
    if (!TIME_is_valid(t)) return false;
    const long day = days_from_civil(t->tm_year + 1900L, t->tm_mon + 1, t->tm_mday);
    const long of_day = t->tm_hour * 60L + t->tm_min;
    // Bounded well inside long: years 0-9999 are about 5.3e9 minutes.
    constexpr long kLimit = 10000L * 366 * kMinutesPerDay;
    if (minutes > kLimit || minutes < -kLimit) return false;
    long total = day * kMinutesPerDay + of_day + minutes;
    long new_day = total / kMinutesPerDay, rest = total % kMinutesPerDay;
    if (rest < 0) {
        rest += kMinutesPerDay;
        --new_day;
    }
    long y = 0;
    int m = 0, d = 0;
    civil_from_days(new_day, y, m, d);
    if (y < 0 || y > 9999) return false;
    *t = make_tm(y, m - 1, d, static_cast<int>(rest / 60), static_cast<int>(rest % 60), t->tm_sec);
    return true;
}

}  // namespace

bool TIME_is_valid(const struct tm* t) {
    if (t == nullptr) return false;
    const long year = t->tm_year + 1900L;
    return year >= 0 && year <= 9999 && t->tm_mon >= 0 && t->tm_mon <= 11 && t->tm_mday >= 1 &&
           t->tm_mday <= month_days(year, t->tm_mon) && t->tm_hour >= 0 && t->tm_hour <= 23 &&
           t->tm_min >= 0 && t->tm_min <= 59 && t->tm_sec >= 0 && t->tm_sec <= 59;
}

int TIME_local_to_utc(const struct tm* local, long offset_seconds, struct tm* out) {
    if (local == nullptr || out == nullptr) return 0;
    struct tm t = make_tm(local->tm_year + 1900L, local->tm_mon, local->tm_mday, local->tm_hour,
                          local->tm_min, local->tm_sec > 59 ? 59 : local->tm_sec);
    if (!shift_minutes(&t, -(offset_seconds / 60))) return 0;
    *out = t;
    return 1;
}

int TIME_now(struct tm* out) {
    if (out == nullptr) return 0;
    struct timespec ts {};
    struct tm t {};
    if (clock_gettime(CLOCK_REALTIME, &ts) == 0 && gmtime_r(&ts.tv_sec, &t) != nullptr) {
        *out = make_tm(t.tm_year + 1900L, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min,
                       t.tm_sec > 59 ? 59 : t.tm_sec);
        return 1;
    }
    // The coarse clock behind time() may still answer; its local reading
    // carries the zone offset that brings it back to UTC.
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &t) == nullptr) return 0;
    return TIME_local_to_utc(&t, t.tm_gmtoff, out);
}

int ASN1_TIME_to_tm(const ASN1_TIME* t, struct tm* out) {
    auto fail = [] {
        CADB_ERR(ERR_LIB_X509_, X509_F_ASN1_TIME_TO_TM, ERR_R_INTERNAL);
        return 0;
    };
    if (t == nullptr || out == nullptr) return fail();
    const int type = ASN1_STRING_type(t);
    if (type != V_ASN1_UTCTIME && type != V_ASN1_GENERALIZEDTIME) return fail();
    const unsigned char* p = ASN1_STRING_get0_data(t);
    const int len = ASN1_STRING_length(t);
    if (p == nullptr || len < 10 || digits(p, 10) < 0) return fail();
    int pos = 0;
    long year = 0;
    if (type == V_ASN1_UTCTIME) {
        year = digits(p, 2);
        year += year < 50 ? 2000 : 1900;
        pos = 2;
    } else {
        year = digits(p, 4);
        pos = 4;
    }
    auto two = [&]() -> int {
        if (pos + 2 > len) return -1;
        const int v = static_cast<int>(digits(p + pos, 2));
        pos += 2;
        return v;
    };
    const int month = two(), day = two(), hour = two(), minute = two();
    if (month < 1 || day < 0 || hour < 0 || minute < 0) return fail();
    int second = 0;
    if (pos < len && p[pos] >= '0' && p[pos] <= '9') {
        second = two();
        if (second < 0) return fail();
    }
    struct tm result = make_tm(year, month - 1, day, hour, minute, second);
    if (month > 12 || !TIME_is_valid(&result) || pos >= len) return fail();
    if (p[pos] == 'Z') {
        if (pos + 1 != len) return fail();
    } else if (p[pos] == '+' || p[pos] == '-') {
        const long sign = p[pos] == '+' ? 1 : -1;
        ++pos;
        const int oh = two(), om = two();
        if (oh < 0 || om < 0 || oh > 23 || om > 59 || pos != len) return fail();
        // The local time minus its offset is UTC.
        if (!shift_minutes(&result, -sign * (oh * 60L + om))) return fail();
    } else {
        return fail();
    }
    *out = result;
    return 1;
}

struct tm* ASN1_TIME_parse(const ASN1_TIME* t) {
    struct tm parsed {};
    if (!cadb::ASN1_TIME_to_tm(t, &parsed)) return nullptr;
    auto* out = static_cast<struct tm*>(OPENSSL_malloc(sizeof(struct tm)));
    if (out == nullptr) {
        CADB_ERR(ERR_LIB_X509_, X509_F_ASN1_TIME_PARSE, ERR_R_MALLOC);
        return nullptr;
    }
    *out = parsed;
    return out;
}

ASN1_GENERALIZEDTIME* TIME_to_generalized(const struct tm* t) {
    if (!TIME_is_valid(t)) {
        CADB_ERR(ERR_LIB_X509_, X509_F_TIME_TO_GENERALIZED, ERR_R_INTERNAL);
        return nullptr;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02dZ", t->tm_year + 1900, t->tm_mon + 1,
                  t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec);
    ASN1_GENERALIZEDTIME* g = ASN1_GENERALIZEDTIME_new();
    if (g == nullptr || !ASN1_GENERALIZEDTIME_set_string(g, text)) {
        ASN1_GENERALIZEDTIME_free(g);
        CADB_ERR(ERR_LIB_X509_, X509_F_TIME_TO_GENERALIZED, ERR_R_MALLOC);
        return nullptr;
    }
    return g;
}

int TIME_cmp(const struct tm* a, const struct tm* b) {
    const int fa[] = {a->tm_year, a->tm_mon, a->tm_mday, a->tm_hour, a->tm_min, a->tm_sec};
    const int fb[] = {b->tm_year, b->tm_mon, b->tm_mday, b->tm_hour, b->tm_min, b->tm_sec};
    for (int i = 0; i < 6; ++i)
        if (fa[i] != fb[i]) return fa[i] < fb[i] ? -1 : 1;
    return 0;
}

int TIME_add(struct tm* t, long days, long hours, long minutes) {
    constexpr long kLimit = 10000L * 366;
    if (days < -kLimit || days > kLimit || hours < -24 * kLimit || hours > 24 * kLimit)
        return 0;
    struct tm moved = t != nullptr ? *t : tm{};
    if (!shift_minutes(&moved, days * kMinutesPerDay + hours * 60) ||
        !shift_minutes(&moved, minutes))
        return 0;
    *t = moved;
    return 1;
}

int TIME_sub(struct tm* t, long days, long hours, long minutes) {
    if (days == LONG_MIN || hours == LONG_MIN || minutes == LONG_MIN) return 0;
    return TIME_add(t, -days, -hours, -minutes);
}

int TIME_adjust(struct tm* t, long minutes) {
    if (t == nullptr) return 0;
    struct tm moved = *t;
    if (!shift_minutes(&moved, minutes)) return 0;
    *t = moved;
    return 1;
}

}  // namespace cadb
