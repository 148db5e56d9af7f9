#pragma once
// The activity log's line kinds written by the window, and the replay of a log onto a setup
// (after a loss of unsaved data). Window-free so it can run headless.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TcvSetup;

// "Mailed <group> <message> <size> <address>"; the size has at least five digits.
std::string MailedLogText(const std::string& groupCode, const std::string& messageCode, long long size,
                          const std::string& email);
// The word of a parser event: Joined, Bounce, Unsbsc, Freeze or Parsed.
const char* ParserEventWord(int action);
std::string ParserEventLogText(int action, const std::string& groupCode, const std::string& email);

// The fields of a log line split at every space, padded to at least seven.
std::vector<std::string> LogLineFields(std::string_view line);
// The time stamp of a log line's first two fields, or 0 when it cannot be read.
double LogLineDateTime(const std::string& date, const std::string& time);

class TcvLogReplay {
public:
    explicit TcvLogReplay(TcvSetup& setup);

    // Applies every line in order; returns the number of entries applied.
    int ApplyLines(const std::vector<std::string>& lines);
    // Applies one line; true when it counted as an applied entry.
    bool ApplyLine(std::string_view line);

    // Reads a text file as lines (CR LF or LF ends); raises when it cannot be read.
    static std::vector<std::string> ReadLines(const std::string& fileName);

    // Shows what is being done.
    std::function<void(const std::string&)> OnStatus;
    // Asked once, at the first "Joined" line: may contacts be added? Without it joins are refused.
    std::function<bool()> OnAskJoin;
    // Runs before each line so the window stays responsive.
    std::function<void()> OnProcessEvents;

    int Count = 0;

private:
    TcvSetup& setup_;
    bool joinAsked_ = false;
    bool joinAgreed_ = false;
};
