// Steps per second of the split-screen playback area at 1080p: two H.264 encodes against the raw
// reference, stepped frame by frame with each step painted, in the L|R and the heat-map view modes,
// at 8 and at 10 bits. A step is what the playback timer does: one decoding task per place on the
// thread pool, the conversion to images (and the two difference heat maps), and the repaint.
//
// Each lap steps once through the clip with freshly opened decoders (no picture from a cache).
// Usage: gui_playback_bench [steps]   (offscreen unless QT_QPA_PLATFORM says otherwise; the clips
// are made with ffmpeg into a temporary folder)
//        gui_playback_bench steps --vvc A.bit B.bit
//   two VVC streams of one size and format against a raw reference: the pictures of A, decoded
//   once into a Y4M file in a temporary folder (ffmpeg has no VVC encoder to make such clips).

#include "gui_bench_support.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "y4m_writer.h"
#include "app/ze_nox_gui_app.h"
#include "playback/ze_splitted_playback_container.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The three decoders of one measurement, opened afresh for each lap so that no picture comes from
// a cache filled by an earlier lap.
struct Decoders
{
    ZeOpenedNoxDecoder left, right, ref;
};
using OpenDecoders = std::function<bool(Decoders&)>;

// Steps the area through `frames` pictures from the first, with each step painted, in laps of fresh
// decoders until `steps` steps are done; gives steps per second (opening not counted).
double StepsPerSecond(ZeSplittedPlaybackContainer::ViewMode mode, OpenDecoders const& open, int steps, int frames)
{
    qint64 elapsed = 0;
    int done = 0;
    while (done < steps) {
        Decoders d;
        if (!open(d))
            return 0.0;
        ZeSplittedPlaybackContainer area;
        area.resize(1600, 900);
        area.show();
        area.setLeftDec(d.left.decoder.get());
        area.setRightDec(d.right.decoder.get());
        area.setRefDec(d.ref.decoder.get());
        area.setViewMode(mode);
        QElapsedTimer t;
        t.start();
        area.showFirstFrame();
        area.repaint();
        QCoreApplication::processEvents();
        for (int i = 1; i < frames && done < steps; ++i, ++done) {
            area.showNextFrame();
            area.repaint();
            QCoreApplication::processEvents();
        }
        elapsed += t.elapsed();
        area.closeAllFiles();
    }
    return steps * 1000.0 / std::max<qint64>(1, elapsed);
}

// Measures both view modes and prints a line per mode.
void MeasureModes(OpenDecoders const& open, QString const& size, char const* label, int steps, int frames)
{
    for (auto mode : {ZeSplittedPlaybackContainer::VIEW_MODE_LEFT_RIGHT, ZeSplittedPlaybackContainer::VIEW_MODE_HEATMAP_DIFF}) {
        double const rate = StepsPerSecond(mode, open, steps, frames);
        std::printf("%s %-11s %-8s %6.1f steps/s\n", qPrintable(size), label,
                    mode == ZeSplittedPlaybackContainer::VIEW_MODE_LEFT_RIGHT ? "L|R" : "heat map", rate);
        std::fflush(stdout);
    }
}

int RunVvc(QString const& dir, QString const& a, QString const& b, int steps)
{
    Decoders first;
    first.left = Open(ZE_STREAM_TYPE_VVC, a);
    first.right = Open(ZE_STREAM_TYPE_VVC, b);
    if (first.left.result != ZE_NOX_CORE_OK || first.right.result != ZE_NOX_CORE_OK) {
        std::fprintf(stderr, "cannot open the VVC streams (%d %d)\n", int(first.left.result), int(first.right.result));
        return 1;
    }
    ZeNoxDecoder& l = *first.left.decoder;
    ZeNoxDecoder& r = *first.right.decoder;
    if (l.width() != r.width() || l.height() != r.height() || l.pixelFormat() != r.pixelFormat()) {
        std::fprintf(stderr, "the VVC streams differ in size or format\n");
        return 1;
    }
    QString const refPath = dir + QStringLiteral("/vvc_ref.y4m");
    int const written = WriteY4m(l, refPath);
    int const frames = std::min({written, l.getOriginalFrameCount(), r.getOriginalFrameCount()});
    if (frames < 2) {
        std::fprintf(stderr, "cannot write the raw reference (%d pictures)\n", written);
        return 1;
    }
    QString const size = QStringLiteral("%1x%2").arg(l.width()).arg(l.height());
    auto open = [&](Decoders& d) {
        d.left = Open(ZE_STREAM_TYPE_VVC, a);
        d.right = Open(ZE_STREAM_TYPE_VVC, b);
        d.ref = Open(ZE_STREAM_TYPE_YUV, refPath);
        return d.left.result == ZE_NOX_CORE_OK && d.right.result == ZE_NOX_CORE_OK && d.ref.result == ZE_NOX_CORE_OK;
    };
    MeasureModes(open, size, "VVC", steps, frames);
    return 0;
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
    if (argc > 4 && std::strcmp(argv[2], "--vvc") == 0)
        return RunVvc(clipDir.path(), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]), steps);

    for (char const* fmt : {"yuv420p", "yuv420p10le"}) {
        if (!MakeClips(clipDir.path(), fmt, frames)) {
            std::fprintf(stderr, "ffmpeg could not make the %s clips\n", fmt);
            return 1;
        }
        QString const base = clipDir.filePath(QString::fromLatin1(fmt));
        auto open = [&](Decoders& d) {
            d.left = Open(ZE_STREAM_TYPE_AVC, base + "_a.h264");
            d.right = Open(ZE_STREAM_TYPE_AVC, base + "_b.h264");
            d.ref = Open(ZE_STREAM_TYPE_YUV, base + "_ref.y4m");
            bool const ok =
                d.left.result == ZE_NOX_CORE_OK && d.right.result == ZE_NOX_CORE_OK && d.ref.result == ZE_NOX_CORE_OK;
            if (!ok)
                std::fprintf(stderr, "cannot open the %s clips (%d %d %d)\n", fmt, int(d.left.result),
                             int(d.right.result), int(d.ref.result));
            return ok;
        };
        MeasureModes(open, QStringLiteral("1920x1080"), fmt, steps, frames);
    }
    return 0;
}
