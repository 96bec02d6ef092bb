#include "net/error_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace vlt::net {
namespace {

struct TextCase {
    const char* name;
    int code;
    std::string expected;
};

class ErrorTextExact : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorTextExact, GivesTheWholeText) {
    EXPECT_EQ(winsock_error_text(GetParam().code), GetParam().expected);
}

const std::string kHostUnreachable =
    "     意味 : ホストに到達するためのルートがありません。      \r\n"
    "     説明 : 到達できないホストに対してソケット操作を実行しようとしました。"
    "「WSAENETUNREACH」を参照してください。    ";

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorTextExact,
    ::testing::Values(TextCase{"TypeNotFound", 10109,
                               "     意味 : この種類のクラスが見つかりません。      \r\n"
                               "     説明 : 指定されたクラスが見つかりませんでした。    "},
                      TextCase{"HostUnreachable", 10065, kHostUnreachable},
                      TextCase{"HighBitsIgnored", 65536 * 3 + 10065, kHostUnreachable},
                      TextCase{"NoErrorRecorded", 0, "その他のエラー: 0"},
                      TextCase{"CodeWithoutRow", 10059, "その他のエラー: 10059"},
                      TextCase{"ReadAsSigned16Bits", 65535, "その他のエラー: -1"},
                      TextCase{"NegativeCode", -10, "その他のエラー: -10"},
                      TextCase{"Low16BitsWithoutRow", 65536 + 2, "その他のエラー: 2"}),
    [](const auto& row) { return std::string(row.param.name); });

// The meaning line of each row with its trailing blanks; the explanation
// lines are checked for their layout below.
struct MeaningCase {
    const char* name;
    int code;
    std::string meaning_line;
};

class ErrorTextMeaning : public ::testing::TestWithParam<MeaningCase> {};

TEST_P(ErrorTextMeaning, FirstLineThenCrLfThenExplanation) {
    const std::string text = winsock_error_text(GetParam().code);
    const auto crlf = text.find("\r\n");
    ASSERT_NE(crlf, std::string::npos);
    EXPECT_EQ(text.substr(0, crlf), GetParam().meaning_line);
    const std::string explanation = text.substr(crlf + 2);
    const std::string indent = GetParam().code == 10013 ? "    " : "     ";
    EXPECT_EQ(explanation.rfind(indent + "説明 : ", 0), 0u) << explanation;
    EXPECT_NE(explanation[indent.size()], ' ');
    EXPECT_EQ(explanation.find("\r"), std::string::npos);
    EXPECT_EQ(explanation.find("\n"), std::string::npos);
    // Two to six trailing blanks after a non-blank explanation.
    const auto last = explanation.find_last_not_of(' ');
    ASSERT_NE(last, std::string::npos);
    const auto blanks = explanation.size() - 1 - last;
    EXPECT_GE(blanks, 2u);
    EXPECT_LE(blanks, 6u);
    EXPECT_GT(last + 1, indent.size() + std::string("説明 : ").size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ErrorTextMeaning,
    ::testing::Values(
        MeaningCase{"TimedOut", 10060, "     意味 : 接続がタイムアウトになりました。    "},
        MeaningCase{"AccessDenied", 10013, "     意味 : アクセスは拒否されました。      "},
        MeaningCase{"NetUnreachable", 10051,
                    "     意味 : ICMP ネットワークに到達できません。     "},
        MeaningCase{"ProtocolFamily", 10046,
                    "     意味 : プロトコル ファミリがサポートされていません。   "},
        MeaningCase{"NoData", 11004,
                    "     意味 : 要求された名前は有効ですが、要求された種類のデータ "
                    "レコードがありません。   "},
        MeaningCase{"NotInitialised", 10093,
                    "     意味 : WSAStartup の実行に成功していません。   "}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ErrorTextRows, EveryRowOfTheTableHasTheTwoLineLayout) {
    const int codes[] = {10004, 10013, 10014, 10022, 10024, 10035, 10036, 10037, 10038,
                         10039, 10040, 10041, 10042, 10043, 10044, 10045, 10046, 10047,
                         10048, 10049, 10050, 10051, 10052, 10053, 10054, 10055, 10056,
                         10057, 10058, 10060, 10061, 10064, 10065, 10067, 10091, 10092,
                         10093, 10101, 10109, 11001, 11002, 11003, 11004};
    static_assert(sizeof codes / sizeof codes[0] == 43);
    for (int code : codes) {
        const std::string text = winsock_error_text(code);
        SCOPED_TRACE(code);
        EXPECT_EQ(text.rfind("     意味 : ", 0), 0u);
        const auto crlf = text.find("\r\n");
        ASSERT_NE(crlf, std::string::npos);
        EXPECT_EQ(text.find("\r\n", crlf + 2), std::string::npos);
        EXPECT_NE(text.find("説明 : ", crlf), std::string::npos);
        EXPECT_EQ(text.back(), ' ');
    }
}

}  // namespace
}  // namespace vlt::net
