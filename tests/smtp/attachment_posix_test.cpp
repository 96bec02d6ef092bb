// The attachment probe on what only POSIX systems make in a test: links,
// pipes, devices and files the user may not read.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "smtp/attachment.h"
#include "smtp/test_support.h"

namespace vlt::smtp {
namespace {

using test::TempDir;

struct SpecialCase {
    const char* name;
    std::string (*make)(const TempDir&);
    std::optional<std::uint64_t> size;  // nullopt: no part
};

class SpecialObjectTest : public ::testing::TestWithParam<SpecialCase> {};

TEST_P(SpecialObjectTest, ProbesPath) {
    TempDir dir;
    const auto part = prepare_attachment(GetParam().make(dir));
    ASSERT_TRUE(part.ok()) << part.error().reports.front();
    ASSERT_EQ(part->has_value(), GetParam().size.has_value());
    if (GetParam().size) {
        EXPECT_EQ((*part)->size, *GetParam().size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Objects, SpecialObjectTest,
    ::testing::Values(SpecialCase{"SymlinkToFile",
                                  [](const TempDir& d) {
                                      test::write_file(d.file("a.bin"), std::string(1000, 'x'));
                                      std::filesystem::create_symlink(d.file("a.bin"),
                                                                      d.file("link"));
                                      return d.file("link");
                                  },
                                  1000},
                      SpecialCase{"Pipe",
                                  [](const TempDir& d) {
                                      mkfifo(d.file("fifo").c_str(), 0600);
                                      return d.file("fifo");
                                  },
                                  std::nullopt},
                      SpecialCase{"Device", [](const TempDir&) { return std::string("/dev/zero"); },
                                  std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(PrepareAttachment, UnopenableFileIsAnError) {
    TempDir dir;
    const std::string path = dir.file("secret.bin");
    test::write_file(path, "abc");
    chmod(path.c_str(), 0);
    // Root opens any file, so the probe runs as an unprivileged user then.
    const bool as_root = geteuid() == 0;
    if (as_root) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const auto part = prepare_attachment(path);
    if (as_root) {
        ASSERT_EQ(seteuid(0), 0);
    }
    ASSERT_FALSE(part.ok());
    EXPECT_EQ(part.error().kind, ErrorKind::Io);
    EXPECT_EQ(part.error().reports,
              std::vector<std::string>{"AttachFileERR:" +
                                       error_text_inline(RuntimeError::PermissionDenied)});
}

}  // namespace
}  // namespace vlt::smtp
