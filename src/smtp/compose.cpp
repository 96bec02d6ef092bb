#include "smtp/compose.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "common/error_text.h"
#include "common/input_file.h"
#include "common/local_time.h"
#include "common/text.h"
#include "common/version.h"
#include "common/wire.h"
#include "encoding/base64.h"
#include "encoding/kanji.h"
#include "smtp/attachment.h"
#include "smtp/header_words.h"

namespace vlt::smtp {
namespace {

constexpr std::string_view kCrLf = "\r\n";
// Bytes read from the attachment per step; a multiple of 3 so that every
// piece but the last encodes without a pending remainder.
constexpr std::size_t kReadPiece = 48 * 1024;
// Octets of the body converted per step.
constexpr std::size_t kBodyPiece = 64 * 1024;

// The file failure's run-time error in the AttachFileERR: report.
Error attach_error(const Error& failure) {
    const auto number = static_cast<RuntimeError>(failure.run_time_error);
    return Error(ErrorKind::Io, "AttachFileERR:" + error_text_inline(number));
}

// Reads the open file in fixed pieces and writes its base64 text to the sink
// as it goes, so neither the file nor its encoding is ever held whole.
Status stream_base64(InputFile& file, ByteSink& sink) {
    std::vector<char> piece(kReadPiece);
    std::string encoded;
    encoded.reserve(kReadPiece / 3 * 4 + kReadPiece / 57 * 2 + 8);
    encoding::Base64StreamEncoder encoder;
    while (true) {
        const auto got = file.read(piece.data(), piece.size());
        if (!got.ok()) return attach_error(got.error());
        if (*got == 0) break;
        encoded.clear();
        encoder.update(std::string_view(piece.data(), *got), encoded);
        if (!encoded.empty()) VLT_TRY(sink.write(encoded));
    }
    encoded.clear();
    encoder.finish(encoded);
    if (!encoded.empty()) VLT_TRY(sink.write(encoded));
    return {};
}

// ISO-2022-JP when it carries every text of the message as it is, otherwise
// UTF-8. The Cc alias counts only when a Cc line is written.
MailCharset message_charset(const MessageFields& fields, const HeaderOptions& options,
                            const AttachmentPart* attachment) {
    const bool fits =
        encoding::fits_iso2022jp(fields.subject) && encoding::fits_iso2022jp(fields.body) &&
        encoding::fits_iso2022jp(options.from_name) && encoding::fits_iso2022jp(options.to_alias) &&
        (fields.cc.empty() || encoding::fits_iso2022jp(options.cc_alias)) &&
        (attachment == nullptr || encoding::fits_iso2022jp(file_name_part(attachment->path)));
    return fits ? MailCharset::Iso2022Jp : MailCharset::Utf8;
}

// A header text with its half-width katakana widened, in words of the charset.
std::string header_text(std::string_view text, MailCharset charset) {
    if (charset == MailCharset::Utf8) {
        return trim(encode_header_text(encoding::widen_kana(text), charset));
    }
    return trim(encode_header_text(encoding::unicode_han2zen(text)));
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

// Where a piece of the body may end at or before `limit`: before an ASCII byte
// when there is one near the end, otherwise before the start of a character
// that is not a sound mark, so that neither a character nor a half-width
// katakana and its sound mark are split between two pieces.
std::size_t piece_end(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t at = limit; at > limit / 2; --at) {
        if (byte(at) < 0x80) return at;
    }
    for (std::size_t at = limit; at > 0; --at) {
        const bool starts = (byte(at) & 0xC0) != 0x80;
        const bool sound_mark = at + 2 < text.size() && byte(at) == 0xEF && byte(at + 1) == 0xBE &&
                                (byte(at + 2) == 0x9E || byte(at + 2) == 0x9F);
        if (starts && !sound_mark) return at;
    }
    return text.size();
}

// The UTF-8 text part after its header lines: `pending` and the empty line
// are written first, then the trimmed body with its line ends made CR LF, its
// half-width katakana widened and a final line end, in base64 lines encoded a
// piece at a time, and the line end after the last base64 line. `pending` is
// left empty.
Status write_utf8_body(std::string_view body, std::string& pending, ByteSink& sink) {
    pending += kCrLf;
    VLT_TRY(sink.write(pending));
    pending.clear();

    body = trimmed_body(body);
    CrLfNormalizer line_ends;
    encoding::Base64StreamEncoder encoder;
    std::string lines;
    std::string widened;
    std::string encoded;
    bool line_ended = false;
    const auto put = [&](std::string_view text, bool last) -> Status {
        encoded.clear();
        encoder.update(text, encoded);
        if (last) encoder.finish(encoded);
        if (encoded.empty()) return {};
        line_ended = encoded.ends_with(kCrLf);
        return sink.write(encoded);
    };
    while (!body.empty()) {
        const std::string_view piece = body.substr(0, piece_end(body, kBodyPiece));
        body.remove_prefix(piece.size());
        lines.clear();
        line_ends.append(piece, lines);
        widened.clear();
        encoding::append_widened_kana(lines, widened);
        VLT_TRY(put(widened, false));
    }
    VLT_TRY(put(kCrLf, true));
    return line_ended ? Status{} : sink.write(kCrLf);
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
    const std::tm local = local_time(t);

    char zone[32];
    const long offset = utc_offset_seconds(local, t);
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
    const MailCharset charset = message_charset(fields, options, attachment);
    const bool utf8 = charset == MailCharset::Utf8;
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
        add_line(head, "From: ", header_text(from_name, charset) + "<" + from + ">");
    }

    // In ISO-2022-JP the aliases go as text, converted with the header block;
    // in UTF-8 they go as words, so that the header stays 7-bit.
    if (to_alias.empty()) {
        add_line(head, "To: ", header_safe(fields.to));
    } else {
        add_line(head, "To: ", utf8 ? header_text(to_alias, charset) : to_alias);
    }
    if (!cc.empty()) {
        if (cc_alias.empty()) {
            add_line(head, "Cc: ", cc);
        } else {
            add_line(head, "Cc: ", utf8 ? header_text(cc_alias, charset) : cc_alias);
        }
    }
    if (!fields.reply_to.empty()) {
        add_line(head, "Reply-To: ", header_safe(fields.reply_to));
    } else if (!options.reply_to.empty()) {
        add_line(head, "Reply-To: ", header_safe(options.reply_to));
    }
    if (!fields.errors_to.empty()) add_line(head, "Errors-To: ", header_safe(fields.errors_to));

    const std::string subject = trim(header_safe(fields.subject));
    add_line(head, "Subject: ", subject.empty() ? std::string() : header_text(subject, charset));
    add_line(head, "Mime-Version: ", "1.0");
    add_line(head, "X-Mailer: ", header_safe(context.mailer_text));
    if (attachment != nullptr) {
        head += "Content-Type: multipart/mixed;\r\n";
        head += "\tboundary=\"" + boundary + "\"\r\n";
        head += kCrLf;
        head += "--" + boundary + "\r\n";
    }
    head += "Content-Type: text/plain;\r\n";
    if (utf8) {
        head += "\tcharset=\"UTF-8\"\r\n";
        head += "Content-Transfer-Encoding: base64\r\n";
    } else {
        head += "\tcharset=\"iso-2022-jp\"\r\n";
        head += "Content-Transfer-Encoding: 7bit\r\n";
    }

    // The attachment is opened before anything is written, so a file that has
    // gone since it was prepared fails the message before its first octet.
    std::optional<InputFile> file;
    if (attachment != nullptr) {
        auto opened = InputFile::open(attachment->path, Links::Follow);
        if (!opened.ok()) return attach_error(opened.error());
        file.emplace(std::move(*opened));
    }

    ComposedHeader composed;
    encoding::append_jis(composed.converted_header_block, head);

    // The header block ends in ASCII, so the text part converts on its own
    // with the same bytes a conversion of the whole message would give.
    std::string text = composed.converted_header_block;
    if (utf8) {
        VLT_TRY(write_utf8_body(fields.body, text, sink));
    } else {
        VLT_TRY(write_text_body(fields.body, text, sink));
    }
    if (attachment != nullptr) {
        text += kCrLf;
        text += attachment_head(attachment->kind, attachment->path, boundary, charset);
    }
    VLT_TRY(sink.write(text));

    if (attachment != nullptr) {
        VLT_TRY(stream_base64(*file, sink));
        VLT_TRY(sink.write("\r\n\r\n\r\n--" + boundary + "--\r\n\r\n"));
    }
    return composed;
}

}  // namespace vlt::smtp
