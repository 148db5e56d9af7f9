#pragma once
// Running a mail kept by a mail client through a group's parsers, as if it had just arrived.
#include <string>

class TcvGroup;

// Offers the mail to the group's started parsers in their order until one handles it; true when
// one did. An empty text is no mail. A mail that cannot be read whole is offered as far as it was
// read. The parsers may ask the user questions: when the group is deleted meanwhile the offer ends.
bool ParseStoredMail(TcvGroup& group, const std::string& text);
