#include "net/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vlt::net {
namespace {

using Progress = ReplyReader::Progress;

struct CodeCase {
    const char* name;
    LineProtocol protocol;
    std::string line;
    int code;
};

class ReplyCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ReplyCode, ReadsTheCodeOfTheFinalLine) {
    EXPECT_EQ(reply_code(GetParam().protocol, GetParam().line), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReplyCode,
    ::testing::Values(CodeCase{"CodeAndText", LineProtocol::Smtp, "250 OK\r\n", 250},
                      CodeCase{"CodeOnly", LineProtocol::Smtp, "354\r\n", 354},
                      CodeCase{"CodeOnlyBareLf", LineProtocol::Smtp, "221\n", 221},
                      CodeCase{"CodeWithoutLineEnd", LineProtocol::Smtp, "250", 250},
                      CodeCase{"FourDigits", LineProtocol::Smtp, "2500 OK\r\n", 0},
                      CodeCase{"TwoDigits", LineProtocol::Smtp, "25 OK\r\n", 0},
                      CodeCase{"TabAfterCode", LineProtocol::Smtp, "250\tOK\r\n", 0},
                      CodeCase{"LeadingBlank", LineProtocol::Smtp, " 250 OK\r\n", 0},
                      CodeCase{"EmptyLine", LineProtocol::Smtp, "\r\n", 0},
                      CodeCase{"Garbage", LineProtocol::Smtp, "hello\r\n", 0},
                      CodeCase{"PopOkWithText", LineProtocol::Pop3, "+OK 2 320\r\n", 1},
                      CodeCase{"PopOkAlone", LineProtocol::Pop3, "+OK\r\n", 1},
                      CodeCase{"PopOkBareLf", LineProtocol::Pop3, "+OK\n", 1},
                      CodeCase{"PopOkay", LineProtocol::Pop3, "+OKAY\r\n", 0},
                      CodeCase{"PopErr", LineProtocol::Pop3, "-ERR [IN-USE] lock busy\r\n", 0},
                      CodeCase{"PopEmptyLine", LineProtocol::Pop3, "\r\n", 0},
                      CodeCase{"PopLowerCase", LineProtocol::Pop3, "+ok\r\n", 0}),
    [](const auto& row) { return std::string(row.param.name); });

// Feeds `bytes` in pieces of `piece` bytes until the reply is complete.
Progress feed(ReplyReader& reader, const std::string& bytes, std::size_t piece) {
    Progress progress = reader.resume();
    for (std::size_t at = 0; at < bytes.size() && progress == Progress::NeedMore; at += piece) {
        progress = reader.add(std::string_view(bytes).substr(at, piece));
    }
    return progress;
}

TEST(ReplyReader, AMultiLineReplyIsTheSameHoweverItIsSplit) {
    const std::string bytes = "250-mail.example.test\r\n250-AUTH PLAIN LOGIN\n250 SIZE 1000\r\n";
    for (std::size_t piece : {1u, 2u, 3u, 7u, 22u, 23u, 24u, 100u}) {
        SCOPED_TRACE(piece);
        ReplyReader reader(LineProtocol::Smtp, 512, 65536);
        ASSERT_EQ(feed(reader, bytes, piece), Progress::Complete);
        const Reply reply = reader.take();
        EXPECT_EQ(reply.code, 250);
        ASSERT_EQ(reply.lines.size(), 3u);
        EXPECT_EQ(reply.lines[1], "250-AUTH PLAIN LOGIN\n");
        EXPECT_EQ(reply.text(), bytes);
        EXPECT_EQ(reply.last_line(), "250 SIZE 1000\r\n");
    }
}

TEST(ReplyReader, AnyLineThatIsNoContinuationEndsTheReply) {
    ReplyReader reader(LineProtocol::Smtp, 512, 65536);
    ASSERT_EQ(reader.add("250-one\r\ngarbage\r\n250 two\r\n"), Progress::Complete);
    const Reply reply = reader.take();
    EXPECT_EQ(reply.code, 0);
    EXPECT_EQ(reply.text(), "250-one\r\ngarbage\r\n");
    // The rest waits for the next reply.
    EXPECT_TRUE(reader.has_buffered());
    ASSERT_EQ(reader.resume(), Progress::Complete);
    EXPECT_EQ(reader.take().text(), "250 two\r\n");
    EXPECT_FALSE(reader.has_buffered());
}

TEST(ReplyReader, APop3ReplyIsOneLineEvenWhenItLooksLikeAContinuation) {
    ReplyReader reader(LineProtocol::Pop3, 512, 65536);
    ASSERT_EQ(reader.add("+OK\r\n250-x\r\n"), Progress::Complete);
    const Reply reply = reader.take();
    EXPECT_EQ(reply.code, 1);
    EXPECT_EQ(reply.text(), "+OK\r\n");
}

TEST(ReplyReader, GatheredHoldsTheUnfinishedLine) {
    ReplyReader reader(LineProtocol::Smtp, 512, 65536);
    EXPECT_EQ(reader.add("250-first\r\n250 sec"), Progress::NeedMore);
    EXPECT_EQ(reader.gathered(), "250-first\r\n250 sec");
    EXPECT_EQ(reader.first_line(), "250-first\r\n");
}

struct CapCase {
    const char* name;
    std::size_t lines;  // continuation lines before the final one
    std::size_t line_size;
    Progress expected;
};

class ReplyCaps : public ::testing::TestWithParam<CapCase> {};

TEST_P(ReplyCaps, ReplyOverTheCapsIsTooLong) {
    const CapCase& c = GetParam();
    std::string body(c.line_size - 6, 'a');
    std::string bytes;
    for (std::size_t i = 0; i < c.lines; ++i) bytes += "250-" + body + "\r\n";
    bytes += "250 " + body + "\r\n";
    ReplyReader reader(LineProtocol::Smtp, 512, 64 * 1024);
    EXPECT_EQ(feed(reader, bytes, 4096), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ReplyCaps,
    ::testing::Values(CapCase{"LinesAtTheCap", 511, 10, Progress::Complete},
                      CapCase{"OneLineOverTheCap", 512, 10, Progress::TooLong},
                      CapCase{"BytesAtTheCap", 0, 64 * 1024, Progress::Complete},
                      CapCase{"OneByteOverTheCap", 0, 64 * 1024 + 1, Progress::TooLong},
                      CapCase{"BytesOverTheCapInManyLines", 99, 1000, Progress::TooLong}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ReplyReader, AnEndlessLineKeepsNoMoreThanTheCap) {
    ReplyReader reader(LineProtocol::Smtp, 512, 64 * 1024);
    const std::string chunk(4096, 'x');
    Progress progress = Progress::NeedMore;
    std::size_t sent = 0;
    while (progress == Progress::NeedMore && sent < 50u * 1024 * 1024) {
        progress = reader.add(chunk);
        sent += chunk.size();
    }
    EXPECT_EQ(progress, Progress::TooLong);
    EXPECT_LE(sent, 64u * 1024 + chunk.size());
    EXPECT_LE(reader.gathered().size(), 64u * 1024);
    // Further input is not kept.
    EXPECT_EQ(reader.add(chunk), Progress::TooLong);
    EXPECT_LE(reader.gathered().size(), 64u * 1024);
}

}  // namespace
}  // namespace vlt::net
