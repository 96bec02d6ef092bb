// Composing a message with a large attachment: time per message and the
// process's peak resident memory, which stays small because the file is
// streamed through fixed-size pieces.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/sink.h"
#include "smtp/attachment.h"
#include "smtp/compose.h"

namespace {

// Counts the octets and drops them.
class DiscardSink final : public vlt::ByteSink {
  public:
    vlt::Status write(std::string_view bytes) override {
        m_count += bytes.size();
        return {};
    }
    std::size_t m_count = 0;
};

double peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

// Writes `size` bytes of varied content a piece at a time, so that making the
// file does not itself raise the peak memory.
std::string make_file(std::size_t size) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("vlt-bench-compose-" + std::to_string(getpid()) + ".bin");
    std::ofstream out(path, std::ios::binary);
    std::vector<char> piece(1 << 20);
    std::uint32_t x = 12345;
    for (std::size_t left = size; left > 0;) {
        for (auto& c : piece) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 24);
        }
        const std::size_t n = std::min(left, piece.size());
        out.write(piece.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    return path.string();
}

void BM_ComposeWithAttachment(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) << 20;
    const std::string path = make_file(size);
    const auto now = std::chrono::system_clock::now();
    const vlt::smtp::ComposeContext context{vlt::smtp::make_mailer_text("bench"),
                                            vlt::smtp::make_boundary(now), now};
    vlt::smtp::MessageFields fields;
    fields.from = "taro@example.com";
    fields.to = "hanako@example.com";
    fields.subject = "添付ファイルの送付";
    fields.body = "資料を添付します。\nよろしくお願いします。";
    vlt::smtp::HeaderOptions options;
    options.from_name = "山田太郎";

    auto prepared = vlt::smtp::prepare_attachment(path);
    if (!prepared.ok() || !prepared->has_value()) {
        state.SkipWithError("attachment could not be prepared");
        std::filesystem::remove(path);
        return;
    }
    const vlt::smtp::AttachmentPart part = **prepared;
    std::size_t octets = 0;
    for (auto _ : state) {
        DiscardSink sink;
        auto result = vlt::smtp::write_message(fields, options, &part, context, sink);
        if (!result.ok()) {
            state.SkipWithError("composition failed");
            break;
        }
        octets = sink.m_count;
        benchmark::DoNotOptimize(octets);
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
    state.counters["message_MiB"] = static_cast<double>(octets) / (1 << 20);
    state.counters["peak_rss_MiB"] = peak_rss_mib();
}

BENCHMARK(BM_ComposeWithAttachment)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace
