// Column dates and times are decoded by the access layer itself for speed;
// the real client library's own decoding is the reference, for every day the
// server can store and for times across one day.

#include <gtest/gtest.h>
#include <ibase.h>

#include <ctime>

#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/TIBXSQLVAR.h"

namespace {

using fbdetail::TIBXSQLVAR;

TValue Decode(short sqltype, const void* data) {
  XSQLVAR meta{};
  meta.sqltype = sqltype;
  return TIBXSQLVAR::DecodeValue(meta, static_cast<const char*>(data), false, {});
}

TEST(DateDecode, EveryDayOfYearsOneToNineThousandAsTheClientDecodesIt) {
  const fbdetail::ClientApi& api = fbdetail::Api();
  int mismatches = 0;
  for (ISC_DATE day = -678575; day <= 2973483 && mismatches < 5; ++day) {
    std::tm t{};
    api.isc_decode_sql_date(&day, &t);
    const TDate expected{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
    const TValue got = Decode(SQL_TYPE_DATE, &day);
    if (got != TValue(expected)) {
      ADD_FAILURE() << "day " << day << ": " << got.AsString() << " against "
                    << TValue(expected).AsString();
      ++mismatches;
    }
  }
}

TEST(DateDecode, TimesAndTimestampsAsTheClientDecodesThem) {
  const fbdetail::ClientApi& api = fbdetail::Api();
  // About every 7.3 seconds of a day, with a changing fraction.
  for (ISC_TIME tick = 0; tick < 864000000; tick += 73001) {
    std::tm t{};
    api.isc_decode_sql_time(&tick, &t);
    const TTime expected{t.tm_hour, t.tm_min, t.tm_sec, int(tick % 10000)};
    ASSERT_EQ(Decode(SQL_TYPE_TIME, &tick), TValue(expected)) << tick;

    const ISC_TIMESTAMP ts{ISC_DATE(tick / 1000) - 400000, tick};
    api.isc_decode_timestamp(&ts, &t);
    const TDateTime both{{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday}, expected};
    ASSERT_EQ(Decode(SQL_TIMESTAMP, &ts), TValue(both)) << tick;
  }
}

}  // namespace
