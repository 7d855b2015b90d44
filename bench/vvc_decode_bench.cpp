// Decoding speed of a VVC stream, in pictures per second: the layer on 1 and 8 threads (each
// thread its own decoder on the same stream: the decoder itself runs on one thread), and the
// opening through the core's decoder.
//   vvc_decode_bench [benchmark options] [stream = tests/data/vvc/MIP_A_HHI_3.bit]
// For the figure of record pass the largest all-intra conformance stream (ISP_A_HHI_3).
// Measured: the layer's pass over the stream (Annex B, complete high-level syntax, entropy
// decoding of the intra slices, reconstruction of the intra pictures with LMCS, deblocking, SAO
// and ALF and their hash check, picture order), and the validation pass of opening it through
// the core's decoder. Inter pictures are not reconstructed yet.

#include "decoders/ze_vvc_decoder.h"

#include "decoding/StreamCheck.h"
#include "util/VvcCommon.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <string>

using namespace ze::nox::core;

namespace {

std::string sStream = SERAVIN_VVC_TEST_DATA_DIR "/MIP_A_HHI_3.bit";

void BM_VvcLayerPass(benchmark::State& state)
{
    int64_t pictures = 0;
    for (auto _ : state) {
        const StreamCheckResult r = CheckStream(sStream);
        if (!r.error.empty() || r.hashes.pictures == 0) {
            state.SkipWithError(("stream not read: " + r.error).c_str());
            return;
        }
        pictures += r.hashes.pictures;
    }
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VvcLayerPass)->Threads(1)->Threads(8)->UseRealTime()->Unit(benchmark::kMillisecond);

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
    if (argc > 1)
        sStream = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
