// DateTime values: aware datetime objects to and from microseconds since the epoch.
#include "bridge.hpp"

#include <datetime.h>

namespace vornc_bridge {
namespace {

constexpr int64_t kMicrosPerDay = 86400LL * 1000000LL;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) noexcept {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

int datetime_import() noexcept {
    PyDateTime_IMPORT;
    return PyDateTimeAPI ? 0 : -1;
}

bool datetime_to_micros(PyObject* value, int64_t* out) noexcept {
    if (!PyDateTime_Check(value)) {
        PyErr_Format(PyExc_TypeError, "expected datetime.datetime for DateTime, got %.200s",
                     Py_TYPE(value)->tp_name);
        return false;
    }
    PyObject* tz = PyDateTime_DATE_GET_TZINFO(value);
    int64_t offset_us = 0;
    if (tz != PyDateTime_TimeZone_UTC) {
        Ref offset = Ref::steal(PyObject_CallMethodNoArgs(value, str<"utcoffset">()));
        if (!offset) return false;
        if (offset.get() == Py_None) {
            PyErr_SetString(PyExc_ValueError,
                            "DateTime values must be timezone-aware; got a naive datetime");
            return false;
        }
        if (!PyDelta_Check(offset.get())) {
            PyErr_SetString(PyExc_TypeError, "utcoffset() did not return a timedelta");
            return false;
        }
        offset_us = (static_cast<int64_t>(PyDateTime_DELTA_GET_DAYS(offset.get())) * 86400 +
                     PyDateTime_DELTA_GET_SECONDS(offset.get())) *
                        1000000 +
                    PyDateTime_DELTA_GET_MICROSECONDS(offset.get());
    }
    int64_t days = days_from_civil(PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value),
                                   PyDateTime_GET_DAY(value));
    int64_t secs = PyDateTime_DATE_GET_HOUR(value) * 3600 + PyDateTime_DATE_GET_MINUTE(value) * 60 +
                   PyDateTime_DATE_GET_SECOND(value);
    *out = days * kMicrosPerDay + secs * 1000000 + PyDateTime_DATE_GET_MICROSECOND(value) - offset_us;
    return true;
}

PyObject* micros_to_datetime(int64_t micros) noexcept {
    int64_t days = micros / kMicrosPerDay;
    int64_t rest = micros % kMicrosPerDay;
    if (rest < 0) {
        rest += kMicrosPerDay;
        days -= 1;
    }
    int64_t y;
    unsigned m, d;
    civil_from_days(days, &y, &m, &d);
    if (y < 1 || y > 9999) {
        PyErr_SetString(PyExc_OverflowError, "DateTime value outside the years 1 to 9999 of datetime");
        return nullptr;
    }
    int secs = static_cast<int>(rest / 1000000);
    return PyDateTimeAPI->DateTime_FromDateAndTime(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d),
                                                   secs / 3600, secs / 60 % 60, secs % 60,
                                                   static_cast<int>(rest % 1000000), PyDateTime_TimeZone_UTC,
                                                   PyDateTimeAPI->DateTimeType);
}

}  // namespace vornc_bridge
