#include "smtp/compose.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "common/error_text.h"
#include "common/text.h"
#include "common/version.h"
#include "common/wire.h"
#include "encoding/base64.h"
#include "encoding/kanji.h"
#include "smtp/header_words.h"

namespace vlt::smtp {
namespace {

constexpr std::string_view kCrLf = "\r\n";
// Bytes read from the attachment per step; a multiple of 3 so that every
// piece but the last encodes without a pending remainder.
constexpr std::size_t kReadPiece = 48 * 1024;
// Octets of the body converted per step.
constexpr std::size_t kBodyPiece = 64 * 1024;

Error attach_error(int err) {
    return Error(ErrorKind::Io,
                 "AttachFileERR:" + error_text_inline(runtime_error_from_errno(err)));
}

// Closes the attachment file on every path out of the streaming loop.
class FileHandle {
  public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() {
        if (m_fd >= 0) close(m_fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

// Reads the open file in fixed pieces and writes its base64 text to the sink
// as it goes, so neither the file nor its encoding is ever held whole.
Status stream_base64(const FileHandle& file, ByteSink& sink) {
    std::vector<char> piece(kReadPiece);
    std::string encoded;
    encoded.reserve(kReadPiece / 3 * 4 + kReadPiece / 57 * 2 + 8);
    encoding::Base64StreamEncoder encoder;
    while (true) {
        const ssize_t got = read(file.fd(), piece.data(), piece.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return attach_error(errno);
        }
        if (got == 0) break;
        encoded.clear();
        encoder.update(std::string_view(piece.data(), static_cast<std::size_t>(got)), encoded);
        if (!encoded.empty()) VLT_TRY(sink.write(encoded));
    }
    encoded.clear();
    encoder.finish(encoded);
    if (!encoded.empty()) VLT_TRY(sink.write(encoded));
    return {};
}

// The body without spaces at both ends, then without NULs at both ends, then
// again without spaces: what the text part carries.
std::string_view trimmed_body(std::string_view body) {
    for (const char c : {' ', '\0', ' '}) {
        const std::size_t first = body.find_first_not_of(c);
        if (first == std::string_view::npos) return {};
        body = body.substr(first, body.find_last_not_of(c) + 1 - first);
    }
    return body;
}

// The text part after its header lines: CR LF, the trimmed body with its line
// ends made CR LF and its half-width katakana widened, CR LF; all of it in
// ISO-2022-JP. The body is converted a piece at a time into `pending`, which
// goes to the sink whenever it has grown to a piece; what is left of it at the
// end is the caller's to write.
Status write_text_body(std::string_view body, std::string& pending, ByteSink& sink) {
    body = trimmed_body(body);
    encoding::JisStreamEncoder jis;
    CrLfNormalizer line_ends;
    std::string lines;
    jis.append(kCrLf, pending);
    while (!body.empty()) {
        const std::string_view piece = body.substr(0, kBodyPiece);
        body.remove_prefix(piece.size());
        lines.clear();
        line_ends.append(piece, lines);
        jis.append(lines, pending);
        if (pending.size() >= kBodyPiece) {
            VLT_TRY(sink.write(pending));
            pending.clear();
        }
    }
    jis.append(kCrLf, pending);
    jis.finish(pending);
    return {};
}

void add_line(std::string& block, std::string_view name, std::string_view value) {
    block += name;
    block += value;
    block += kCrLf;
}

}  // namespace

std::string make_date_text(std::chrono::system_clock::time_point now) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);

    char zone[32];
    const long offset = local.tm_gmtoff;
    if (offset == 9 * 3600) {
        std::snprintf(zone, sizeof zone, " +0900 (JST)");
    } else {
        const long magnitude = offset < 0 ? -offset : offset;
        std::snprintf(zone, sizeof zone, " %c%02ld%02ld", offset < 0 ? '-' : '+', magnitude / 3600,
                      magnitude % 3600 / 60);
    }
    char text[96];
    std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d%s", kDays[local.tm_wday % 7],
                  local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, zone);
    return text;
}

std::string make_mailer_text(std::string_view os_name) {
    std::string text = kAppTitle;
    text += " ";
    text += std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
            std::to_string(kVersionRevision);
    text += " (";
    text += os_name;
    text += ")";
    return text;
}

Result<ComposedHeader> write_message(const MessageFields& fields, const HeaderOptions& options,
                                     const AttachmentPart* attachment,
                                     const ComposeContext& context, ByteSink& sink) {
    // Texts from outside never bring their own line breaks into a header.
    const std::string from = header_safe(fields.from);
    const std::string from_name = trim(header_safe(options.from_name));
    const std::string to_alias = trim(header_safe(options.to_alias));
    const std::string cc_alias = trim(header_safe(options.cc_alias));
    const std::string cc = header_safe(fields.cc);
    const std::string boundary = header_safe(context.boundary);

    std::string head;
    head.reserve(1024);
    add_line(head, "Date: ", make_date_text(context.now));

    if (from_name.empty()) {
        const auto at = from.find('@');
        if (at == std::string::npos) {
            return Error(ErrorKind::Input, error_text_inline(RuntimeError::InvalidArgument));
        }
        add_line(head, "From: ", from.substr(0, at) + "<" + from + ">");
    } else {
        add_line(head, "From: ",
                 trim(encode_header_text(encoding::unicode_han2zen(from_name))) + "<" + from + ">");
    }

    add_line(head, "To: ", to_alias.empty() ? header_safe(fields.to) : to_alias);
    if (!cc.empty()) add_line(head, "Cc: ", cc_alias.empty() ? cc : cc_alias);
    if (!fields.reply_to.empty()) {
        add_line(head, "Reply-To: ", header_safe(fields.reply_to));
    } else if (!options.reply_to.empty()) {
        add_line(head, "Reply-To: ", header_safe(options.reply_to));
    }
    if (!fields.errors_to.empty()) add_line(head, "Errors-To: ", header_safe(fields.errors_to));

    const std::string subject = trim(header_safe(fields.subject));
    add_line(head, "Subject: ",
             subject.empty() ? std::string()
                             : trim(encode_header_text(encoding::unicode_han2zen(subject))));
    add_line(head, "Mime-Version: ", "1.0");
    add_line(head, "X-Mailer: ", header_safe(context.mailer_text));
    if (attachment != nullptr) {
        head += "Content-Type: multipart/mixed;\r\n";
        head += "\tboundary=\"" + boundary + "\"\r\n";
        head += kCrLf;
        head += "--" + boundary + "\r\n";
    }
    head += "Content-Type: text/plain;\r\n";
    head += "\tcharset=\"iso-2022-jp\"\r\n";
    head += "Content-Transfer-Encoding: 7bit\r\n";

    // The attachment is opened before anything is written, so a file that has
    // gone since it was prepared fails the message before its first octet.
    std::optional<FileHandle> file;
    if (attachment != nullptr) {
        file.emplace(open(attachment->path.c_str(), O_RDONLY | O_CLOEXEC));
        if (file->fd() < 0) return attach_error(errno);
    }

    ComposedHeader composed;
    encoding::append_jis(composed.converted_header_block, head);

    // The header block ends in ASCII, so the text part converts on its own
    // with the same bytes a conversion of the whole message would give.
    std::string text = composed.converted_header_block;
    VLT_TRY(write_text_body(fields.body, text, sink));
    if (attachment != nullptr) {
        text += kCrLf;
        text += attachment->head;
    }
    VLT_TRY(sink.write(text));

    if (attachment != nullptr) {
        VLT_TRY(stream_base64(*file, sink));
        VLT_TRY(sink.write("\r\n\r\n\r\n--" + boundary + "--\r\n\r\n"));
    }
    return composed;
}

}  // namespace vlt::smtp
