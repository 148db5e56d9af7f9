// Time a parser spends on one incoming mail's body, which any sender chooses:
//  - ParseImportVars alone, and the same rules applied by erasing in place (the way the
//    extraction used to work) as the peer, on the small bodies only, since it is quadratic;
//  - ParseMessage of a whole mail by a Bounce parser that finds no contact (so nothing changes).
// Bodies mix name=value lines, names whose value is on the next line, prose and blank lines.
//
// Usage: corvane_parser_bench [--runs R]
#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "tests/support/ImportVarsReference.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string bodyOf(size_t bytes) {
    static const char* const lines[] = {"firstname = Ann", "Company=", "ACME Trading", "", "Thank you for your order.",
                                        "  note = a=b  ", "\t", "email=", "ann@example.org", "Lorem ipsum dolor sit amet"};
    std::string body;
    body.reserve(bytes + 64);
    for (size_t i = 0; body.size() < bytes; ++i) {
        body += lines[i % (sizeof lines / sizeof *lines)];
        body += "\r\n";
    }
    body.resize(bytes);
    return body;
}

// Best of the runs, in seconds.
double best(int runs, const std::function<void()>& fn) {
    double result = 1e30;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        fn();
        result = std::min(result, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    options::ResetToDefaults();
    TcvSetup setup;
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    auto* parser = new TcvParser;
    group->AddParser(parser);
    // A bounce for an address the group does not hold: the whole mail is read, nothing changes.
    parser->Action = TcvParserAction::Bounce;

    std::printf("%-10s %12s %12s %8s %14s %10s\n", "body", "extract s", "erasing s", "ratio", "ParseMessage s", "variables");
    for (size_t kb : {70, 140, 280, 10 * 1024}) {
        const std::string body = bodyOf(kb * 1024);
        TStringList vars;
        const double extract = best(runs, [&] {
            TStringList fresh;
            TcvParser::ParseImportVars(body, fresh);
            vars = std::move(fresh);
        });
        double erasing = 0;
        if (kb <= 280) {
            erasing = best(runs, [&] {
                if (testsupport::stepByStepImportVars(body) != vars) std::abort();
            });
        }
        const auto mail = mailtext::MessageFromText("From: ann@example.org\r\nSubject: join\r\n\r\n" + body);
        const double parse = best(runs, [&] { parser->ParseMessage(mail.get()); });
        char erasingText[32] = "-", ratio[32] = "-";
        if (erasing > 0) {
            std::snprintf(erasingText, sizeof erasingText, "%.4f", erasing);
            std::snprintf(ratio, sizeof ratio, "%.0fx", erasing / extract);
        }
        std::printf("%-10s %12.4f %12s %8s %14.4f %10zu\n", (std::to_string(kb) + " KB").c_str(), extract, erasingText,
                    ratio, parse, vars.size());
    }
    return 0;
}
