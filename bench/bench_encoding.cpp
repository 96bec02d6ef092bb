// Throughput of the encoders that whole bodies and attachments pass through.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "encoding/base64.h"
#include "encoding/kanji.h"

namespace {

constexpr std::size_t kAttachmentBytes = 100 * 1000 * 1000;
constexpr std::size_t kPieceBytes = 64 * 1024;
constexpr std::size_t kBodyBytes = 10 * 1000 * 1000;

// Bytes of every value, from a small linear congruential generator.
std::string make_binary(std::size_t size) {
    std::string data(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return data;
}

// A mail body: kanji, hiragana, katakana, some half-width katakana, ASCII and
// CR LF line ends, repeated to the size asked for.
std::string make_japanese_body(std::size_t size) {
    const std::string lines[] = {
        "お世話になっております。株式会社ベラムタイドの山田です。\r\n",
        "先日ご依頼いただいた見積書（No. 2024-0815）を添付いたします。\r\n",
        "納期は来月末、数量は1,200個で計算しております。ご確認ください。\r\n",
        "ｶﾀｶﾅの品名はﾃﾞｰﾀﾍﾞｰｽの都合で半角のままです。\r\n",
        "Please find the quotation attached. Thank you for your business.\r\n",
        "\r\n",
        "以上、よろしくお願い申し上げます。\r\n",
    };
    std::string body;
    body.reserve(size + 256);
    while (body.size() < size) {
        for (const std::string& line : lines) body += line;
    }
    return body;
}

void bm_base64_encode(benchmark::State& state) {
    const std::string data = make_binary(kAttachmentBytes);
    for (auto _ : state) {
        std::string text = vlt::encoding::base64_encode(data);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(bm_base64_encode)->Unit(benchmark::kMillisecond);

// The encoder itself, writing into a buffer that is reused between runs, so
// that the first-touch cost of 135 MB of fresh memory is not counted.
void bm_base64_encode_reused_buffer(benchmark::State& state) {
    const std::string data = make_binary(kAttachmentBytes);
    std::string text;
    vlt::encoding::base64_encode(data, text);
    for (auto _ : state) {
        vlt::encoding::base64_encode(data, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(bm_base64_encode_reused_buffer)->Unit(benchmark::kMillisecond);

// The cost of the fresh, zero-filled string that base64_encode returns for
// 100 MB, without any encoding: on machines where first touching memory is
// slow (some virtual machines), this bounds what the one-shot encoder can
// reach.
void bm_fresh_output_buffer(benchmark::State& state) {
    const std::size_t size = kAttachmentBytes / 3 * 4 + kAttachmentBytes / 57 * 2;
    for (auto _ : state) {
        std::string text(size, '\0');
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kAttachmentBytes));
}
BENCHMARK(bm_fresh_output_buffer)->Unit(benchmark::kMillisecond);

// As the attachment writer uses it: pieces of a file in, pieces of text out.
void bm_base64_stream(benchmark::State& state) {
    const std::string data = make_binary(kAttachmentBytes);
    std::string out;
    for (auto _ : state) {
        vlt::encoding::Base64StreamEncoder encoder;
        std::size_t written = 0;
        for (std::size_t at = 0; at < data.size(); at += kPieceBytes) {
            out.clear();
            encoder.update(std::string_view(data).substr(at, kPieceBytes), out);
            written += out.size();
        }
        out.clear();
        encoder.finish(out);
        written += out.size();
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(bm_base64_stream)->Unit(benchmark::kMillisecond);

void bm_unicode_to_jis(benchmark::State& state) {
    const std::string body = make_japanese_body(kBodyBytes);
    for (auto _ : state) {
        std::string jis = vlt::encoding::unicode_to_jis(body);
        benchmark::DoNotOptimize(jis.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(bm_unicode_to_jis)->Unit(benchmark::kMillisecond);

}  // namespace
