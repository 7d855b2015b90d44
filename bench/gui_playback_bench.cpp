// Steps per second of the split-screen playback area at 1080p: two H.264 encodes against the raw
// reference, stepped frame by frame with each step painted, in the L|R and the heat-map view modes,
// at 8 and at 10 bits. A step is what the playback timer does: one decoding task per place on the
// thread pool, the conversion to images (and the two difference heat maps), and the repaint.
//
// Usage: gui_playback_bench [steps]   (offscreen unless QT_QPA_PLATFORM says otherwise; the clips
// are made with ffmpeg into a temporary folder)

#include "gui_bench_support.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "app/ze_nox_gui_app.h"
#include "playback/ze_splitted_playback_container.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ze::nox::core;
using namespace ze::nox::gui;

namespace {

bool Run(std::string const& cmd)
{
    return std::system(cmd.c_str()) == 0;
}

// A 1080p reference of `frames` pictures and two libx264 encodes of it, in pixel format fmt.
bool MakeClips(QString const& dir, char const* fmt, int frames)
{
    std::string const ff = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
    std::string const d = dir.toStdString() + "/";
    std::string const ref = d + fmt + "_ref.y4m";
    return Run(ff + "-f lavfi -i testsrc2=s=1920x1080:r=25 -frames:v " + std::to_string(frames) + " -pix_fmt " + fmt +
               " -strict -1 -f yuv4mpegpipe " + ref) &&
           Run(ff + "-i " + ref + " -c:v libx264 -preset veryfast -crf 28 -pix_fmt " + fmt + " " + d + fmt +
               "_a.h264") &&
           Run(ff + "-i " + ref + " -c:v libx264 -preset veryfast -crf 38 -pix_fmt " + fmt + " " + d + fmt + "_b.h264");
}

ZeOpenedNoxDecoder Open(ZeStreamType type, QString const& path)
{
    return CreateAndOpenNoxDecoder(type, path, nullptr, nullptr, false, false);
}

// Steps the area `steps` times from the first frame (wrapping at the end) and gives steps per second.
double StepsPerSecond(ZeSplittedPlaybackContainer& area, int steps, int frames)
{
    area.showFirstFrame();
    QCoreApplication::processEvents();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < steps; ++i) {
        if ((i + 1) % frames == 0)
            area.showFirstFrame();
        else
            area.showNextFrame();
        area.repaint();
        QCoreApplication::processEvents();
    }
    return steps * 1000.0 / std::max<qint64>(1, t.elapsed());
}

} // namespace

int main(int argc, char** argv)
{
    int const steps = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    int const frames = 50;

    GuiBenchSettings settings;
    QTemporaryDir clipDir;
    if (!settings.isValid() || !clipDir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    ZeNoxGuiApp app(argc, argv);

    for (char const* fmt : {"yuv420p", "yuv420p10le"}) {
        if (!MakeClips(clipDir.path(), fmt, frames)) {
            std::fprintf(stderr, "ffmpeg could not make the %s clips\n", fmt);
            return 1;
        }
        QString const base = clipDir.filePath(QString::fromLatin1(fmt));
        ZeOpenedNoxDecoder left = Open(ZE_STREAM_TYPE_AVC, base + "_a.h264");
        ZeOpenedNoxDecoder right = Open(ZE_STREAM_TYPE_AVC, base + "_b.h264");
        ZeOpenedNoxDecoder ref = Open(ZE_STREAM_TYPE_YUV, base + "_ref.y4m");
        if (left.result != ZE_NOX_CORE_OK || right.result != ZE_NOX_CORE_OK || ref.result != ZE_NOX_CORE_OK) {
            std::fprintf(stderr, "cannot open the %s clips (%d %d %d)\n", fmt, int(left.result), int(right.result),
                         int(ref.result));
            return 1;
        }
        ZeSplittedPlaybackContainer area;
        area.resize(1600, 900);
        area.show();
        area.setLeftDec(left.decoder.get());
        area.setRightDec(right.decoder.get());
        area.setRefDec(ref.decoder.get());
        for (auto mode :
             {ZeSplittedPlaybackContainer::VIEW_MODE_LEFT_RIGHT, ZeSplittedPlaybackContainer::VIEW_MODE_HEATMAP_DIFF}) {
            area.setViewMode(mode);
            double const rate = StepsPerSecond(area, steps, frames);
            std::printf("1920x1080 %-11s %-8s %6.1f steps/s\n", fmt,
                        mode == ZeSplittedPlaybackContainer::VIEW_MODE_LEFT_RIGHT ? "L|R" : "heat map", rate);
            std::fflush(stdout);
        }
        area.closeAllFiles();
    }
    return 0;
}
