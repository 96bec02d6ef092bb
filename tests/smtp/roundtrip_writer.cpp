// Writes one composed message to a file so that an independent parser can
// read it back. Arguments: output path, subject, sender display name, body,
// and optionally the attachment path.

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "common/sink.h"
#include "smtp/attachment.h"
#include "smtp/compose.h"

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: %s out subject from_name body [attachment]\n", argv[0]);
        return 2;
    }
    using namespace vlt::smtp;
    const auto now = std::chrono::system_clock::now();
    const ComposeContext context{make_mailer_text("round trip"), make_boundary(now), now};

    MessageFields fields;
    fields.from = "taro@example.com";
    fields.to = "hanako@example.com";
    fields.subject = argv[2];
    fields.body = argv[4];
    HeaderOptions options;
    options.from_name = argv[3];

    std::optional<AttachmentPart> part;
    if (argc == 6) {
        auto prepared = prepare_attachment(argv[5]);
        if (!prepared.ok() || !prepared->has_value()) {
            std::fprintf(stderr, "attachment not usable: %s\n", argv[5]);
            return 1;
        }
        part = std::move(**prepared);
    }

    vlt::StringSink sink;
    const auto written = write_message(fields, options, part ? &*part : nullptr, context, sink);
    if (!written.ok()) {
        std::fprintf(stderr, "compose failed\n");
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(sink.text().data(), static_cast<std::streamsize>(sink.text().size()));
    return out ? 0 : 1;
}
