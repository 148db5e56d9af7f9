#include "xml/sdXmlDocuments.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace xml;

namespace {

template <class F> std::string streamError(F&& f) {
    try {
        f();
    } catch (const EsdXmlFormatError& e) {
        return std::string("format: ") + e.what();
    } catch (const EsdStreamError& e) {
        return e.what();
    }
    return "<no error>";
}

std::string utf16le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

TsdXmlDocument& load(TsdXmlDocument& doc, const std::string& bytes) {
    TMemoryStream stream(bytes);
    doc.LoadStream(stream);
    return doc;
}

// Accepts at most a few bytes per write, as a full disk would.
class ShortStream : public TMemoryStream {
public:
    int64_t Write(const void* buffer, int64_t count) override {
        return TMemoryStream::Write(buffer, std::min<int64_t>(count, 10));
    }
};

}  // namespace

TEST(XmlLoad, EmptyStreamAndRefusedEncodings) {
    TsdXmlDocument doc;
    EXPECT_EQ(streamError([&] { load(doc, ""); }), "Unsupported string encoding");
    EXPECT_EQ(streamError([&] { load(doc, std::string("\0\0\xFE\xFF<", 5)); }), "Unsupported string encoding");
    EXPECT_EQ(streamError([&] { load(doc, std::string("<\0\0\0R\0\0\0", 8)); }), "Unsupported string encoding");
    EXPECT_EQ(streamError([&] { load(doc, "\x4C\x6F\xA7\x94rest"); }), "Unsupported string encoding");
    EXPECT_EQ(streamError([&] { doc.ParseString(""); }), "format: No root element found in xml");
}

TEST(XmlLoad, Utf8MarkIsSkippedAndSetsTheFlag) {
    TsdXmlDocument doc;
    load(doc, "\xEF\xBB\xBF<R><V>\xC3\xA9&#233;</V></R>");
    EXPECT_EQ(doc.EncodingKind, ekUtf8);
    EXPECT_TRUE(doc.Utf8Flag);
    EXPECT_EQ(doc.RootNode()->Name(), "R");
    EXPECT_EQ(doc.RootNode()->GetChildText("V", ""), "\xC3\xA9\xC3\xA9");
}

TEST(XmlLoad, DeclaredUtf8SwitchesOnlyWhenWrittenExactly) {
    TsdXmlDocument doc;
    load(doc, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><R>&#233;</R>");
    EXPECT_EQ(doc.EncodingKind, ekUtf8);
    EXPECT_TRUE(doc.Utf8Flag);
    EXPECT_EQ(doc.RootNode()->Text(), "\xC3\xA9");
    load(doc, "<?xml version=\"1.0\" encoding=\"utf-8\"?><R>&#233;</R>");
    EXPECT_EQ(doc.EncodingKind, ekAnsi);
    EXPECT_FALSE(doc.Utf8Flag);
    EXPECT_EQ(doc.RootNode()->Text(), "\xE9");
    doc.ParseString("<?xml encoding=\"UTF-8\"?><R/>");
    EXPECT_FALSE(doc.Utf8Flag);
}

TEST(XmlLoad, Utf16IsReducedToTheCodePage) {
    TsdXmlDocument doc;
    // é, the euro sign and a Cyrillic letter the code page does not hold.
    std::string body = utf16le("<R><V>") + std::string("\xE9\x00\xAC\x20\x16\x04", 6) + utf16le("</V></R>");
    load(doc, "\xFF\xFE" + body);
    EXPECT_EQ(doc.EncodingKind, ekUtf16LittleEndian);
    EXPECT_EQ(doc.RootNode()->GetChildText("V", ""), "\xE9\x80?");
    // No mark: a declaration at the start still tells, and a dangling odd byte is ignored.
    load(doc, utf16le("<?xml version=\"1.0\"?>") + body + "x");
    EXPECT_EQ(doc.EncodingKind, ekUtf16LittleEndian);
    EXPECT_EQ(doc.RootNode()->GetChildText("V", ""), "\xE9\x80?");
    // A 16-bit file that declares UTF-8 is still read as 16-bit text.
    load(doc, "\xFF\xFE" + utf16le("<?xml encoding=\"UTF-8\"?><R>ok</R>"));
    EXPECT_EQ(doc.RootNode()->Text(), "ok");
    EXPECT_EQ(doc.EncodingKind, ekUtf16LittleEndian);
    EXPECT_TRUE(doc.Utf8Flag);
}

TEST(XmlLoad, Utf16BigEndianAndFuzzRegression) {
    TsdXmlDocument doc;
    std::string be;
    for (char c : std::string("<R>big</R>")) {
        be += '\0';
        be += c;
    }
    load(doc, "\xFE\xFF" + be);
    EXPECT_EQ(doc.EncodingKind, ekUtf16BigEndian);
    EXPECT_EQ(doc.RootNode()->Text(), "big");
    // Found by fuzzing: the first successful 16-bit load freed a moved-out node.
    load(doc, std::string("\xff\xfe<\0r\0>\0x\0<\0/\0r\0>\0", 18));
    EXPECT_EQ(doc.RootNode()->Text(), "x");
    // A dangling half character at the end must not stall the reader.
    load(doc, std::string("\xff\xfe<\0r\0/\0>\0 ", 11));
    EXPECT_EQ(doc.RootNode()->Name(), "r");
}

TEST(XmlLoad, StepBackAcrossPageBoundaries) {
    // Put the "<" of a child, and the blank skipping around it, on every offset near the end of
    // the first 4096-byte page; the buffered codec must read exactly what the string reader reads.
    for (int pad = 4080; pad <= 4100; ++pad) {
        const std::string text = "<R><A>" + std::string(static_cast<size_t>(pad), 'x') + "</A><B>1</B>< C/>< /R>";
        TsdXmlDocument fromString, fromStream;
        fromString.ParseString(text);
        load(fromStream, text);
        EXPECT_EQ(fromStream.RenderString(), fromString.RenderString()) << pad;
        EXPECT_EQ(fromStream.RootNode()->GetChildText("B", ""), "1") << pad;
    }
}

TEST(XmlLoad, FromFileWithProgress) {
    testsupport::TempDir dir;
    const std::string path = dir.file("setup.xml");
    std::string text = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Corvane>";
    for (int i = 0; i < 2000; ++i) text += "<Contact><Email>c" + std::to_string(i) + "@x.org</Email></Contact>";
    text += "</Corvane>";
    testsupport::writeFile(path, text);
    TsdXmlDocument doc;
    std::vector<int64_t> seen;
    doc.OnProgress = [&](TsdXmlDocument&, int64_t pos) { seen.push_back(pos); };
    TFileStream file(path, TFileStream::fmOpenRead);
    doc.LoadStream(file);
    EXPECT_EQ(doc.RootNode()->childCount(), 2000);
    // Start, the declaration, every element, the end.
    ASSERT_EQ(seen.size(), 2u + 1u + 4001u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), static_cast<int64_t>(text.size()));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(XmlSave, DefaultWritesBytesUnchangedAtTheCurrentPosition) {
    auto doc = TsdXmlDocument::CreateWithRoot("Corvane");
    std::string big(10000, 'v');
    big += "\xE9\r\n";
    doc->RootNode()->SetChildText("Purpose", big, "");
    TMemoryStream out(std::string("HEAD"));
    out.Seek(0, SeekOrigin::End);
    doc->SaveStream(out);
    EXPECT_EQ(out.bytes(), "HEAD" + doc->RenderString());

    TsdXmlDocument back;
    TMemoryStream in(out.bytes().substr(4));
    back.LoadStream(in);
    EXPECT_EQ(back.RootNode()->GetChildText("Purpose", ""), big);
}

TEST(XmlSave, OtherEncodingsWriteTheirMark) {
    auto doc = TsdXmlDocument::CreateWithRoot("R");
    doc->RootNode()->SetText("\xE9\x80");
    doc->VersionText.clear();
    doc->EncodingText.clear();

    doc->EncodingKind = ekUtf8;
    TMemoryStream utf8;
    doc->SaveStream(utf8);
    EXPECT_EQ(utf8.bytes(), "\xEF\xBB\xBF<R>\xC3\xA9\xE2\x82\xAC</R>");

    doc->EncodingKind = ekUtf16LittleEndian;
    TMemoryStream utf16;
    doc->SaveStream(utf16);
    EXPECT_EQ(utf16.bytes(), "\xFF\xFE" + utf16le("<R>") + std::string("\xE9\x00\xAC\x20", 4) + utf16le("</R>"));
    TsdXmlDocument back;
    TMemoryStream in(utf16.bytes());
    back.LoadStream(in);
    EXPECT_EQ(back.RootNode()->Text(), "\xE9\x80");

    doc->EncodingKind = ekUcs4_4321;
    TMemoryStream refused;
    EXPECT_EQ(streamError([&] { doc->SaveStream(refused); }), "Unsupported string encoding");
    EXPECT_EQ(refused.size(), 0);
}

TEST(XmlSave, ShortWritesAreReported) {
    auto doc = TsdXmlDocument::CreateWithRoot("R");
    ShortStream out;
    EXPECT_EQ(streamError([&] { doc->SaveStream(out); }), "Cannot write to output stream");
    EXPECT_EQ(streamError([&] { doc->RenderNodes(out); }), "Cannot write to output stream");
}

TEST(XmlCodec, MisuseErrors) {
    TMemoryStream mem(std::string("<?xml?><R/>"));
    TsdAnsiStream unassigned(nullptr);
    char c = 0;
    EXPECT_EQ(streamError([&] { unassigned.Read(&c, 1); }), "Encoding stream unassigned");

    TsdAnsiStream reader(&mem);
    EXPECT_EQ(streamError([&] { reader.Seek(-1, SeekOrigin::Current); }),
              "Cannot seek before reading or writing in conversion stream");
    char two[2];
    EXPECT_EQ(streamError([&] { reader.Read(two, 2); }), "Cannot read multiple chars from conversion stream at once");
    ASSERT_EQ(reader.Read(&c, 1), 1);
    EXPECT_EQ(streamError([&] { reader.Write("x", 1); }), "Cannot write to an UTF stream opened for reading");
    EXPECT_EQ(streamError([&] { reader.Seek(-3, SeekOrigin::Current); }), "Cannot perform seek on codec stream");
    EXPECT_EQ(streamError([&] { reader.Seek(0, SeekOrigin::Beginning); }), "Cannot perform seek on codec stream");

    TMemoryStream sink;
    TsdAnsiStream writer(&sink);
    writer.Write("ab", 2);
    EXPECT_EQ(streamError([&] { writer.Read(&c, 1); }), "Cannot read from a conversion stream opened for writing");
    EXPECT_EQ(streamError([&] { writer.Seek(-1, SeekOrigin::Current); }), "Cannot perform seek on codec stream");
    EXPECT_EQ(sink.bytes(), "ab");

    TsdBufferedWriteStream bufferedOut(&sink, false);
    EXPECT_EQ(streamError([&] { bufferedOut.Read(&c, 1); }), "Cannot read from a conversion stream opened for writing");
    EXPECT_EQ(streamError([&] { bufferedOut.Seek(0, SeekOrigin::Beginning); }), "Cannot perform seek on codec stream");
    TsdBufferedReadStream bufferedIn(&mem, false);
    EXPECT_EQ(streamError([&] { bufferedIn.Write("x", 1); }), "Cannot write to an UTF stream opened for reading");
}

TEST(XmlCodec, StepsBackOneOrTwoCharacters) {
    for (bool buffered : {false, true}) {
        TMemoryStream mem(std::string("\xFF\xFE") + utf16le("abcd"));
        TsdBufferedReadStream page(&mem, false);
        TsdAnsiStream codec(buffered ? static_cast<TStream*>(&page) : &mem);
        std::string got;
        char c = 0;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(codec.Read(&c, 1), 1);
            got += c;
        }
        codec.Seek(-1, SeekOrigin::Current);
        codec.Read(&c, 1);
        got += c;
        codec.Seek(-2, SeekOrigin::Current);
        while (codec.Read(&c, 1) == 1) got += c;
        EXPECT_EQ(got, "abccbcd");
        EXPECT_EQ(codec.encodingKind(), ekUtf16LittleEndian);
    }
}

TEST(XmlCodec, BufferedStreamsMoveWholePages) {
    // Counts the reads and writes that reach the underlying stream.
    class Counting : public TMemoryStream {
    public:
        using TMemoryStream::TMemoryStream;
        int reads = 0, writes = 0;
        int64_t Read(void* b, int64_t n) override {
            ++reads;
            return TMemoryStream::Read(b, n);
        }
        int64_t Write(const void* b, int64_t n) override {
            ++writes;
            return TMemoryStream::Write(b, n);
        }
    };
    Counting source(std::string(10000, 'z'));
    {
        TsdBufferedReadStream in(&source, false);
        char c = 0;
        int count = 0;
        while (in.readByte(c)) ++count;
        EXPECT_EQ(count, 10000);
    }
    EXPECT_EQ(source.reads, 3);
    Counting target;
    {
        TsdBufferedWriteStream out(&target, false);
        for (int i = 0; i < 10000; ++i) out.Write("y", 1);
        EXPECT_EQ(target.writes, 2);
    }
    EXPECT_EQ(target.writes, 3);
    EXPECT_EQ(target.bytes(), std::string(10000, 'y'));
}

TEST(XmlCodec, Utf8CodecKeepsValuesAsUtf8) {
    TsdXmlDocument doc;
    doc.Utf8Flag = true;
    load(doc, "\xFF\xFE" + utf16le("<R>") + std::string("\xE9\x00\xAC\x20", 4) + utf16le("</R>"));
    EXPECT_EQ(doc.RootNode()->Text(), "\xC3\xA9\xE2\x82\xAC");

    doc.Utf8Flag = true;
    doc.EncodingKind = ekUtf16BigEndian;
    doc.VersionText.clear();
    doc.EncodingText.clear();
    TMemoryStream out;
    doc.SaveStream(out);
    std::string expected = "\xFE\xFF";
    for (char c : std::string("<R>")) expected += std::string(1, '\0') + c;
    expected += std::string("\x00\xE9\x20\xAC", 4);
    for (char c : std::string("</R>")) expected += std::string(1, '\0') + c;
    EXPECT_EQ(out.bytes(), expected);
}

TEST(XmlCodec, ParseNodesOnAPlainStreamMatchesParseString) {
    const std::string text = "<?xml version='1.0'?><R a='1'>x<b>&amp;</b>< c/><!--k--></R>";
    TsdXmlDocument direct, viaStream;
    direct.ParseString(text);
    TMemoryStream stream(text);
    viaStream.ParseNodes(stream);
    EXPECT_EQ(viaStream.RenderString(), direct.RenderString());
    TMemoryStream sink;
    viaStream.RenderNodes(sink);
    EXPECT_EQ(sink.bytes(), direct.RenderString());
}
