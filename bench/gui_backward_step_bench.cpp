// Backward steps of the split-screen playback area with three compressed 1080p streams (left,
// right and reference: the H.264, HEVC and AV1 streams of bench/gen_random_access_streams.sh, a
// random-access point every 250 frames): Last Frame, then Previous Frame again and again, each
// step painted, as a user steps back through an artefact.
//
// Usage: gui_backward_step_bench [steps [stream folder]]   (default 100 steps, build/bench_media)

#include "gui_bench_support.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "app/ze_nox_gui_app.h"
#include "playback/ze_splitted_playback_container.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace ze::nox::core;
using namespace ze::nox::gui;

int main(int argc, char** argv)
{
    int const steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    GuiBenchSettings settings;
    if (!settings.isValid())
        return 1;
    ZeNoxGuiApp app(argc, argv);
    QString const dir = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../bench_media");
    ZeOpenedNoxDecoder left = CreateAndOpenNoxDecoder(ZE_STREAM_TYPE_AVC, dir + "/ra_1080p_1500f.h264", nullptr,
                                                      nullptr, false, false);
    ZeOpenedNoxDecoder right = CreateAndOpenNoxDecoder(ZE_STREAM_TYPE_HEVC, dir + "/ra_1080p_1500f.h265", nullptr,
                                                       nullptr, false, false);
    ZeOpenedNoxDecoder ref = CreateAndOpenNoxDecoder(ZE_STREAM_TYPE_AV1, dir + "/ra_1080p_1500f.ivf", nullptr,
                                                     nullptr, false, false);
    if (left.result != ZE_NOX_CORE_OK || right.result != ZE_NOX_CORE_OK || ref.result != ZE_NOX_CORE_OK) {
        std::fprintf(stderr, "cannot open the streams in %s (%d %d %d); make them with gen_random_access_streams.sh\n",
                     qPrintable(dir), int(left.result), int(right.result), int(ref.result));
        return 1;
    }
    ZeSplittedPlaybackContainer area;
    area.resize(1600, 900);
    area.show();
    area.setLeftDec(left.decoder.get());
    area.setRightDec(right.decoder.get());
    area.setRefDec(ref.decoder.get());

    QElapsedTimer t;
    t.start();
    area.showLastFrame();
    area.repaint();
    QCoreApplication::processEvents();
    std::printf("Last Frame of three 1080p streams: %lld ms (at frame %d)\n", t.elapsed(), area.curFrameNumber());

    qint64 slowest = 0;
    t.start();
    for (int i = 0; i < steps; ++i) {
        QElapsedTimer step;
        step.start();
        area.showPrevFrame();
        area.repaint();
        QCoreApplication::processEvents();
        slowest = std::max(slowest, step.elapsed());
    }
    double const average = double(t.elapsed()) / steps;
    std::printf("%d Previous Frames: average %.1f ms, slowest %lld ms, now at frame %d; target: average < 100 ms %s\n",
                steps, average, slowest, area.curFrameNumber(), average < 100 ? "(met)" : "(missed)");
    area.closeAllFiles();
    return 0;
}
