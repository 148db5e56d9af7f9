#pragma once
// Date-times are day counts since 30 December 1899 in local time; the fraction is the time of day.
// Negative values count backwards by whole days while the fraction still runs forwards from midnight.
#include <cstdint>
#include <string>

namespace platform {

constexpr double MSecsPerDay = 86400000.0;

bool isLeapYear(int year);
int daysInMonth(int year, int month);
bool isValidDate(int year, int month, int day);

// Throws std::invalid_argument for a date or time that does not exist.
double encodeDate(int year, int month, int day);
double encodeTime(int hour, int minute, int second, int msec);
double encodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                      int msec = 0);
bool tryEncodeDate(int year, int month, int day, double& result);

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
};
DateParts decodeDateTime(double dateTime);
void decodeDate(double dateTime, int& year, int& month, int& day);
void decodeTime(double dateTime, int& hour, int& minute, int& second, int& msec);

// 1 = Sunday ... 7 = Saturday.
int dayOfWeek(double dateTime);
// The whole day, truncated towards zero.
int32_t dateOf(double dateTime);

}  // namespace platform
