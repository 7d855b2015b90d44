#include "metrics/vmaf_driver.h"

#include "metrics/vmaf_adm.h"
#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_model.h"
#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_plane.h"
#include "metrics/vmaf_psnr.h"
#include "metrics/vmaf_ssim.h"
#include "metrics/vmaf_vif.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#ifdef __linux__
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ze::nox::core {

using vmaf::FloatBuffer;
using vmaf::PlaneView;

// ---------------------------------------------------------------- Asset, DArray

Asset::Asset(int const widths[4], int const heights[4], char const* fmt) : m_fmt(fmt)
{
    for (int i = 0; i < 4; ++i) {
        m_widths[i] = widths[i];
        m_heights[i] = heights[i];
    }
}

Asset::Asset(int const widths[4], int const heights[4]) : Asset(widths, heights, "yuv420p") {}

int Asset::getWidth(int slot) const
{
    return slot >= 0 && slot < 4 ? m_widths[slot] : 0;
}
int Asset::getHeight(int slot) const
{
    return slot >= 0 && slot < 4 ? m_heights[slot] : 0;
}

DArray::DArray(std::size_t capacity) : m_data(capacity, 0.0) {}

void DArray::set(std::size_t index, double value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_data.size()) {
        std::size_t cap = std::max<std::size_t>(m_data.size(), 1);
        while (cap <= index)
            cap *= 2;
        m_data.resize(cap, 0.0);
    }
    m_data[index] = value;
}

double DArray::get(std::size_t index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_data.size() ? m_data[index] : 0.0;
}

std::size_t DArray::capacity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data.size();
}

namespace vmaf {

int PlaneStrideBytes(int width)
{
    if (width <= 0)
        return 0;
    return (width * 4 + 31) / 32 * 32;
}

int EffectiveThreadCount(int requested)
{
    int const cpus = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    return requested <= 0 || requested > cpus ? cpus : requested;
}

} // namespace vmaf

// ---------------------------------------------------------------- worker pool

namespace {

// Names the model may use, in the order of the twelve per-plane features.
char const* const kFeatureNames[12] = {
    "'VMAF_feature_adm2_score'",       "'VMAF_feature_adm_scale0_score'", "'VMAF_feature_adm_scale1_score'",
    "'VMAF_feature_adm_scale2_score'", "'VMAF_feature_adm_scale3_score'", "'VMAF_feature_motion_score'",
    "'VMAF_feature_motion2_score'",    "'VMAF_feature_vif_scale0_score'", "'VMAF_feature_vif_scale1_score'",
    "'VMAF_feature_vif_scale2_score'", "'VMAF_feature_vif_scale3_score'", "'VMAF_feature_vif_score'"};

// Ratio with the reference's rule for an empty denominator: no information, no distortion.
double Ratio(double num, double den)
{
    return den == 0.0 ? 1.0 : num / den;
}

double Finite(double v)
{
    return std::isfinite(v) ? v : 0.0;
}

struct PoolSlot
{
    FloatBuffer buffer;
    int frame = -1;
};

// Set of plane buffers tagged with their frame index. Buffers are not zero-filled (the pull
// writes every sample that is read), so a slot costs memory only once used. When
// every slot is in use a new one is made; nullptr only when that allocation fails.
class Pool
{
public:
    bool init(std::size_t count, std::size_t floats)
    {
        m_floats = floats;
        m_slots.resize(count);
        for (auto& s : m_slots)
            if (!s.buffer.resize(floats, false))
                return false;
        return true;
    }
    float* take(int frame)
    {
        for (auto& s : m_slots)
            if (s.frame < 0) {
                s.frame = frame;
                return s.buffer.data();
            }
        PoolSlot slot;
        if (!slot.buffer.resize(m_floats, false))
            return nullptr;
        slot.frame = frame;
        m_slots.push_back(std::move(slot));
        return m_slots.back().buffer.data();
    }
    float* find(int frame)
    {
        for (auto& s : m_slots)
            if (s.frame == frame)
                return s.buffer.data();
        return nullptr;
    }
    void release(int frame)
    {
        for (auto& s : m_slots)
            if (s.frame == frame)
                s.frame = -1;
    }

private:
    std::vector<PoolSlot> m_slots;
    std::size_t m_floats = 0;
};

using FrameDoneFn = bool (*)(void* runner, int frame, std::string& error);

struct FrameBuffers
{
    float* ref[4] = {};
    float* dis[4] = {};
};

// One piece of a frame's measurement: a feature group of one plane. A frame's pieces are taken by
// whichever workers are free, so a few frames in flight keep every worker busy.
enum class Part { Vif, Adm, PsnrSsim };

// A frame in flight: its pictures and the pieces not finished yet (frame -1: a free entry).
struct FrameWork
{
    int frame = -1;
    int remaining = 0;
    FrameBuffers fb;
};

struct Task
{
    FrameWork* work = nullptr;
    int plane = 0;
    Part part = Part::Vif;
};

struct ComboShared
{
    std::mutex startLock;
    int workerCount = 0;
    ReadFrameCallbackFn readFrame = nullptr;
    FillFrameCallbackFn fillFrame = nullptr;
    void* userData = nullptr;
    FrameDoneFn frameDone = nullptr;
    void* runner = nullptr;
    std::mutex deliveryLock;
    int width[4] = {};
    int height[4] = {};
    int stride[4] = {};              // bytes
    std::size_t planeFloats[4] = {}; // stride x height / 4
    double peak = 255.0;
    double cap = 100.0;
    int subsample = 1;
    bool doPsnr = true;
    bool doSsim = true;
    vmaf::Kernels const* kernels = &vmaf::PortableKernels();
    FloatBuffer pullTmp[4]; // the pull's scratch; pulls never overlap, so one set serves all workers
    // One kernel scratch region per worker, mapped before the workers start (UseThreadScratchRegion).
    std::vector<FloatBuffer> scratchRegions;
    std::atomic<int> nextRegion{0};
    std::mutex errorLock;
    std::string error;
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::mutex pullLock; // the pull and nextFrame
    std::mutex poolLock; // guards the pools (a frame is handed back while another is pulled)
    int nextFrame = 0;
    Pool refPool[4], disPool[4];
    VmafFeatureArrays* arrays[4] = {};
    // Frames whose offset is applied (done outside the pull lock by the puller), and the motion
    // score of each frame against its predecessor, per plane.
    std::mutex preparedLock;
    std::condition_variable preparedCv;
    std::vector<char> prepared;
    std::vector<char> sadDone;
    std::vector<std::array<double, 4>> sad;
    // Frames in flight (started, not delivered), at most maxInFlight, and their queued pieces,
    // oldest frame first; stop, failed and these change under taskLock when workers may wait.
    std::mutex taskLock;
    std::condition_variable taskCv;
    std::vector<FrameWork> frames; // maxInFlight entries
    std::vector<Task> tasks;       // capacity for every piece of maxInFlight frames
    int inFlight = 0;
    int maxInFlight = 1;
    bool pulling = false; // a worker is pulling: the others measure queued pieces meanwhile

    void fail(std::string const& text)
    {
        {
            std::lock_guard<std::mutex> lock(errorLock);
            if (error.empty())
                error = text;
        }
        {
            std::lock_guard<std::mutex> lock(taskLock);
            failed = true;
            stop = true;
        }
        taskCv.notify_all();
        std::lock_guard<std::mutex> lock(preparedLock);
        preparedCv.notify_all();
    }
    // No frame is started any more; the frames in flight are still measured.
    void end()
    {
        {
            std::lock_guard<std::mutex> lock(taskLock);
            stop = true;
        }
        taskCv.notify_all();
    }
    void markPrepared(int frame)
    {
        {
            std::lock_guard<std::mutex> lock(preparedLock);
            if (static_cast<std::size_t>(frame) >= prepared.size())
                prepared.resize(std::max<std::size_t>(prepared.size() * 2, static_cast<std::size_t>(frame) + 1), 0);
            prepared[static_cast<std::size_t>(frame)] = 1;
        }
        preparedCv.notify_all();
    }
    // Waits until frames first .. last are prepared; false when the run failed meanwhile.
    bool waitPrepared(int first, int last)
    {
        std::unique_lock<std::mutex> lock(preparedLock);
        preparedCv.wait(lock, [&] {
            if (failed)
                return true;
            for (int f = std::max(first, 0); f <= last; ++f)
                if (static_cast<std::size_t>(f) >= prepared.size() || !prepared[static_cast<std::size_t>(f)])
                    return false;
            return true;
        });
        return !failed;
    }
    void markSad(int frame, std::array<double, 4> const& values)
    {
        {
            std::lock_guard<std::mutex> lock(preparedLock);
            std::size_t const f = static_cast<std::size_t>(frame);
            if (f >= sadDone.size()) {
                std::size_t const size = std::max<std::size_t>(sadDone.size() * 2, f + 1);
                sadDone.resize(size, 0);
                sad.resize(size);
            }
            sad[f] = values;
            sadDone[f] = 1;
        }
        preparedCv.notify_all();
    }
    // Waits for the motion score of frame against its predecessor; false when the run failed.
    bool waitSad(int frame, std::array<double, 4>& values)
    {
        std::unique_lock<std::mutex> lock(preparedLock);
        std::size_t const f = static_cast<std::size_t>(frame);
        preparedCv.wait(lock, [&] { return failed || (f < sadDone.size() && sadDone[f]); });
        if (failed)
            return false;
        values = sad[f];
        return true;
    }
};

bool Active(ComboShared const& s, int p)
{
    return s.width[p] > 0 && s.height[p] > 0 && s.stride[p] > 0;
}

PlaneView View(ComboShared const& s, int p, float const* data)
{
    return PlaneView{data, s.width[p], s.height[p], s.stride[p] / 4};
}

// -128 on both pictures (the motion scores blur the offset reference as they go).
void Prepare(ComboShared& s, int p, float* ref, float* dis)
{
    std::ptrdiff_t const stride = s.stride[p] / 4;
    for (int y = 0; y < s.height[p]; ++y) {
        float* r = ref + y * stride;
        float* d = dis + y * stride;
        for (int x = 0; x < s.width[p]; ++x) {
            r[x] -= 128.0f;
            d[x] -= 128.0f;
        }
    }
}

// Takes the slots of a frame in every active plane; false when a pool is exhausted.
bool TakeSlots(ComboShared& s, int frame, FrameBuffers& fb)
{
    std::lock_guard<std::mutex> lock(s.poolLock);
    for (int p = 0; p < 4; ++p) {
        if (!Active(s, p))
            continue;
        fb.ref[p] = s.refPool[p].take(frame);
        fb.dis[p] = s.disPool[p].take(frame);
        if (!fb.ref[p] || !fb.dis[p])
            return false;
    }
    return true;
}

void ReleaseFrame(ComboShared& s, int frame)
{
    std::lock_guard<std::mutex> lock(s.poolLock);
    for (int p = 0; p < 4; ++p) {
        s.refPool[p].release(frame);
        s.disPool[p].release(frame);
    }
}

int Pull(ComboShared& s, FrameBuffers& fb)
{
    float* tmp[4] = {};
    int stride[4] = {};
    for (int p = 0; p < 4; ++p) {
        tmp[p] = Active(s, p) ? s.pullTmp[p].data() : nullptr;
        stride[p] = Active(s, p) ? s.stride[p] : 0;
    }
    return s.readFrame(fb.ref, fb.dis, tmp, stride, s.userData);
}

// The pull's second stage, when the caller splits it: writes a claimed frame outside the lock.
void Fill(ComboShared& s, int frame, FrameBuffers& fb)
{
    if (!s.fillFrame)
        return;
    int stride[4] = {};
    for (int p = 0; p < 4; ++p)
        stride[p] = Active(s, p) ? s.stride[p] : 0;
    s.fillFrame(frame, fb.ref, fb.dis, stride, s.userData);
}

// Measures one piece of frame n; each piece stores only its own features.
void MeasurePart(ComboShared& s, int n, int p, Part part, FrameBuffers const& cur)
{
    vmaf::Kernels const& k = *s.kernels;
    VmafFeatureArrays& a = *s.arrays[p];
    PlaneView const r = View(s, p, cur.ref[p]);
    PlaneView const d = View(s, p, cur.dis[p]);
    std::size_t const idx = static_cast<std::size_t>(n);
    switch (part) {
    case Part::PsnrSsim:
        // PSNR and SSIM read the offset samples: differences need no offset and SSIM adds the
        // 128 back as it reads (both exact on samples of the 8-bit scale in quarter steps).
        if (s.doPsnr && a.psnr)
            a.psnr->set(idx, Finite(vmaf::PsnrFromMse(k.mse(r, d), s.peak, s.cap)));
        if (s.doSsim && a.ssim)
            a.ssim->set(idx, Finite(k.ssim(r, d, 128.0f)));
        break;
    case Part::Adm: {
        vmaf::AdmResult const adm = k.adm(r, d);
        a.admNum.set(idx, adm.num);
        a.admDen.set(idx, adm.den);
        for (int i = 0; i < 4; ++i) {
            a.admNumScale[i].set(idx, adm.numScale[i]);
            a.admDenScale[i].set(idx, adm.denScale[i]);
        }
        break;
    }
    case Part::Vif: {
        vmaf::VifResult const vif = k.vif(r, d);
        double num = 0.0;
        double den = 0.0;
        for (int i = 0; i < 4; ++i) {
            a.vifNumScale[i].set(idx, vif.num[i]);
            a.vifDenScale[i].set(idx, vif.den[i]);
            num += vif.num[i];
            den += vif.den[i];
        }
        a.vif.set(idx, Ratio(num, den));
        break;
    }
    }
}

// The last piece of a frame to finish delivers it and hands its pictures back.
void FinishPart(ComboShared& s, FrameWork* work)
{
    int frame = 0;
    {
        std::lock_guard<std::mutex> lock(s.taskLock);
        if (--work->remaining > 0)
            return;
        frame = work->frame;
    }
    if (s.frameDone) {
        std::string error;
        bool ok;
        {
            std::lock_guard<std::mutex> lock(s.deliveryLock);
            ok = s.frameDone(s.runner, frame, error);
        }
        if (!ok)
            s.fail(error);
    }
    ReleaseFrame(s, frame);
    {
        std::lock_guard<std::mutex> lock(s.taskLock);
        work->frame = -1;
        --s.inFlight;
    }
    s.taskCv.notify_all();
}

// Queues the pieces of frame n, the luma's first and the largest first within a plane.
void QueueFrame(ComboShared& s, int n, FrameBuffers const& cur)
{
    FrameWork* work = nullptr;
    {
        std::lock_guard<std::mutex> lock(s.taskLock);
        for (auto& w : s.frames)
            if (w.frame < 0) {
                work = &w;
                break;
            }
        if (work) {
            work->frame = n;
            work->fb = cur;
            work->remaining = 0;
            for (int p = 0; p < 4; ++p) {
                if (!Active(s, p))
                    continue;
                for (Part part : {Part::Vif, Part::Adm, Part::PsnrSsim}) {
                    s.tasks.push_back(Task{work, p, part});
                    ++work->remaining;
                }
            }
            ++work->remaining; // held until every piece is queued, so none can finish the frame early
        }
    }
    if (!work) {
        s.fail("no room for frame " + std::to_string(n) + ".");
        return;
    }
    s.taskCv.notify_all();
    FinishPart(s, work);
}

// Starts the next frame: claims it (and pulls its successor, for the motion scores), writes and
// offsets the pulled pictures, stores the frame's motion scores and queues its pieces. The
// caller has counted the frame in flight; a frame that is not started is uncounted here.
void StartFrame(ComboShared& s)
{
    auto notStarted = [&] {
        {
            std::lock_guard<std::mutex> lock(s.taskLock);
            --s.inFlight;
        }
        s.taskCv.notify_all();
    };
    auto prepare = [&](FrameBuffers const& fb) {
        for (int p = 0; p < 4; ++p)
            if (Active(s, p))
                Prepare(s, p, fb.ref[p], fb.dis[p]);
    };
    FrameBuffers cur;
    FrameBuffers next;
    bool hasNext = false;
    bool prepareCur = false;
    int n = 0;
    {
        // One worker pulls at a time (it may wait for the streams); the others take pieces.
        struct PullDone
        {
            ComboShared& s;
            ~PullDone()
            {
                {
                    std::lock_guard<std::mutex> lock(s.taskLock);
                    s.pulling = false;
                }
                s.taskCv.notify_all();
            }
        } pullDone{s};
        // Only the pull itself (and the slot bookkeeping) happens under the lock.
        std::unique_lock<std::mutex> lock(s.pullLock);
        if (s.stop) {
            notStarted();
            return;
        }
        n = s.nextFrame++;
        if (n == 0) {
            if (!TakeSlots(s, 0, cur)) {
                s.fail("cannot allocate the picture buffers.");
                return;
            }
            int const rc = Pull(s, cur);
            if (rc != 0) {
                s.end();
                notStarted();
                return;
            }
            prepareCur = true;
        } else {
            std::lock_guard<std::mutex> poolLock(s.poolLock);
            for (int p = 0; p < 4; ++p) {
                if (!Active(s, p))
                    continue;
                cur.ref[p] = s.refPool[p].find(n);
                cur.dis[p] = s.disPool[p].find(n);
                if (!cur.ref[p] || !cur.dis[p]) {
                    s.fail("picture buffers of frame " + std::to_string(n) + " are missing.");
                    return;
                }
            }
        }
        // One frame ahead: the successor is pulled before this frame is measured. Any
        // answer other than 0 ends the run after this frame, which is still measured.
        if (!TakeSlots(s, n + 1, next)) {
            ReleaseFrame(s, n + 1);
            s.fail("cannot allocate the picture buffers.");
            return;
        }
        hasNext = Pull(s, next) == 0;
        if (!hasNext) {
            ReleaseFrame(s, n + 1);
            s.end();
        }
    }
    // The pulled frames' planes first (which hands the caller's frames back soonest), then
    // their offset, outside the lock, then the successor's motion score against this frame
    // (this frame's pictures stay until it is measured, so both are there).
    if (prepareCur)
        Fill(s, n, cur);
    if (hasNext)
        Fill(s, n + 1, next);
    if (prepareCur) {
        prepare(cur);
        s.markPrepared(n);
    }
    double sadNext[4] = {};
    if (hasNext) {
        prepare(next);
        s.markPrepared(n + 1);
        if (!s.waitPrepared(n, n))
            return;
        std::array<double, 4> values{};
        for (int p = 0; p < 4; ++p)
            if (Active(s, p))
                values[static_cast<std::size_t>(p)] =
                    s.kernels->blurredMotionScore(View(s, p, cur.ref[p]), View(s, p, next.ref[p]));
        s.markSad(n + 1, values);
        std::copy(values.begin(), values.end(), sadNext);
    }
    // motion: against the predecessor; motion2: the smaller of that and the one against the
    // successor (0 and 0 for the first frame).
    std::array<double, 4> motion{};
    std::array<double, 4> motion2{};
    if (n > 0) {
        // Frame n's score against n - 1 comes from the worker that pulled frame n; it also
        // means frame n is prepared.
        if (!s.waitSad(n, motion))
            return;
        for (std::size_t p = 0; p < 4; ++p)
            motion2[p] = hasNext ? std::min(motion[p], sadNext[p]) : motion[p];
    } else if (!s.waitPrepared(0, 0)) {
        return;
    }
    for (int p = 0; p < 4; ++p) {
        if (!Active(s, p))
            continue;
        std::size_t const i = static_cast<std::size_t>(p);
        s.arrays[p]->motion.set(static_cast<std::size_t>(n), Finite(motion[i]));
        s.arrays[p]->motion2.set(static_cast<std::size_t>(n), Finite(motion2[i]));
    }
    QueueFrame(s, n, cur);
}

// A worker starts frames while fewer than the limit are in flight and otherwise measures the
// queued pieces, oldest frame first; it waits only when there is neither.
void WorkerBody(ComboShared& s)
{
    {
        std::lock_guard<std::mutex> lock(s.startLock);
        ++s.workerCount;
    }
    std::size_t const region = static_cast<std::size_t>(s.nextRegion++);
    if (region < s.scratchRegions.size())
        vmaf::UseThreadScratchRegion(s.scratchRegions[region].data(), s.scratchRegions[region].size() * sizeof(float));
    for (;;) {
        Task task{};
        bool start = false;
        {
            std::unique_lock<std::mutex> lock(s.taskLock);
            s.taskCv.wait(lock, [&] {
                return s.failed || (!s.stop && s.inFlight < s.maxInFlight && !s.pulling) || !s.tasks.empty() ||
                       (s.stop && s.inFlight == 0);
            });
            if (s.failed)
                return;
            if (!s.stop && s.inFlight < s.maxInFlight && !s.pulling) {
                ++s.inFlight;
                s.pulling = true;
                start = true;
            } else if (!s.tasks.empty()) {
                task = s.tasks.front();
                s.tasks.erase(s.tasks.begin());
            } else {
                return;
            }
        }
        if (start) {
            StartFrame(s);
        } else {
            MeasurePart(s, task.work->frame, task.plane, task.part, task.work->fb);
            FinishPart(s, task.work);
        }
    }
}

// A run is as fast as its slowest stage, which is the decoding (a VVC stream decodes slower than
// it is measured): at the same priority the workers, one per core, take the cores from the
// decoders' threads and the whole run waits for the pictures. Lowered, they still take every core
// the decoders leave idle. Linux gives each thread a nice value of its own.
void LowerWorkerPriority()
{
#ifdef __linux__
    auto const tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    int const nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, std::min(19, nice + vmaf::kWorkerNiceStep));
#endif
}

void Worker(ComboShared* s)
{
    LowerWorkerPriority();
    try {
        WorkerBody(*s);
    } catch (std::exception const& e) {
        s->fail(std::string("worker failed: ") + e.what());
    } catch (...) {
        s->fail("worker failed");
    }
    s->end();
}

// Frames measured at once: enough that while one frame is started (pulled, written, offset, its
// motion score taken: a fifth of its work) and its largest piece (the luma VIF, a third) runs, the
// other workers have pieces to take; fewer than one per worker, so that fewer pictures are in use
// and the last frames are shared out rather than left to one worker each.
int InFlightLimit(int workers)
{
    return std::max(1, (3 * workers + 3) / 4);
}

// Runs the worker pool; 0 when every worker was joined, -1 with error text otherwise.
int Combo(ComboShared& s, char const* fmt, int nThread, std::string& error)
{
    for (int p = 0; p < 4; ++p) {
        if (s.width[p] < 0 || s.width[p] > 536870904 || s.height[p] < 0) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "wrong width %d or height %d.\n", s.width[p], s.height[p]);
            error = buf;
            return -1;
        }
    }
    for (int p = 0; p < 4; ++p) {
        s.stride[p] = vmaf::PlaneStrideBytes(s.width[p]);
        s.planeFloats[p] = static_cast<std::size_t>(s.stride[p]) / 4 * static_cast<std::size_t>(s.height[p]);
    }
    std::string const f = fmt ? fmt : "";
    if (f == "yuv420p" || f == "yuv422p" || f == "yuv444p")
        s.peak = 255.0;
    else if (f == "yuv420p10le" || f == "yuv422p10le" || f == "yuv444p10le")
        s.peak = 255.75;
    else {
        error = "unknown format " + f + ".\n";
        return -1;
    }
    s.cap = 100.0;
    int const n = vmaf::EffectiveThreadCount(nThread);
    s.maxInFlight = InFlightLimit(n);
    s.frames.resize(static_cast<std::size_t>(s.maxInFlight));
    s.tasks.reserve(static_cast<std::size_t>(s.maxInFlight) * 12);
    for (int p = 0; p < 4; ++p) {
        if (!Active(s, p))
            continue;
        // The frames in flight and the successor pulled with the newest of them.
        std::size_t const pics = static_cast<std::size_t>(s.maxInFlight + 1);
        if (!s.refPool[p].init(pics, s.planeFloats[p]) || !s.disPool[p].init(pics, s.planeFloats[p]) ||
            !s.pullTmp[p].resize(2 * s.planeFloats[p], false)) {
            error = "cannot allocate the picture pools.\n";
            return -1;
        }
    }
    // Each worker's kernel scratch, mapped here (fresh pages read as zero and cost memory only once
    // written), so that no worker changes the address space while others fault their pages in.
    // Three times the largest plane and 4 MiB: the kernels take about 1.1 times the plane at 1080p,
    // 3.2 times at 720p; a worker that needs more takes the rest from the system as before.
    std::size_t regionBytes = 0;
    for (int p = 0; p < 4; ++p)
        regionBytes = std::max(regionBytes, s.planeFloats[p] * sizeof(float));
    regionBytes = regionBytes * 3 + (std::size_t(4) << 20);
    s.scratchRegions.resize(static_cast<std::size_t>(n));
    for (auto& r : s.scratchRegions)
        if (!r.resize(regionBytes / sizeof(float))) {
            s.scratchRegions.clear(); // the kernels allocate their scratch themselves
            break;
        }
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        try {
            threads.emplace_back(Worker, &s);
        } catch (std::exception const&) {
            s.end();
            break;
        }
    }
    for (std::size_t i = 0; i < threads.size(); ++i) {
        try {
            threads[i].join();
        } catch (std::system_error const& e) {
            std::printf("ERROR; return code from pthread_join() for thread[%d] is %d\n", static_cast<int>(i),
                        e.code().value());
            std::fflush(stdout);
            for (std::size_t k = i + 1; k < threads.size(); ++k)
                if (threads[k].joinable())
                    threads[k].join();
            error = "thread join failed";
            return -1;
        }
    }
    return 0;
}

bool FrameDoneEntry(void* runner, int frame, std::string& error)
{
    if (!runner)
        return true;
    return static_cast<VmafQualityRunner*>(runner)->oneFrameMetricsReadyCallback(frame, error);
}

} // namespace

// ---------------------------------------------------------------- runner

VmafQualityRunner::VmafQualityRunner(char const* modelPath) : m_modelPath(modelPath ? modelPath : "") {}

VmafQualityRunner::~VmafQualityRunner() = default;

VmafStatus VmafQualityRunner::run(Asset const& asset, ReadFrameCallbackFn readFrame, void* userData, bool, bool,
                                  bool doPsnr, bool doSsim, bool doMsSsim, int nThread, int nSubsample,
                                  FrameMetricsReadyCallbackFn frameReady)
{
    VmafStatus st;
    auto model = std::make_unique<vmaf::VmafModel>();
    std::string error;
    if (!model->load(m_modelPath, error)) {
        st.kind = VmafStatus::VmafError;
        st.text = error;
        return st;
    }
    m_featureMap.clear();
    for (auto const& name : model->featureNames()) {
        int found = -1;
        for (int k = 0; k < 12; ++k)
            if (name == kFeatureNames[k])
                found = k;
        if (found < 0) {
            std::printf("Unknown feature name: %s.\n", name.c_str());
            std::fflush(stdout);
            st.kind = VmafStatus::VmafError;
            st.text = "Unknown feature name: " + name + ".";
            return st;
        }
        m_featureMap.push_back(found);
    }
    m_model = std::move(model);
    m_userData = userData;
    m_frameReadyCallback = frameReady;
    m_doPsnr = doPsnr;
    m_doSsim = doSsim;

    ComboShared shared;
    m_arrays.clear();
    for (int p = 0; p < 4; ++p) {
        auto a = std::make_unique<VmafFeatureArrays>();
        if (doPsnr)
            a->psnr = std::make_unique<DArray>();
        if (doSsim)
            a->ssim = std::make_unique<DArray>();
        if (doMsSsim)
            a->msSsim = std::make_unique<DArray>();
        shared.arrays[p] = a.get();
        m_arrays.push_back(std::move(a));
        shared.width[p] = asset.getWidth(p);
        shared.height[p] = asset.getHeight(p);
    }
    shared.readFrame = readFrame;
    shared.fillFrame = m_fillFrame;
    shared.userData = userData;
    shared.frameDone = &FrameDoneEntry;
    shared.runner = this;
    shared.subsample = nSubsample;
    shared.doPsnr = doPsnr;
    shared.doSsim = doSsim;
    shared.kernels = &vmaf::SelectKernels(m_allowVector);
    if (Combo(shared, asset.getFmt(), nThread, error) != 0) {
        st.kind = VmafStatus::VmafError;
        st.text = error;
    } else if (shared.failed) {
        std::printf("%s\n", shared.error.c_str());
        std::fflush(stdout);
        st.kind = VmafStatus::VmafError;
        st.text = shared.error;
    }
    m_arrays.clear();
    return st;
}

bool VmafQualityRunner::oneFrameMetricsReadyCallback(int n, std::string& error)
{
    DataToSend rec;
    rec.userData = m_userData;
    std::size_t const idx = static_cast<std::size_t>(n);
    for (int p = 0; p < 3 && p < static_cast<int>(m_arrays.size()); ++p) {
        VmafFeatureArrays const& a = *m_arrays[p];
        double f[12];
        f[0] = Ratio(a.admNum.get(idx), a.admDen.get(idx));
        for (int k = 0; k < 4; ++k)
            f[1 + k] = Ratio(a.admNumScale[k].get(idx), a.admDenScale[k].get(idx));
        f[5] = a.motion.get(idx);
        f[6] = a.motion2.get(idx);
        for (int k = 0; k < 4; ++k)
            f[7 + k] = Ratio(a.vifNumScale[k].get(idx), a.vifDenScale[k].get(idx));
        f[11] = a.vif.get(idx);
        std::vector<double>& features = m_features; // reused: no allocation per frame
        features.clear();
        for (int k : m_featureMap)
            features.push_back(Finite(f[k]));
        double score = 0.0;
        if (!m_model || !m_model->predict(features, score)) {
            error = "Prediction failed for frame " + std::to_string(n) + ".";
            return false;
        }
        rec.values[0 * 4 + p] = a.psnr ? a.psnr->get(idx) : 0.0;
        rec.values[1 * 4 + p] = a.ssim ? a.ssim->get(idx) : 0.0;
        rec.values[2 * 4 + p] = score;
    }
    m_pendingFrames[n] = rec;
    if (m_frameReadyCallback) {
        for (auto it = m_pendingFrames.find(m_lastSentFrame + 1); it != m_pendingFrames.end();
             it = m_pendingFrames.find(m_lastSentFrame + 1)) {
            double values[3][4];
            for (int m = 0; m < 3; ++m)
                for (int p = 0; p < 4; ++p)
                    values[m][p] = it->second.values[m * 4 + p];
            void* user = it->second.userData;
            int const frame = it->first;
            m_pendingFrames.erase(it);
            ++m_lastSentFrame;
            m_frameReadyCallback(frame, values, user);
        }
    }
    return true;
}

// ---------------------------------------------------------------- entry

namespace {

VmafStatus RunVmaf(double& score, char const* fmt, int const width[4], int const height[4],
                   ReadFrameCallbackFn readFrame, void* userData, char const* modelPath, int disableAvx, int doPsnr,
                   int doSsim, int doMsSsim, int nThread, int nSubsample, int enableConfInterval,
                   FrameMetricsReadyCallbackFn frameReady, FillFrameCallbackFn fillFrame)
{
    VmafStatus st;
    st.kind = VmafStatus::VmafError;
    if (!width || !height) {
        st.text = "Invalid width value (must be > 0)";
        return st;
    }
    for (int p = 0; p < 3; ++p)
        if (width[p] < 1) {
            st.text = "Invalid width value (must be > 0)";
            return st;
        }
    for (int p = 0; p < 3; ++p)
        if (height[p] < 1) {
            st.text = "Invalid height value (must be > 0)";
            return st;
        }
    if (nThread < 0) {
        st.text = "Invalid n_thread value (must be >= 0)";
        return st;
    }
    if (nSubsample < 1) {
        st.text = "Invalid n_subsample value (must be > 0)";
        return st;
    }
    if (!readFrame) {
        st.text = "No frame reader";
        return st;
    }
    Asset const asset(width, height, fmt ? fmt : "");
    std::unique_ptr<VmafQualityRunner> runner;
    if (enableConfInterval)
        runner = std::make_unique<BootstrapVmafQualityRunner>(modelPath);
    else
        runner = std::make_unique<VmafQualityRunner>(modelPath);
    runner->setVectorKernels(disableAvx == 0);
    runner->setFillFrame(fillFrame);
    VmafStatus const res = runner->run(asset, readFrame, userData, false, false, doPsnr != 0, doSsim != 0,
                                       doMsSsim != 0, nThread, nSubsample, frameReady);
    if (res.kind != VmafStatus::Ok)
        return res;
    score = 0.0; // no pooled score: the result holds no per-frame scores for pooling
    return res;
}

} // namespace

int compute_vmaf(double* vmafScore, char const* fmt, int const width[4], int const height[4],
                 ReadFrameCallbackFn readFrame, void* userData, char const* modelPath, char const*, char const*, int,
                 int disableAvx, int, int, int doPsnr, int doSsim, int doMsSsim, char const*, int nThread,
                 int nSubsample, int enableConfInterval, FrameMetricsReadyCallbackFn frameReady)
{
    return compute_vmaf(vmafScore, fmt, width, height, readFrame, userData, modelPath, nullptr, nullptr, 0, disableAvx,
                        0, 0, doPsnr, doSsim, doMsSsim, nullptr, nThread, nSubsample, enableConfInterval, frameReady,
                        nullptr);
}

int compute_vmaf(double* vmafScore, char const* fmt, int const width[4], int const height[4],
                 ReadFrameCallbackFn readFrame, void* userData, char const* modelPath, char const*, char const*, int,
                 int disableAvx, int, int, int doPsnr, int doSsim, int doMsSsim, char const*, int nThread,
                 int nSubsample, int enableConfInterval, FrameMetricsReadyCallbackFn frameReady,
                 FillFrameCallbackFn fillFrame)
{
    VmafStatus st;
    double score = 0.0;
    try {
        st = RunVmaf(score, fmt, width, height, readFrame, userData, modelPath, disableAvx, doPsnr, doSsim, doMsSsim,
                     nThread, nSubsample, enableConfInterval, frameReady, fillFrame);
    } catch (std::logic_error const& e) {
        st.kind = VmafStatus::LogicError;
        st.text = e.what();
    } catch (std::exception const& e) {
        st.kind = VmafStatus::RuntimeError;
        st.text = e.what();
    } catch (...) {
        st.kind = VmafStatus::RuntimeError;
        st.text = "unknown error";
    }
    switch (st.kind) {
    case VmafStatus::Ok:
        if (vmafScore)
            *vmafScore = score;
        return 0;
    case VmafStatus::VmafError: std::printf("Caught VmafException: %s\n", st.text.c_str()); break;
    case VmafStatus::RuntimeError: std::printf("Caught runtime_error: %s\n", st.text.c_str()); break;
    case VmafStatus::LogicError: std::printf("Caught logic_error: %s\n", st.text.c_str()); break;
    }
    std::fflush(stdout);
    return static_cast<int>(st.kind);
}

} // namespace ze::nox::core
