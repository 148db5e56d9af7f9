#include "mailtext/IdMessageHelpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace mailtext;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path realDataDir() {
    if (const char* dir = std::getenv("CORVANE_REALDATA")) return dir;
    // Beside the project folder, as the shared data is laid out.
    return fs::path(CORVANE_SOURCE_DIR) / ".." / "shared" / "realdata";
}

}  // namespace

TEST(BadInput, MalformedMailsAreReadAsFarAsPossible) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no blank line", "Subject: s\r\nnot a header line\r\nmore"},
        {"missing boundary", "Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\ntext\r\n--x--\r\n"},
        {"unclosed boundary", "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\nContent-Type: text/plain\r\n\r\nkept\r\n"},
        {"bad base64", "Content-Transfer-Encoding: base64\r\n\r\n!!!!****\r\nQUJD\r\n"},
        {"bad quoted-printable", "Content-Transfer-Encoding: quoted-printable\r\n\r\nabc=ZZdef=\r\n=4\r\n"},
        {"8-bit header", "Subject: \xE9t\xE9 \xFF\xFE\r\nFrom: \xC0\xC1 <a@b>\r\n\r\nx\r\n"},
        {"bad encoded word", "Subject: =?nosuch-charset?q?x=ZZ?= =?utf-8?b?####?=\r\n\r\nx\r\n"},
        {"empty", ""},
        {"only dot", ".\r\n"},
        {"header without colon", "garbage\r\n\r\nbody\r\n"},
        {"huge header value", "Subject: " + std::string(100000, 'a') + "\r\n\r\nbody\r\n"},
        {"many headers", [] { std::string s; for (int i = 0; i < 5000; ++i) s += "X-H: v\r\n"; return s + "\r\nbody\r\n"; }()},
        {"nested too deep", [] {
             std::string s = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
             for (int i = 1; i < 200; ++i) s += "--b" + std::to_string(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n";
             return s + "--b199\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
         }()},
    };
    for (const auto& [name, text] : cases) {
        std::unique_ptr<Mail> m;
        ASSERT_NO_THROW(m = MessageFromText(text)) << name;
        ASSERT_TRUE(m) << name;
        std::string body;
        EXPECT_NO_THROW(body = MessageBodyText(*m)) << name;
        EXPECT_NO_THROW(HeaderSummary(*m)) << name;
        EXPECT_NO_THROW(MessageToText(m.get())) << name;
    }
}

TEST(BadInput, WhatPrecedesABrokenPartIsKept) {
    auto m = MessageFromText("Subject: s\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n****\r\n");
    EXPECT_EQ(m->Subject, "s");
    EXPECT_EQ(m->bodyText().substr(0, 3), "ABC");
    auto unclosed = MessageFromText("Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\nContent-Type: text/plain\r\n\r\nkept\r\n");
    EXPECT_NE(MessageBodyText(*unclosed).find("kept"), std::string::npos);
    auto noBlank = MessageFromText("Subject: s\r\nX: y\r\n");
    EXPECT_EQ(noBlank->Subject, "s");
}

TEST(BadInput, TwentyMegabyteBodyIsReadWhole) {
    std::string body;
    body.reserve(21 * 1024 * 1024);
    std::string line(78, 'x');
    while (body.size() < 20 * 1024 * 1024) body += line + "\r\n";
    auto m = MessageFromText("Subject: big\r\nContent-Type: text/html\r\n\r\n<p>" + body + "</p>\r\n");
    EXPECT_EQ(m->Subject, "big");
    EXPECT_GT(m->Body.size(), 250000u);
    m->TextParts.push_back({m->Headers, m->Body});
    std::string text = MessageBodyText(*m);
    // Rendered, the line breaks of the source collapse into spaces.
    EXPECT_GT(text.size(), 20u * 1000 * 1000);
    EXPECT_EQ(text.substr(text.size() - 4), "xx\r\n");
}

TEST(RealMime, EverySampleReadsAndYieldsItsText) {
    fs::path mime = realDataDir() / "mime";
    if (!fs::is_directory(mime)) GTEST_SKIP() << "no real-world samples at " << mime;
    // Per file: a text/plain part with no attachment beside it and no structural defect, so its
    // text must show; attachments inside a multipart, so they must be found.
    std::map<std::string, std::pair<bool, bool>> features;
    std::istringstream tsv(readFile(mime / "FEATURES.tsv"));
    std::string line;
    while (std::getline(tsv, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::istringstream row(line);
        std::string col;
        while (std::getline(row, col, '\t')) cols.push_back(col);
        if (cols.size() < 8) continue;
        bool defects = cols.size() > 8 && !cols[8].empty();
        int attachments = std::atoi(cols[7].c_str());
        features[cols[0]] = {cols[3] == "1" && attachments == 0 && !defects,
                             attachments > 0 && cols[1].rfind("multipart/", 0) == 0};
    }
    int read = 0;
    for (const auto& entry : fs::recursive_directory_iterator(mime)) {
        if (!entry.is_regular_file() || entry.path().parent_path().filename() == "mime4j-expected") continue;
        std::string rel = fs::relative(entry.path(), mime).generic_string();
        if (rel == "FEATURES.tsv" || rel.find(".md") != std::string::npos) continue;
        std::string text = readFile(entry.path());
        std::unique_ptr<Mail> m;
        ASSERT_NO_THROW(m = MessageFromText(text)) << rel;
        std::string body = MessageBodyText(*m);
        ++read;
        auto f = features.find(rel);
        if (f == features.end()) continue;
        if (f->second.first) {
            EXPECT_FALSE(body.empty()) << rel;
        }
        if (f->second.second) {
            EXPECT_FALSE(m->Attachments.empty()) << rel;
        }
    }
    EXPECT_GT(read, 20);
}

TEST(RealMime, DecodedBodiesMatchTheExpectedText) {
    fs::path mime = realDataDir() / "mime";
    if (!fs::is_directory(mime)) GTEST_SKIP() << "no real-world samples at " << mime;
    for (const char* name : {"base64-encoded-text", "basic-plain-very-long-lines"}) {
        auto m = MessageFromText(readFile(mime / "mime4j" / (std::string(name) + ".msg")));
        std::string expected = readFile(mime / "mime4j-expected" / (std::string(name) + "_decoded_1.txt"));
        auto norm = [](const std::string& s) {
            std::string out;
            for (const auto& l : splitLines(s)) out += l + "\n";
            return out;
        };
        EXPECT_EQ(norm(MessageBodyText(*m)), norm(expected)) << name;
    }
    // ISO-8859-15 text: its euro sign (0xA4 there) is 0x80 in the code page.
    auto qp = MessageFromText(readFile(mime / "mime4j" / "qp-body.msg"));
    EXPECT_EQ(MessageBodyText(*qp), "7bit content with euro \x80 symbol \r\n");
}
