#pragma once
// The message after DATA: the header block in its fixed order, the text part
// and, with an attachment, the multipart/mixed envelope around it and the
// base64 attachment part.
//
// The text part is ISO-2022-JP (7bit) and the header words are ISO-2022-JP
// words, unless a text of the message (subject, body, FROM_NAME, TO_ALIAS,
// CC_ALIAS when a Cc line is written, the attachment's file name) holds a
// character ISO-2022-JP cannot carry: then the text part is UTF-8 in base64
// and every header word, the To and Cc aliases' included, is a UTF-8 word.
//
// write_message emits the octets into a sink without dot-stuffing (wrap the
// sink in DotStuffingSink for the wire). The attachment is streamed from its
// file in bounded pieces; the rest of the message is built in memory.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "common/sink.h"

namespace vlt::smtp {

struct MessageFields {
    std::string from;       // envelope sender, trimmed
    std::string to;         // recipient list, trimmed, ASCII commas
    std::string cc;         // may be empty
    std::string reply_to;   // may be empty (the caller's Reply-To)
    std::string errors_to;  // may be empty
    std::string subject;
    std::string body;
};

struct HeaderOptions {
    std::string from_name;  // FROM_NAME
    std::string to_alias;   // TO_ALIAS
    std::string cc_alias;   // CC_ALIAS
    std::string reply_to;   // REPLY_TO
};

enum class AttachmentKind { Binary = 1, Text = 2 };

// The attachment part as prepared before the conversation: the file whose
// base64 text the part carries, and its type. The part's header lines follow
// the message's charset, so they are written with the message.
struct AttachmentPart {
    std::string path;
    std::uint64_t size = 0;
    AttachmentKind kind = AttachmentKind::Binary;
};

struct ComposeContext {
    std::string mailer_text;  // X-Mailer value
    std::string boundary;     // multipart boundary (used with an attachment)
    std::chrono::system_clock::time_point now;
};

struct ComposedHeader {
    std::string converted_header_block;  // for the message log
};

// Writes the whole message. Fails with the AttachFileERR: report when the
// attachment file cannot be read while streaming; fails with the sink's error
// when the sink fails.
Result<ComposedHeader> write_message(const MessageFields& fields, const HeaderOptions& options,
                                     const AttachmentPart* attachment,
                                     const ComposeContext& context, ByteSink& sink);

// The Date value: "Mon, 7 Dec 2026 19:31:00 +0900 (JST)", with the machine's
// offset from UTC (" +0900 (JST)" exactly when that offset is +09:00).
std::string make_date_text(std::chrono::system_clock::time_point now);

// "Vellumtide 0.3.43 (" + os name + ")"
std::string make_mailer_text(std::string_view os_name);

}  // namespace vlt::smtp
