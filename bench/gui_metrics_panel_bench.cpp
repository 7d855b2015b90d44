// GUI time per frame of the metrics panel while a measurement delivers values: 10,000 frames of
// the 12 per-frame values for 4 streams (with a left/right pair and an RD curve of all four),
// fed through the calculators' queued per-frame signal as a run does. Prints the GUI thread's
// time per frame at the start and at the end, and the cost of one redraw of the shown charts
// at the end (the panel redraws them at most once per replot delay).
//
// Usage: gui_metrics_panel_bench [frames]   (offscreen unless QT_QPA_PLATFORM says otherwise)

#include "gui_bench_support.h"
#include "metrics_panel/ze_metric_curve.h"
#include "metrics_panel/ze_metrics_view.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "metrics_panel/ze_nox_rd_curve.h"
#include "metrics_panel/ze_qwt_plot.h"
#include "metrics_panel/ze_video_stream_metrics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace ze::nox::gui;

namespace {

// A two-frame 64x48 4:2:0 clip; the values come from the bench, not from the pictures.
bool WriteClip(QString const& path, int seed)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg\n");
    QByteArray picture(64 * 48 * 3 / 2, char(seed));
    for (int i = 0; i < 2; ++i) {
        f.write("FRAME\n");
        f.write(picture);
    }
    return true;
}

double Mean(std::vector<double> const& v, size_t from, size_t to)
{
    to = std::min(to, v.size());
    if (from >= to)
        return 0.0;
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += v[i];
    return sum / static_cast<double>(to - from);
}

} // namespace

int main(int argc, char** argv)
{
    int const frames = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
    int const kStreams = 4;

    GuiBenchSettings settings;
    QTemporaryDir clipDir;
    if (!settings.isValid() || !clipDir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    ZeNoxGuiApp app(argc, argv);

    ZeMetricsView view;
    view.resize(1300, 500);
    view.show();
    QCoreApplication::processEvents();

    ZeNoxGuiProject* project = app.project();
    QList<ZeNoxSourceFile*> files;
    for (int i = 0; i <= kStreams; ++i) {
        QString const path = clipDir.filePath(QStringLiteral("s%1.y4m").arg(i));
        if (!WriteClip(path, 16 + i) || project->addSourceFile(path) != ZE_NOX_GUI_OK) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
            return 1;
        }
        files.append(project->srcFileByName(path));
    }
    files[0]->setIsRefFile(true);
    files[1]->setIsLeftFile(true);
    files[2]->setIsRightFile(true);
    project->addRdCurve(QStringLiteral("all"));
    ZeNoxRdCurve* curve = project->rdCurveByName(QStringLiteral("all"));
    for (int i = 1; i <= kStreams; ++i)
        curve->addSrcFile(files[i]);
    project->setRdCurveAnchor(curve);
    QCoreApplication::processEvents();
    if (view.streams().size() != kStreams) {
        std::fprintf(stderr, "expected %d streams, got %d\n", kStreams, view.streams().size());
        return 1;
    }

    std::vector<ZeVideoStreamMetrics*> streams;
    for (ZeVideoStreamMetrics* s : view.streams())
        streams.push_back(s);
    std::vector<double> perFrameMs;
    perFrameMs.reserve(static_cast<size_t>(frames));
    QVector<double> values(12);
    QElapsedTimer total;
    total.start();
    double guiMs = 0.0;
    for (int f = 0; f < frames; ++f) {
        for (size_t k = 0; k < streams.size(); ++k) {
            for (int i = 0; i < 12; ++i)
                values[i] = 30.0 + 5.0 * std::sin(0.01 * f + static_cast<double>(k + i));
            // Queued to the stream's collection, as the calculator's worker threads deliver.
            emit streams[k]->m_calculator.frameMetricsReady(f, values);
            emit streams[k]->m_calculator.progress(static_cast<int>(static_cast<long long>(f) * 100 / frames));
        }
        QElapsedTimer t;
        t.start();
        QCoreApplication::processEvents();
        double const ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        perFrameMs.push_back(ms);
        guiMs += ms;
    }
    // The last scheduled redraws.
    QElapsedTimer t;
    t.start();
    for (ZeMetricsPlot* p : view.findChildren<ZeMetricsPlot*>())
        if (p->isReplotPending() && p->isVisible())
            p->replot();
    guiMs += static_cast<double>(t.nsecsElapsed()) / 1e6;

    // One redraw of every shown chart with all points, the most the panel does per replot delay
    // (median of a few).
    std::vector<double> redraws;
    int shown = 0;
    for (int r = 0; r < 7; ++r) {
        t.restart();
        shown = 0;
        for (ZeMetricsPlot* p : view.findChildren<ZeMetricsPlot*>())
            if (p->isVisible()) {
                p->replot();
                p->canvas()->repaint(); // the painting itself, not only its request
                ++shown;
            }
        redraws.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(redraws.begin(), redraws.end());
    double const redrawMs = redraws[redraws.size() / 2];

    size_t const n = perFrameMs.size();
    std::printf("frames: %d, streams: %d, wall %.1f ms, GUI time %.1f ms (%.4f ms per frame)\n", frames, kStreams,
                static_cast<double>(total.nsecsElapsed()) / 1e6, guiMs, guiMs / frames);
    std::printf("GUI time per frame, frames 0-19 (about frame 10): %.4f ms\n", Mean(perFrameMs, 0, 20));
    std::printf("GUI time per frame, frames 0-999:   %.4f ms\n", Mean(perFrameMs, 0, 1000));
    size_t const lastFrom = n > 1000 ? n - 1000 : 0; // fewer frames than one window: all of them
    std::printf("GUI time per frame, frames %zu-%zu: %.4f ms\n", lastFrom, n - 1, Mean(perFrameMs, lastFrom, n));
    std::printf("GUI time per frame, last 20 frames (about frame %zu): %.4f ms\n", n, Mean(perFrameMs, n - 20, n));
    std::printf("one redraw of the %d shown charts at the end: %.2f ms (at most once per %d ms)\n", shown, redrawMs,
                ZeMetricsPlot::kReplotDelayMs);
    return 0;
}
