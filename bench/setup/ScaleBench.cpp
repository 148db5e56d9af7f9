// The figures of a setup with many contacts, in one run: looking contacts up by address (alone
// and inside the parser actions), replaying an activity log, adding contacts out of order one by
// one and in bulk, loading and saving a generated setup, the peak memory of loading it, and the
// XML layer against pugixml on the same bytes. Every figure is measured several times and shown
// as min and median; the load average is printed beside each row, since the machine may be
// shared.
//
// Usage: corvane_scale_bench [--runs R] [--contacts N] [--big N] [--only GROUPS]
// --big 0 leaves the scaling row out; --only takes a comma-separated choice of lookup, parser,
// replay, adding and file, to profile one part alone.
#include "bench/setup/SetupGenerator.h"
#include "daemon/cvLogReplay.h"
#include "mailtext/IdMessageHelpers.h"
#include "options/OptionRefs.h"
#include "platform/Locale.h"
#include "xml/sdStreams.h"
#include "xml/sdXmlDocuments.h"

#include <pugixml.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int runs = 5;
std::string only;

bool chosen(const char* part) {
    if (only.empty()) return true;
    const std::string list = "," + only + ",";
    return list.find("," + std::string(part) + ",") != std::string::npos;
}

struct Figure {
    double min = 0, median = 0;
};

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Times fn once per run; prepare runs before each and is not timed. Results in seconds.
Figure measure(const std::function<void()>& fn, const std::function<void()>& prepare = {}) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        if (prepare) prepare();
        const auto t0 = Clock::now();
        fn();
        times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

Figure scaled(Figure f, double factor) { return {f.min * factor, f.median * factor}; }

void header() {
    std::printf("%-58s %21s %21s %7s  %-16s %s\n", "figure", "ours min / median", "peer min / median", "ratio", "goal",
                "load average");
}

// A row; a peer of zero is shown as absent. The ratio is of the medians.
void row(const std::string& what, const char* unit, Figure ours, Figure peer, const char* goal) {
    char oursText[64], peerText[64] = "-", ratio[16] = "-";
    std::snprintf(oursText, sizeof oursText, "%.3g / %.3g %s", ours.min, ours.median, unit);
    if (peer.median > 0) {
        std::snprintf(peerText, sizeof peerText, "%.3g / %.3g %s", peer.min, peer.median, unit);
        std::snprintf(ratio, sizeof ratio, "%.2fx", ours.median / peer.median);
    }
    std::printf("%-58s %21s %21s %7s  %-16s %s\n", what.c_str(), oursText, peerText, ratio, goal,
                loadAverage().c_str());
    std::fflush(stdout);
}

std::string withCount(const char* text, int count) { return std::string(text) + " (" + std::to_string(count) + ")"; }

std::vector<std::string> randomAddresses(int count, unsigned seed) {
    static const char* const domains[] = {"example.com",   "example.org", "mail.example.net",
                                          "example.co.uk", "example.de",  "example.nl"};
    std::mt19937 random(seed);
    std::vector<std::string> list;
    list.reserve(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c) {
        const unsigned r = random();
        list.push_back("user" + std::to_string(r % 1000000) + "." + std::to_string(c) + "@" + domains[r % 6]);
    }
    return list;
}

std::unique_ptr<TcvGroup> groupOf(const std::vector<std::string>& addresses) {
    auto group = std::make_unique<TcvGroup>();
    std::vector<std::unique_ptr<TcvContact>> contacts;
    for (const std::string& a : addresses) {
        contacts.push_back(std::make_unique<TcvContact>());
        contacts.back()->Email = a;
    }
    group->AddContacts(std::move(contacts));
    return group;
}

int linearIndexOfEmail(const TcvGroup& g, std::string_view address) {
    for (int i = 0; i < g.ContactCount(); ++i)
        if (platform::sameText(g.Contacts(i)->Email, address)) return i;
    return -1;
}

void lookUps(int count) {
    const std::vector<std::string> addresses = randomAddresses(count, 7);
    const auto group = groupOf(addresses);
    std::vector<std::string> probes;
    std::mt19937 random(3);
    for (int i = 0; i < 2000; ++i) probes.push_back(platform::asciiUpper(addresses[random() % addresses.size()]));
    for (int i = 0; i < 200; ++i) probes.push_back("absent" + std::to_string(i) + "@example.com");
    long found = 0;
    const Figure ours = measure([&] {
        for (const std::string& p : probes) found += group->IndexOfEmail(p);
    });
    const Figure linear = measure([&] {
        for (size_t i = 0; i < probes.size(); i += 20) found += linearIndexOfEmail(*group, probes[i]);
    });
    if (found == 42) std::puts("");
    row(withCount("IndexOfEmail per address; peer: linear search", count), "us", scaled(ours, 1e6 / probes.size()),
        scaled(linear, 1e6 / (probes.size() / 20.0)), "<= 20 us");
}

// One mail per contact address through a parser of the given action, in a group of count
// contacts.
void parserActions(int count) {
    options::ResetToDefaults();
    const std::vector<std::string> addresses = randomAddresses(count, 11);
    for (TcvParserAction action :
         {TcvParserAction::Bounce, TcvParserAction::Freeze, TcvParserAction::UserAction1, TcvParserAction::Unsubscribe,
          TcvParserAction::UnsubscribeAll, TcvParserAction::Delete}) {
        std::unique_ptr<TcvSetup> setup;
        std::vector<std::unique_ptr<mailtext::Mail>> mails;
        size_t next = 0;
        const size_t perRun = 2000;
        auto prepare = [&] {
            if (setup && next + perRun <= mails.size()) return;
            setup = std::make_unique<TcvSetup>();
            for (int g = 0; g < 5; ++g) {
                // The parser's group holds every address; the others a fifth of them and the mailed
                // ones, so Unsubscribe All finds each mailed address in every group.
                std::vector<std::string> part = addresses;
                if (g > 0) {
                    part.assign(addresses.begin() + g * count / 5, addresses.begin() + (g + 1) * count / 5);
                    part.insert(part.end(), addresses.begin(), addresses.begin() + static_cast<long>(perRun) * runs);
                }
                setup->AddGroup(groupOf(part).release());
            }
            auto* parser = new TcvParser;
            parser->Action = action;
            setup->Groups(0)->AddParser(parser);
            next = 0;
            mails.clear();
            for (size_t i = 0; i < perRun * static_cast<size_t>(runs); ++i)
                mails.push_back(
                    mailtext::MessageFromText("From: " + addresses[i] + "\r\nSubject: note\r\n\r\nHello\r\n"));
        };
        prepare();
        const Figure f = measure(
            [&] {
                TcvParser* parser = setup->Groups(0)->Parsers(0);
                for (size_t i = 0; i < perRun; ++i) parser->ParseMessage(mails[next + i].get());
                next += perRun;
            },
            prepare);
        row(withCount(
                (std::string("parser action ") + ParserActionNames[static_cast<int>(action)] + " per mail").c_str(),
                count),
            "us", scaled(f, 1e6 / perRun), {}, "<= 20 us");
    }
}

void logReplay(int count) {
    const std::vector<std::string> addresses = randomAddresses(count, 13);
    std::vector<std::string> lines;
    std::mt19937 random(5);
    for (int i = 0; i < count; ++i) {
        const std::string& a = addresses[random() % addresses.size()];
        if (i % 50 == 49) lines.push_back("2026/12/09 10:00:00 " + ParserEventLogText(2, "GRP", a));
        else lines.push_back("2026/12/09 10:00:00 " + MailedLogText("GRP", "M0" + std::to_string(i % 5), 1234, a));
    }
    std::unique_ptr<TcvSetup> setup;
    auto prepare = [&] {
        setup = std::make_unique<TcvSetup>();
        auto group = groupOf(addresses);
        group->Code = "GRP";
        for (int m = 0; m < 5; ++m) {
            auto* message = new TcvMessage;
            message->Code = "M0" + std::to_string(m);
            group->AddMessage(message);
        }
        setup->AddGroup(group.release());
    };
    const Figure f = measure(
        [&] {
            TcvLogReplay replay(*setup);
            replay.ApplyLines(lines);
        },
        prepare);
    row(withCount("log replay, lines into a group of as many contacts", count), "s", f, {}, "<= 2 s");
}

std::vector<std::unique_ptr<TcvContact>> contactsOf(const std::vector<std::string>& addresses) {
    std::vector<std::unique_ptr<TcvContact>> contacts;
    contacts.reserve(addresses.size());
    for (const std::string& a : addresses) {
        contacts.push_back(std::make_unique<TcvContact>());
        contacts.back()->Email = a;
    }
    return contacts;
}

void adding(int count, bool oneByOne) {
    const std::vector<std::string> shuffled = randomAddresses(count, 17);
    std::vector<std::unique_ptr<TcvContact>> contacts;
    std::unique_ptr<TcvGroup> group;
    auto prepare = [&] {
        group.reset();
        contacts = contactsOf(shuffled);
        group = std::make_unique<TcvGroup>();
    };
    const Figure bulk = measure([&] { group->AddContacts(std::move(contacts)); }, prepare);
    Figure single{};
    if (oneByOne) {
        single = measure(
            [&] {
                for (auto& c : contacts) group->AddContact(c.release());
            },
            prepare);
    }
    row(withCount("adding contacts in random order: AddContacts; peer: one by one", count), "s", bulk, single,
        "<= 0.15 s");
    // In order, as a saved setup comes: every one is appended.
    std::vector<std::string> sorted = shuffled;
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return CompareEmails(a, b) < 0; });
    const Figure inOrder = measure(
        [&] {
            for (auto& c : contacts) group->AddContact(c.release());
        },
        [&] {
            group.reset();
            contacts = contactsOf(sorted);
            group = std::make_unique<TcvGroup>();
        });
    row(withCount("adding contacts in order one by one (appended)", count), "s", inOrder, {}, "O(1) each");
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

long statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Sinks that keep nothing, for timing the XML layers' writing apart from how a growing buffer
// in memory meets the system's page faults (which differ from run to run with the state of the
// heap). Both look at every block they are given the same way.
class CountingStream : public xml::TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count > 0) check += static_cast<const unsigned char*>(buffer)[count - 1];
        bytes += count;
        return count;
    }
    int64_t Seek(int64_t, xml::SeekOrigin) override { return bytes; }
    int64_t bytes = 0;
    unsigned check = 0;
};

class CountingWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        if (size > 0) check += static_cast<const unsigned char*>(data)[size - 1];
        bytes += static_cast<int64_t>(size);
    }
    int64_t bytes = 0;
    unsigned check = 0;
};

// Run as "--peak FILE": loads the file in this fresh process and prints the growth of its peak
// resident memory during the load, in MB.
int peakChild(const char* path) {
    const long before = statusKb("VmRSS:");
    TcvSetup setup;
    setup.LoadFromFile(path);
    std::printf("%f\n", (statusKb("VmHWM:") - before) / 1024.0);
    return 0;
}

// A fresh process, since a forked one would reuse memory this one already holds.
double loadPeakMb(const std::string& path) {
    FILE* child = popen(("/proc/" + std::to_string(getpid()) + "/exe --peak '" + path + "'").c_str(), "r");
    if (!child) return -1;
    double peak = -1;
    if (std::fscanf(child, "%lf", &peak) != 1) peak = -1;
    pclose(child);
    return peak;
}

std::string generatedFile(int count) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("corvane-scale-" + std::to_string(count) + ".xml")).string();
    if (!std::filesystem::exists(path)) GenerateSetup(count)->SaveToFile(path);
    return path;
}

void setupFile(int count, bool withPeer) {
    const std::string path = generatedFile(count);
    const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1024 * 1024);
    std::vector<double> peaks;
    for (int r = 0; r < std::min(runs, 3); ++r) peaks.push_back(loadPeakMb(path));
    std::sort(peaks.begin(), peaks.end());
    char what[128];
    std::snprintf(what, sizeof what, "peak memory loading the setup, x file size (%d, %.0f MB)", count, fileMb);
    row(what, "x", {peaks.front() / fileMb, peaks[peaks.size() / 2] / fileMb}, {}, "<= 3x");

    std::unique_ptr<TcvSetup> setup;
    const Figure load = measure([&] {
        setup = std::make_unique<TcvSetup>();
        setup->LoadFromFile(path);
    });
    row(withCount("LoadFromFile", count), "s", load, {}, "<= 0.3 s (100k)");
    const std::string out = path + ".out";
    const Figure save = measure([&] { setup->SaveToFile(out); });
    row(withCount("SaveToFile", count), "s", save, {}, "<= 0.25 s (100k)");
    if (fileBytes(out) != fileBytes(path)) std::printf("  saved file differs from the loaded one\n");
    std::filesystem::remove(out);
    setup.reset();
    if (!withPeer) return;

    // The XML layer alone against pugixml, alternating on the same bytes in memory.
    const std::string bytes = fileBytes(path);
    std::vector<double> oursParse, peerParse, oursSave, peerSave, oursWrite, peerWrite;
    int64_t oursBytes = 0, peerBytes = 0;
    auto timed = [](std::vector<double>& into, const std::function<void()>& fn) {
        const auto t0 = Clock::now();
        fn();
        into.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    };
    for (int r = 0; r < runs; ++r) {
        {
            xml::TsdXmlDocument document;
            timed(oursParse, [&] {
                xml::TMemoryStream stream(bytes);
                document.LoadStream(stream);
            });
            xml::TMemoryStream saved;
            timed(oursSave, [&] { document.SaveStream(saved); });
            CountingStream counted;
            timed(oursWrite, [&] { document.SaveStream(counted); });
            oursBytes = counted.bytes;
        }
        {
            pugi::xml_document document;
            timed(peerParse, [&] { document.load_buffer(bytes.data(), bytes.size()); });
            std::ostringstream saved;
            timed(peerSave, [&] { document.save(saved, "", pugi::format_raw); });
            CountingWriter counted;
            timed(peerWrite, [&] { document.save(counted, "", pugi::format_raw); });
            peerBytes = counted.bytes;
        }
    }
    auto figure = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return Figure{v.front(), v[v.size() / 2]};
    };
    row(withCount("XML parse of the setup file; peer: pugixml", count), "s", figure(oursParse), figure(peerParse),
        "<= 1.2x");
    row(withCount("XML save of the setup file; peer: pugixml", count), "s", figure(oursSave), figure(peerSave),
        "<= 0.9x");
    row(withCount("XML save into a sink that keeps nothing; peer: pugixml", count), "s", figure(oursWrite),
        figure(peerWrite), "<= 0.9x");
    if (oursBytes != peerBytes)
        std::printf("  (%lld bytes written by ours, %lld by pugixml)\n", static_cast<long long>(oursBytes),
                    static_cast<long long>(peerBytes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peak") == 0) return peakChild(argv[2]);
    int contacts = 100000, big = 1000000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--contacts") == 0) contacts = std::max(10, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--big") == 0) big = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    }
    std::printf("runs per figure: %d; load average at start: %s\n", runs, loadAverage().c_str());
    header();
    if (chosen("lookup")) lookUps(contacts);
    if (chosen("parser")) parserActions(contacts);
    if (chosen("replay")) logReplay(contacts);
    if (chosen("adding")) adding(contacts, true);
    if (chosen("file")) setupFile(contacts, true);
    if (big > 0) {
        std::printf("scaling row\n");
        if (chosen("lookup")) lookUps(big);
        if (chosen("replay")) logReplay(big);
        if (chosen("adding")) adding(big, false);
        if (chosen("file")) setupFile(big, false);
    }
    return 0;
}
