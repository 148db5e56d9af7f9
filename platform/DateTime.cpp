#include "platform/DateTime.h"

#include <cmath>
#include <stdexcept>

namespace platform {

namespace {

// Days between 1899-12-30 and 1970-01-01.
constexpr int64_t EpochOffset = 25569;

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

}  // namespace

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

bool isValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

bool tryEncodeDate(int year, int month, int day, double& result) {
    if (!isValidDate(year, month, day)) return false;
    result = static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month),
                                               static_cast<unsigned>(day)) +
                                 EpochOffset);
    return true;
}

double encodeDate(int year, int month, int day) {
    double result = 0;
    if (!tryEncodeDate(year, month, day, result)) throw std::invalid_argument("Invalid argument to date encode");
    return result;
}

double encodeTime(int hour, int minute, int second, int msec) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
        msec > 999)
        throw std::invalid_argument("Invalid argument to time encode");
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
}

double encodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    const double date = encodeDate(year, month, day);
    const double time = encodeTime(hour, minute, second, msec);
    // Before the epoch the time still counts forwards from midnight of that day.
    return date >= 0 ? date + time : date - time;
}

DateParts decodeDateTime(double dateTime) {
    DateParts p;
    double whole = std::trunc(dateTime);
    int64_t msecs = std::llround(std::fabs(dateTime - whole) * MSecsPerDay);
    if (msecs >= static_cast<int64_t>(MSecsPerDay)) msecs = static_cast<int64_t>(MSecsPerDay) - 1;
    civilFromDays(static_cast<int64_t>(whole) - EpochOffset, p.year, p.month, p.day);
    p.msec = static_cast<int>(msecs % 1000);
    msecs /= 1000;
    p.second = static_cast<int>(msecs % 60);
    msecs /= 60;
    p.minute = static_cast<int>(msecs % 60);
    p.hour = static_cast<int>(msecs / 60);
    return p;
}

void decodeDate(double dateTime, int& year, int& month, int& day) {
    const DateParts p = decodeDateTime(dateTime);
    year = p.year;
    month = p.month;
    day = p.day;
}

void decodeTime(double dateTime, int& hour, int& minute, int& second, int& msec) {
    const DateParts p = decodeDateTime(dateTime);
    hour = p.hour;
    minute = p.minute;
    second = p.second;
    msec = p.msec;
}

int dayOfWeek(double dateTime) {
    // 30 December 1899 was a Saturday.
    const int64_t days = static_cast<int64_t>(std::trunc(dateTime));
    int64_t r = (days + 6) % 7;
    if (r < 0) r += 7;
    return static_cast<int>(r) + 1;
}

int32_t dateOf(double dateTime) { return static_cast<int32_t>(std::trunc(dateTime)); }

}  // namespace platform
