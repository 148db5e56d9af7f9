#include "model/cvSetup.h"

#include "mailtext/Mail.h"

#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "platform/SafeFile.h"

#include <QString>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

std::string timeStamp() {
    const platform::DateParts p = platform::decodeDateTime(platform::now());
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d %02d%c%02d%c%02d", p.year, platform::dateSeparator(), p.month,
                  platform::dateSeparator(), p.day, p.hour, platform::timeSeparator(), p.minute,
                  platform::timeSeparator(), p.second);
    return buf;
}

void trimLog(const std::string& path, int64_t size, int64_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::vector<std::string> lines = mailtext::splitLines(content);
    size_t first = 0;
    while (first < lines.size() && size >= static_cast<int64_t>(0.9 * static_cast<double>(limit))) {
        size -= static_cast<int64_t>(lines[first].size()) + 2;
        ++first;
    }
    std::string out;
    for (size_t i = first; i < lines.size(); ++i) {
        out.append(lines[i]);
        out += "\r\n";
    }
    // Replace the file whole, so a crash while trimming cannot lose the log.
    platform::replaceFileContents(QString::fromStdString(path), out);
}

std::function<void(const std::string&)>& logObserver() {
    static std::function<void(const std::string&)> observer;
    return observer;
}

}  // namespace

void SetLogObserver(std::function<void(const std::string& line)> observer) { logObserver() = std::move(observer); }

void AppendLogLine(const std::string& path, std::string_view text) {
    if (path.empty()) return;
    try {
        const std::string line = timeStamp() + " " + std::string(text) + "\r\n";
        if (logObserver()) logObserver()(line.substr(0, line.size() - 2));
        int64_t size = 0;
        {
            std::ofstream out(path, std::ios::binary | std::ios::app);
            if (!out) return;
            out.write(line.data(), static_cast<std::streamsize>(line.size()));
            out.flush();
            if (!out) return;
            size = static_cast<int64_t>(out.tellp());
        }
        const int64_t limit = static_cast<int64_t>(options::LogMaxSize) * 1024;
        if (options::LogLimitSize && static_cast<double>(size) > 1.1 * static_cast<double>(limit))
            trimLog(path, size, limit);
    } catch (...) {
        // Writing the log never reports an error; the line may be lost.
    }
}
