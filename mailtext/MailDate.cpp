#include "mailtext/MailDate.h"

#include "platform/DateTime.h"

#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeParser.h>
#include <Poco/Timestamp.h>

#include <ctime>
#include <string>

namespace mailtext {

bool ParseMailDate(std::string_view text, double& localDateTime) {
    try {
        Poco::DateTime utc;
        int zone = 0;
        if (!Poco::DateTimeParser::tryParse(Poco::DateTimeFormat::RFC1123_FORMAT, std::string(text), utc, zone) &&
            !Poco::DateTimeParser::tryParse(std::string(text), utc, zone))
            return false;
        // The parser gives the wall time of the sender's zone; utc() brings it to UTC.
        const std::time_t seconds = utc.timestamp().epochTime() - zone;
        std::tm local{};
        if (!localtime_r(&seconds, &local)) return false;
        double result = 0;
        if (!platform::tryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, result)) return false;
        localDateTime = platform::encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                                 local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
        return true;
    } catch (...) {
        return false;
    }
}

bool MailDate(const Mail& mail, double& localDateTime) {
    const std::string date = mail.Headers.value("date");
    return !date.empty() && ParseMailDate(date, localDateTime);
}

}  // namespace mailtext
