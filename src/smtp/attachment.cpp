#include "smtp/attachment.h"

#include <ctime>
#include <random>

#include "common/error_text.h"
#include "common/files.h"
#include "common/input_file.h"
#include "common/local_time.h"
#include "common/text.h"
#include "common/wire.h"
#include "encoding/kanji.h"
#include "smtp/header_words.h"

namespace vlt::smtp {
namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";

// Double quotes and backslashes would end or break the quoted parameter
// value, so they are escaped as a quoted-string requires.
std::string quoted_value(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

}  // namespace

std::string make_boundary(std::chrono::system_clock::time_point now,
                          const std::function<unsigned()>& random) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const std::tm local = local_time(t);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);

    std::string boundary = "==_Bndry_==";
    boundary += stamp;
    boundary.push_back('-');
    if (random) {
        for (int i = 0; i < 4; ++i) boundary.push_back(kHex[random() % 15]);
    } else {
        std::random_device device;
        std::uniform_int_distribution<unsigned> digit(0, 14);  // F never occurs
        for (int i = 0; i < 4; ++i) boundary.push_back(kHex[digit(device)]);
    }
    return boundary;
}

std::string file_name_part(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const auto colon = path.rfind(':');
    if (colon != std::string_view::npos) path.remove_prefix(colon + 1);
    return std::string(path);
}

std::string attachment_head(AttachmentKind kind, std::string_view path, std::string_view boundary,
                            MailCharset charset) {
    const std::string bare = trim(header_safe(file_name_part(path)));
    const std::string name = quoted_value(encode_header_text(
        charset == MailCharset::Utf8 ? encoding::widen_kana(bare) : encoding::unicode_han2zen(bare),
        charset));
    const std::string_view type =
        kind == AttachmentKind::Text ? "text/plain" : "application/octet-stream";

    std::string head = "\r\n--";
    head += header_safe(boundary);
    head += "\r\nContent-Type: ";
    head += type;
    head += ";\r\n\tName=";
    head += name;
    head +=
        "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
        "\tFileName=";
    head += name;
    head += "\r\n\r\n";
    // The encoded name is ASCII apart from characters the code page lacks,
    // which the conversion turns into "?" as it does for the rest of the mail.
    // A UTF-8 name is all words and ASCII already.
    if (charset == MailCharset::Utf8) return head;
    std::string bytes;
    encoding::append_jis(bytes, head);
    return bytes;
}

Result<std::optional<AttachmentPart>> prepare_attachment(std::string_view path) {
    const std::string file(path);
    const std::uint64_t size = regular_file_length(file);
    if (size == 0) return std::optional<AttachmentPart>{};
    // Opened once here so that a file that cannot be read fails before the
    // conversation starts; the message writer opens it again to stream it.
    auto opened = InputFile::open(file, Links::Follow);
    if (!opened.ok()) {
        const auto number = static_cast<RuntimeError>(opened.error().run_time_error);
        return Error(ErrorKind::Io, "AttachFileERR:" + error_text_inline(number));
    }
    return std::optional<AttachmentPart>(
        AttachmentPart{file, size, AttachmentKind::Binary});
}

}  // namespace vlt::smtp
