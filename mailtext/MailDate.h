#pragma once
// The date a received mail carries in its "Date" header, as a local date-time.
#include "mailtext/Mail.h"

#include <string_view>

namespace mailtext {

// Reads an RFC 5322 date ("Tue, 1 Jul 2003 10:52:37 +0200" and the usual variants) as local time;
// false when the text is not a date.
bool ParseMailDate(std::string_view text, double& localDateTime);
// The mail's date; false when it has none that can be read.
bool MailDate(const Mail& mail, double& localDateTime);

}  // namespace mailtext
