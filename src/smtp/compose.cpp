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
#include "smtp/header_words.h"

namespace vlt::smtp {
namespace {

constexpr std::string_view kCrLf = "\r\n";
// Bytes read from the attachment per step; a multiple of 3 so that every
// piece but the last encodes without a pending remainder.
constexpr std::size_t kReadPiece = 48 * 1024;

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
    std::string body = "\r\n";
    body += encoding::unicode_han2zen(trim(normalize_crlf(fields.body)));
    body += kCrLf;
    encoding::append_jis(text, body);
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
