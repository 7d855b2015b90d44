// Decoding a 1280x720 H.264 stream through ZeFfmpegDecoder against a plain libavcodec
// parser/send/receive loop over the same file with the same decoder settings.
// The stream is made by the test-media step: build/tests/media/ff_avc_1280x720.h264, or the file
// named by SERAVIN_BENCH_H264.
#include "display/frame.h"
#include "decoders/ze_ffmpeg_decoder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace ze::nox::core;

namespace {

std::string sClip;

int PlainDecode(std::string const& path)
{
    AVCodec const* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecParserContext* parser = av_parser_init(codec->id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    avcodec_open2(ctx, codec, nullptr);
    std::vector<uint8_t> buf(0x20000 + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    FILE* f = std::fopen(path.c_str(), "rb");
    int pictures = 0;
    auto receiveAll = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            ++pictures;
            av_frame_unref(frame);
        }
    };
    bool eof = false;
    while (f && !eof) {
        const size_t got = std::fread(buf.data(), 1, 0x20000, f);
        eof = got == 0;
        uint8_t const* data = buf.data();
        int left = static_cast<int>(got);
        do {
            int const used =
                av_parser_parse2(parser, ctx, &pkt->data, &pkt->size, data, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                break;
            data += used;
            left -= used;
            if (pkt->size > 0 && avcodec_send_packet(ctx, pkt) == 0)
                receiveAll();
        } while (left > 0);
    }
    avcodec_send_packet(ctx, nullptr);
    receiveAll();
    if (f)
        std::fclose(f);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    return pictures;
}

void BM_PlainLibavcodecLoop(benchmark::State& state)
{
    int pictures = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(pictures = PlainDecode(sClip));
    state.counters["pictures"] = pictures;
}

void BM_ZeFfmpegDecoderWalk(benchmark::State& state)
{
    ZeFfmpegDecoder dec(ZE_STREAM_TYPE_AVC);
    if (dec.openFile(QString::fromStdString(sClip), nullptr) != ZE_NOX_CORE_OK) {
        state.SkipWithError("cannot open the clip");
        return;
    }
    Frame frame;
    int pictures = 0;
    for (auto _ : state) {
        pictures = 0;
        for (ZeNoxCoreError res = dec.getFirstFrame(frame); res == ZE_NOX_CORE_OK; res = dec.getNextFrame(frame))
            ++pictures;
    }
    state.counters["pictures"] = pictures;
}

void BM_ZeFfmpegDecoderOpen(benchmark::State& state)
{
    for (auto _ : state) {
        ZeFfmpegDecoder dec(ZE_STREAM_TYPE_AVC);
        benchmark::DoNotOptimize(dec.openFile(QString::fromStdString(sClip), nullptr));
    }
}

BENCHMARK(BM_PlainLibavcodecLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZeFfmpegDecoderWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZeFfmpegDecoderOpen)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (char const* env = std::getenv("SERAVIN_BENCH_H264")) {
        sClip = env;
    } else {
        std::string exe = argv[0];
        const size_t slash = exe.rfind('/');
        const std::string dir = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
        sClip = dir + "/../tests/media/ff_avc_1280x720.h264";
    }
    av_log_set_level(AV_LOG_ERROR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
