#pragma once
// The attachment part and the multipart boundary.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "smtp/compose.h"

namespace vlt::smtp {

enum class AttachmentKind { Binary = 1, Text = 2 };

// "==_Bndry_==" + yyyymmddhhnnss (local) + "-" + four digits 0-E.
std::string make_boundary(std::chrono::system_clock::time_point now,
                          const std::function<unsigned()>& random = {});

// The part's header lines for a file at `path`:
// CR LF "--" boundary CR LF, Content-Type, Name=, Content-Transfer-Encoding,
// Content-Disposition, FileName=, the empty line.
std::string attachment_head(AttachmentKind kind, std::string_view path, std::string_view boundary);

// Probes and prepares the attachment: a regular file of length > 0 gives a
// part; anything else (missing, empty, folder, device) gives nullopt. A
// regular file that cannot be opened fails with the AttachFileERR: report.
Result<std::optional<AttachmentPart>> prepare_attachment(std::string_view path,
                                                         std::string_view boundary);

// The bare file name: the text after the last "/" or "\", then after the last ":".
std::string file_name_part(std::string_view path);

}  // namespace vlt::smtp
