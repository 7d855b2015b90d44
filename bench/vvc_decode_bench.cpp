// Decoding speed of VVC streams, in pictures per second, and the opening of the first stream
// through the core's decoder.
//   vvc_decode_bench [benchmark options] [--threads=N] [stream ...]
//   (default tests/data/vvc/MIP_A_HHI_3.bit; N decoding threads, default the machine's cores or
//   SERAVIN_VVC_THREADS)
// For the figures of record pass three 1080p inter conformance streams (e.g. CIIP_A_MediaTek_4,
// SDH_A_Dolby_2, SAO_A_SAMSUNG_3). Measured: the layer's pass over each stream (Annex B, complete
// high-level syntax, entropy decoding of every slice, reconstruction of the pictures it
// reconstructs with the in-loop filters and their hash check, the picture buffer and its
// output order); the counter `matched` is the share of pictures that matched their hash.

#include "decoders/ze_vvc_decoder.h"

#include "decoding/StreamCheck.h"
#include "util/VvcCommon.h"
#include "util/WorkerPool.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace ze::nox::core;

namespace {

std::string sStream = SERAVIN_VVC_TEST_DATA_DIR "/MIP_A_HHI_3.bit";

void VvcLayerPass(benchmark::State& state, std::string const& path)
{
    int64_t pictures = 0, matched = 0;
    for (auto _ : state) {
        const StreamCheckResult r = CheckStream(path);
        if (!r.error.empty() || r.hashes.pictures == 0) {
            state.SkipWithError(("stream not read: " + r.error).c_str());
            return;
        }
        pictures += r.hashes.pictures;
        matched += r.hashes.matched;
    }
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
    state.counters["matched"] = pictures > 0 ? double(matched) / double(pictures) : 0.0;
    state.counters["threads"] = vvcutil::DecodingThreads();
}

void BM_VvcDecoderOpen(benchmark::State& state)
{
    int64_t pictures = 0;
    const QString path = QString::fromStdString(sStream);
    for (auto _ : state) {
        ZeVvcDecoder dec;
        if (dec.openFile(path, nullptr) != ZE_NOX_CORE_OK) {
            state.SkipWithError("stream not opened");
            return;
        }
        pictures += dec.getOriginalFrameCount();
    }
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}
// One thread only: decoder objects are made on one thread (their shared tables are counted
// without a lock).
BENCHMARK(BM_VvcDecoderOpen)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_verbosity = SILENT;
    benchmark::Initialize(&argc, argv);
    std::vector<std::string> streams;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--threads=", 10) != 0) {
            streams.push_back(argv[i]);
            continue;
        }
        char* end = nullptr;
        long const threads = std::strtol(argv[i] + 10, &end, 10);
        if (end == argv[i] + 10 || *end != '\0' || threads < 1) {
            std::fprintf(stderr, "--threads= needs a count of 1 or more\n");
            return 2;
        }
        vvcutil::SetDecodingThreads(int(threads));
    }
    if (streams.empty())
        streams.push_back(sStream);
    sStream = streams.front();
    for (std::string const& path : streams) {
        std::string const name = path.substr(path.find_last_of('/') + 1);
        benchmark::RegisterBenchmark(("VvcLayerPass/" + name).c_str(),
                                     [path](benchmark::State& state) { VvcLayerPass(state, path); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
