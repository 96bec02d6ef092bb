#pragma once
// The attachment part and the multipart boundary.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "smtp/compose.h"
#include "smtp/header_words.h"

namespace vlt::smtp {

// "==_Bndry_==" + yyyymmddhhnnss (local) + "-" + four digits 0-E.
std::string make_boundary(std::chrono::system_clock::time_point now,
                          const std::function<unsigned()>& random = {});

// The part's header lines for a file at `path`:
// CR LF "--" boundary CR LF, Content-Type, Name=, Content-Transfer-Encoding,
// Content-Disposition, FileName=, the empty line. The file name goes in
// header words of `charset`.
std::string attachment_head(AttachmentKind kind, std::string_view path, std::string_view boundary,
                            MailCharset charset = MailCharset::Iso2022Jp);

// Probes and prepares the attachment: a regular file of length > 0 gives a
// part; anything else (missing, empty, folder, device) gives nullopt. A
// regular file that cannot be opened fails with the AttachFileERR: report.
Result<std::optional<AttachmentPart>> prepare_attachment(std::string_view path);

// The bare file name: the text after the last "/" or "\", then after the last ":".
std::string file_name_part(std::string_view path);

}  // namespace vlt::smtp
