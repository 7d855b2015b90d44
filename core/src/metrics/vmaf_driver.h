#pragma once

// Per-plane measurement driver: one call of compute_vmaf measures a whole pair of streams.
// Worker threads pull frames one at a time through the caller's pull callback, compute PSNR,
// SSIM and VMAF on each plane (Y, U, V) as an independent grey picture, and hand each frame's
// values back through the delivery callback strictly in frame order. No Qt here.
//
// How a caller uses it (the quality-metric calculator does exactly this):
//
//   int widths[4]  = {W, cw, cw, 0};   // chroma: ceil(W / 2^shift)
//   int heights[4] = {H, ch, ch, 0};
//   double ignored = 0.0;
//   int rc = ze::nox::core::compute_vmaf(&ignored, "yuv420p" /* or "yuv420p10le" */, widths, heights,
//       &Pull, context, "/abs/path/models/vmaf_v0.6.1.pkl", nullptr, nullptr,
//       0, 0, 0, 0, /*psnr*/ 1, /*ssim*/ 1, /*ms-ssim*/ 0, nullptr, threads, 1, 0, &Deliver);
//
//   int Pull(float* ref[4], float* dis[4], float* tmp[4], int stride[4], void* user):
//       write height[p] rows of width[p] floats into ref[p] and dis[p] (rows stride[p] BYTES
//       apart; slot 3 has stride 0 and must not be written), samples on the 8-bit scale
//       (8-bit values as is, deeper samples times 0.25); tmp[p] is free scratch of
//       2 x stride[p] x height[p] bytes. Return 0 = frame written, 1 = error, 2 = no more frames.
//       Calls never overlap and come in frame order 0, 1, 2 ... on worker threads.
//   void Deliver(int frame, double values[3][4], void* user):
//       values[0][p] PSNR, values[1][p] SSIM, values[2][p] VMAF of plane p (0 Y, 1 U, 2 V);
//       column 3 holds 0. Frames arrive 0, 1, 2 ... with no gap and never overlap, on worker
//       threads, possibly while a pull runs on another worker. Valid only during the call.
//
// disableAvx != 0 runs the portable kernels instead of the vector ones (same values).
//
// The overload with a fill callback splits the pull in two: the pull (under the pull lock, in
// frame order) only claims the next frame and answers 0, 1 or 2 as above without writing the
// planes; fill(frame, ref, dis, stride, user) then writes the claimed frame's planes on the
// worker that claimed it, outside any lock, possibly while other frames are pulled or filled.
// It is called once for every frame the pull answered 0 for, before the frame is read (unless
// the measurement fails first, e.g. for want of memory).
//
// Result: 0 the measurement ran (every frame pulled before a "no more frames" or an error
// answer is delivered; a pull error at frame k still delivers 0 .. k-1); -2 argument, model or
// worker failure (one line "Caught VmafException: ..." on standard output); -3 / -4 runtime or
// logic error. No score is pooled: argument 1 is set to 0.0 on success.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ze::nox::core {

namespace vmaf {
class VmafModel;
}

using ReadFrameCallbackFn = int (*)(float* ref[4], float* dis[4], float* tmp[4], int stride[4], void* user);
using FrameMetricsReadyCallbackFn = void (*)(int frame, double values[3][4], void* user);
using FillFrameCallbackFn = void (*)(int frame, float* ref[4], float* dis[4], int stride[4], void* user);

int compute_vmaf(double* vmafScore, char const* fmt, int const width[4], int const height[4],
                 ReadFrameCallbackFn readFrame, void* userData, char const* modelPath, char const* logPath,
                 char const* logFmt, int disableClip, int disableAvx, int enableTransform, int phoneModel, int doPsnr,
                 int doSsim, int doMsSsim, char const* poolMethod, int nThread, int nSubsample, int enableConfInterval,
                 FrameMetricsReadyCallbackFn frameReady);
int compute_vmaf(double* vmafScore, char const* fmt, int const width[4], int const height[4],
                 ReadFrameCallbackFn readFrame, void* userData, char const* modelPath, char const* logPath,
                 char const* logFmt, int disableClip, int disableAvx, int enableTransform, int phoneModel, int doPsnr,
                 int doSsim, int doMsSsim, char const* poolMethod, int nThread, int nSubsample, int enableConfInterval,
                 FrameMetricsReadyCallbackFn frameReady, FillFrameCallbackFn fillFrame);

// Geometry of one measurement: four plane slots (slot 3 unused) and the pixel-format name.
class Asset
{
public:
    Asset(int const widths[4], int const heights[4], char const* fmt);
    Asset(int const widths[4], int const heights[4]);
    int getWidth(int slot) const;
    int getHeight(int slot) const;
    char const* getFmt() const { return m_fmt; }

private:
    int m_widths[4];
    int m_heights[4];
    char const* m_fmt;
};

// Growable zero-filled array of doubles indexed by frame; safe to read while other
// threads store later frames and grow it.
class DArray
{
public:
    explicit DArray(std::size_t capacity = 1000);
    void set(std::size_t index, double value);
    double get(std::size_t index) const;
    std::size_t capacity() const;

private:
    mutable std::mutex m_mutex;
    std::vector<double> m_data;
};

// The per-slot feature arrays of one measurement.
struct VmafFeatureArrays
{
    DArray admNum, admDen;
    DArray admNumScale[4], admDenScale[4];
    DArray motion, motion2;
    DArray vifNumScale[4], vifDenScale[4];
    DArray vif;
    std::unique_ptr<DArray> psnr, ssim, msSsim; // only when requested
};

// Result of the driver's inner steps (nothing is thrown across the entry).
struct VmafStatus
{
    enum Kind { Ok = 0, VmafError = -2, RuntimeError = -3, LogicError = -4 } kind = Ok;
    std::string text;
};

class VmafQualityRunner
{
public:
    // One finished frame waiting for its turn: PSNR[4], SSIM[4], VMAF[4] and the user pointer.
    struct DataToSend
    {
        double values[12] = {};
        void* userData = nullptr;
    };

    explicit VmafQualityRunner(char const* modelPath);
    virtual ~VmafQualityRunner();

    virtual VmafStatus run(Asset const& asset, ReadFrameCallbackFn readFrame, void* userData, bool disableClip,
                           bool enableTransform, bool doPsnr, bool doSsim, bool doMsSsim, int nThread, int nSubsample,
                           FrameMetricsReadyCallbackFn frameReady);

    // Called under the delivery lock once frame n's features are stored. Returns false
    // (with the reason in error) when the frame cannot be predicted.
    bool oneFrameMetricsReadyCallback(int n, std::string& error);

    int lastSentFrame() const { return m_lastSentFrame; }

    // Vector kernels where the processor has them (the default), or the portable ones.
    void setVectorKernels(bool allowed) { m_allowVector = allowed; }
    // Second stage of every pull, run outside the pull lock (see compute_vmaf); none by default.
    void setFillFrame(FillFrameCallbackFn fill) { m_fillFrame = fill; }

protected:
    std::string m_modelPath;
    std::unique_ptr<vmaf::VmafModel> m_model;
    void* m_userData = nullptr;
    FrameMetricsReadyCallbackFn m_frameReadyCallback = nullptr;
    std::map<int, DataToSend> m_pendingFrames;
    int m_lastSentFrame = -1;

private:
    std::vector<int> m_featureMap;                            // model feature j -> index in the twelve
    std::vector<double> m_features;                           // one plane's features (under the delivery lock)
    std::vector<std::unique_ptr<VmafFeatureArrays>> m_arrays; // per plane slot
    bool m_doPsnr = true;
    bool m_doSsim = true;
    bool m_allowVector = true;
    FillFrameCallbackFn m_fillFrame = nullptr;
};

// Confidence-interval runner of the library; never made in this system.
class BootstrapVmafQualityRunner : public VmafQualityRunner
{
public:
    using VmafQualityRunner::VmafQualityRunner;
};

namespace vmaf {
// Row stride in bytes of a plane slot: width x 4 raised to a multiple of 32 (0 for width 0).
int PlaneStrideBytes(int width);
// Worker count for a request: the processor count when 0 or above it.
int EffectiveThreadCount(int requested);
// How much lower than the thread that starts a measurement its workers run (in nice steps, up
// to the lowest priority): the threads that decode the pictures go first, the workers use the
// cores they leave. Where a thread's priority is not its own, the workers run as their caller.
constexpr int kWorkerNiceStep = 5;
} // namespace vmaf

} // namespace ze::nox::core
