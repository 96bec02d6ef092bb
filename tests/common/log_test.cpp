#include "common/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "common/error_text.h"
#include "common/report.h"
#include "log_fixture.h"
#include "support/files.h"

namespace vlt {
namespace {

using test::read_file;

TEST_F(LogTest, LineLayouts) {
    const LogWriter log = writer();
    ASSERT_TRUE(log.write("Scrivlane", "hello").ok());
    ASSERT_TRUE(log.write_error(error_text_full(RuntimeError::FileNotFound)).ok());
    EXPECT_EQ(read_file(file("Scrivlane1.log")), "2026/12/07 10:31:05 *** hello\r\n");
    // The error log is named after the executable; its lines begin with a space,
    // and a text with CR LF spans two lines.
    EXPECT_EQ(
        read_file(file("mailERR1.log")),
        log_bytes(
            " 2026/12/07 10:31:05 *** エラー番号 :53 -- PrjVellumtide でエラーが発生しました。 "
            "\r\nファイルが見つかりません。\r\n"));
}

TEST_F(LogTest, RotatesPastTheLimitBeforeTheNextWrite) {
    const LogWriter log = writer();
    test::write_file(file("Scrivlane1.log"), std::string(2048000, 'x'));
    ASSERT_TRUE(log.write("Scrivlane", "a").ok());
    // Exactly at the limit: no rotation yet.
    EXPECT_FALSE(std::filesystem::exists(file("Scrivlane2.log")));
    ASSERT_TRUE(log.write("Scrivlane", "b").ok());
    EXPECT_EQ(std::filesystem::file_size(file("Scrivlane2.log")), 2048000u + 27u);
    EXPECT_EQ(read_file(file("Scrivlane1.log")), "2026/12/07 10:31:05 *** b\r\n");
}

TEST_F(LogTest, UnwritableFolderIsAnErrorNotACrash) {
    const LogWriter log(file("missing/folder"), "mail");
    EXPECT_FALSE(log.write_error("x").ok());
    ErrorReport report(log);
    report.report("still reported");  // goes to standard error instead
    ASSERT_EQ(report.reported().size(), 1u);
}

TEST(ErrorText, Forms) {
    EXPECT_EQ(error_text_inline(RuntimeError::InvalidArgument),
              "エラー番号 :5 -- PrjVellumtide でエラーが発生しました。 "
              "プロシージャの呼び出し、または引数が不正です。");
    EXPECT_EQ(runtime_error_from_errno(EACCES), RuntimeError::PermissionDenied);
    EXPECT_EQ(runtime_error_from_errno(ENOENT), RuntimeError::FileNotFound);
    EXPECT_EQ(runtime_error_from_errno(ENOTDIR), RuntimeError::PathNotFound);
    EXPECT_EQ(runtime_error_from_errno(EIO), RuntimeError::DeviceIo);
}

}  // namespace
}  // namespace vlt
