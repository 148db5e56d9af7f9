#include "mailtext/HtmlHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace mailtext;

namespace {

std::string mailto(const std::string& address) {
    return "<a href=\"mailto:" + address + "\">" + address + "</a>";
}

std::string webLink(const std::string& target, const std::string& piece) {
    return "<a href=\"" + target + "\">" + piece + "</a>";
}

}  // namespace

TEST(FindPieces, AddressAndLinkAroundTheFirstAtSignOrDot) {
    const TextMatch email = FindEmail("write to Joe.Bloggs@example.com, today");
    ASSERT_TRUE(email.found);
    EXPECT_EQ(email.start, 9u);
    EXPECT_EQ(email.end, 31u);
    EXPECT_EQ(email.target, "Joe.Bloggs@example.com");
    EXPECT_FALSE(FindEmail("x@y then joe@example.com").found);  // only the first "@" counts
    EXPECT_FALSE(FindEmail("@example.com").found);

    const std::string text = "see abc2www.example.com/p?x=1&y=2_~z, now";
    const TextMatch link = FindLink(text);
    ASSERT_TRUE(link.found);
    EXPECT_EQ(text.substr(link.start, link.end - link.start), "www.example.com/p?x=1&y=2_~z");
    EXPECT_EQ(link.target, "http://www.example.com/p?x=1&y=2_~z");
    EXPECT_EQ(FindLink("(https://secure.example.org/a.htm)").target,
              "https://secure.example.org/a.htm");
    EXPECT_FALSE(FindLink("ftp.example.org").found);
    EXPECT_FALSE(FindLink("WWW.EXAMPLE.COM").found);  // the web markers are case-sensitive
}

TEST(FindPieces, OnlyALeadingWebSchemeIsKept) {
    EXPECT_EQ(FindLink("www.example.com/http.htm").target, "http://www.example.com/http.htm");
    EXPECT_EQ(FindLink("file://http.example.com/x.exe").target,
              "http://file://http.example.com/x.exe");
}

TEST(LineToHtml, AnchorsAddressesAndLinks) {
    EXPECT_EQ(LineToHtml("Mail joe@example.com now"),
              "Mail " + mailto("joe@example.com") + " now<br>");
    EXPECT_EQ(LineToHtml("a@b.com or www.c.com, www.d.htm"),
              mailto("a@b.com") + " or " + webLink("http://www.c.com", "www.c.com") + ", " +
                  webLink("http://www.d.htm", "www.d.htm") + "<br>");
    EXPECT_EQ(LineToHtml("joe@nowhere or www.c.com"),
              "joe@nowhere or " + webLink("http://www.c.com", "www.c.com") + "<br>");
    // The address is looked for first, so a link before it stays text.
    EXPECT_EQ(LineToHtml("www.x.com then joe@y.com"),
              "www.x.com then " + mailto("joe@y.com") + "<br>");
}

TEST(LineToHtml, LeavesOtherPiecesAsText) {
    EXPECT_EQ(LineToHtml("joe@example.zz"), "joe@example.zz<br>");
    EXPECT_EQ(LineToHtml("joe@localhost"), "joe@localhost<br>");
    EXPECT_EQ(LineToHtml("http://example.com"), "http://example.com<br>");
    EXPECT_EQ(LineToHtml("Hello. See www.example.com"), "Hello. See www.example.com<br>");
    EXPECT_EQ(LineToHtml("   x  y"), "&nbsp;&nbsp;&nbsp;x  y<br>");
    EXPECT_EQ(LineToHtml(""), "<br>");
}

TEST(LineToHtml, TextCannotBringItsOwnMarkup) {
    EXPECT_EQ(LineToHtml("<a href=\"file:///c:/x.exe\">y</a> & z"),
              "&lt;a href=&quot;file:///c:/x.exe&quot;&gt;y&lt;/a&gt; &amp; z<br>");
    EXPECT_EQ(LineToHtml("<www.a.com?x=1&y=2>"),
              "&lt;" + webLink("http://www.a.com?x=1&amp;y=2", "www.a.com?x=1&amp;y=2") +
                  "&gt;<br>");
}

TEST(TextToHtml, WrapsEachLineInAFixedPage) {
    const std::string head = "<html><body text=\"#000000\" bgcolor=\"#FFFFFF\">\r\n"
                             "<font face=\"Courier New, Courier, mono\" size=\"2\">\r\n";
    const std::string tail = "</font>\r\n</body></html>\r\n";
    EXPECT_EQ(TextToHtml(""), head + tail);
    EXPECT_EQ(TextToHtml("one\r\n\r\n two\nthree\rjoe@example.com\r\nend"),
              head + "one<br>\r\n<br>\r\n&nbsp;two<br>\r\nthree<br>\r\n" +
                  mailto("joe@example.com") + "<br>\r\nend<br>\r\n" + tail);
}

TEST(ExtractEmails, AddsValidAddressesOnceInLowerCaseSorted) {
    std::vector<std::string> list{"zed@x.org"};
    ExtractEmails("From Joe@Example.COM, cc joe@example.com; bad@nodot x@y.zz a@b@c.com d@e.com",
                  &list);
    EXPECT_EQ(list, (std::vector<std::string>{"d@e.com", "joe@example.com", "zed@x.org"}));
    ExtractEmails("joe@example.com", nullptr);
}

TEST(TextScanning, ManyPiecesBeforeABrokenAddress) {
    std::string line, expected;
    for (int i = 0; i < 2000; ++i) {
        const std::string host = "www.s" + std::to_string(i) + ".com";
        line += host + " ";
        expected += webLink("http://" + host, host) + " ";
    }
    EXPECT_EQ(LineToHtml(line + "tail@nowhere"), expected + "tail@nowhere<br>");

    std::string text;
    for (int i = 0; i < 2000; ++i) text += "u" + std::to_string(i % 500) + "@host.net @ ";
    std::vector<std::string> list;
    ExtractEmails(text, &list);
    EXPECT_EQ(list.size(), 500u);
}
