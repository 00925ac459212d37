#include "crypto/cadb/cert_time.h"

#include <cstring>

namespace cadb {

int CERT_time_to_tm(const ASN1_TIME* t, struct tm* out) {
    if (t == nullptr || out == nullptr) return 0;
    struct tm tm {};
    if (::ASN1_TIME_to_tm(t, &tm) != 1) return 0;
    tm.tm_wday = tm.tm_yday = tm.tm_isdst = 0;
    *out = tm;
    return 1;
}

int CERT_time_cmp(const struct tm& a, const struct tm& b) {
    const int fa[] = {a.tm_year, a.tm_mon, a.tm_mday, a.tm_hour, a.tm_min, a.tm_sec};
    const int fb[] = {b.tm_year, b.tm_mon, b.tm_mday, b.tm_hour, b.tm_min, b.tm_sec};
    for (int i = 0; i < 6; ++i) {
        if (fa[i] != fb[i]) return fa[i] < fb[i] ? -1 : 1;
    }
    return 0;
}

struct tm CERT_time_now() {
    const std::time_t now = std::time(nullptr);
    struct tm tm {};
    gmtime_r(&now, &tm);
    tm.tm_wday = tm.tm_yday = tm.tm_isdst = 0;
    return tm;
}

}  // namespace cadb
