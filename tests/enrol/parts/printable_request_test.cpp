// The printable form of a request: long lines of its printed text broken at
// 80 characters, short ones kept, the PEM form after the text, and nothing
// for an object without a request.
#include "enrol/printable_request.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cadb::enrol {
namespace {

TEST(PrintableLines, ShortLinesAreKept) {
    EXPECT_EQ(BreakPrintableLines("a\nbb\nccc\n"), "a\nbb\nccc\n");
    // The first line is looked at even in a short text: one without a line
    // feed gains one.
    EXPECT_EQ(BreakPrintableLines("short"), "short\n");
    EXPECT_EQ(BreakPrintableLines(""), "\n");
}

TEST(PrintableLines, LongLinesBreakAfterEvery80Characters) {
    const std::string long_line(200, 'x');
    const std::string text = "head\n" + long_line + "\ntail\n";
    const std::string out = BreakPrintableLines(text);
    EXPECT_EQ(out, "head\n" + std::string(80, 'x') + "\n" + std::string(80, 'x') + "\n" +
                       std::string(40, 'x') + "\ntail\n");
    // No line of the result is longer than 80 characters.
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST(PrintableLines, LineFeedAtThe80thCharacterCountsAsLong) {
    // 79 characters and a line feed: the line feed is the 80th character, so
    // the 80 characters move as a block and a line feed follows them.
    const std::string line79(79, 'y');
    EXPECT_EQ(BreakPrintableLines(line79 + "\n" + std::string(90, 'z')),
              line79 + "\n\n" + std::string(80, 'z') + "\n" + std::string(10, 'z'));
    // 78 characters and a line feed are a short line.
    const std::string line78(78, 'y');
    EXPECT_EQ(BreakPrintableLines(line78 + "\n" + std::string(90, 'z')),
              line78 + "\n" + std::string(80, 'z') + "\n" + std::string(10, 'z'));
}

TEST(PrintableLines, TheLast80CharactersOrFewerStayAsTheyAre) {
    const std::string tail(80, 't');
    EXPECT_EQ(BreakPrintableLines("a\n" + tail), "a\n" + tail);
    EXPECT_EQ(BreakPrintableLines(std::string(81, 'u')), std::string(80, 'u') + "\nu");
}

TEST(PrintableRequest, NoRequestNoText) {
    TPKCS10 none;
    EXPECT_EQ(PrintableRequestText(none), "");
    std::u16string printable = u"old text";
    RefreshPrintableRequest(none, printable);
    EXPECT_TRUE(printable.empty());
}

TEST(PrintableRequest, TextThenPemAndTheFormatLeftAtDer) {
    char tmpl[] = "/tmp/cadb-printable-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    // A subject whose printed line is far longer than 80 characters.
    const std::string subject = "/O=" + std::string(60, 'o') + "/OU=" + std::string(60, 'u') +
                                "/CN=" + std::string(60, 'n');
    const std::string cmd = "openssl req -new -newkey rsa:1024 -nodes -subj '" + subject +
                            "' -keyout '" + dir + "/k.pem' -out '" + dir +
                            "/r.pem' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ostringstream pem;
    pem << std::ifstream(dir + "/r.pem").rdbuf();
    std::filesystem::remove_all(dir);

    TPKCS10 request;
    ASSERT_TRUE(request.loadDER(reinterpret_cast<const unsigned char*>(pem.str().data()),
                                static_cast<int>(pem.str().size())));
    const std::string text = PrintableRequestText(request);
    EXPECT_EQ(request.format(), TPKCS10::kFormatDER);
    const auto pem_at = text.find("-----BEGIN CERTIFICATE REQUEST-----");
    ASSERT_NE(pem_at, std::string::npos) << text;
    EXPECT_EQ(text.substr(pem_at), pem.str());
    // The subject line, longer than 80 characters, is broken.
    const std::string printed = text.substr(0, pem_at);
    EXPECT_NE(printed.find("Certificate Request:"), std::string::npos) << printed;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_NE(printed.find(std::string(40, 'n')), std::string::npos);

    std::u16string printable;
    RefreshPrintableRequest(request, printable);
    EXPECT_EQ(printable.size(), text.size());  // plain ASCII: one unit a byte
}

}  // namespace
}  // namespace cadb::enrol
