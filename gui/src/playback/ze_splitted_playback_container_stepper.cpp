#include "playback/ze_splitted_playback_container_stepper.h"

#include "display/frame.h"
#include "decoders/ze_nox_decoder.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QFutureWatcher>
#include <QList>
#include <QVector>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>

namespace ze::nox::gui {

using core::Frame;
using core::ZeNoxCoreError;
using core::ZeNoxDecoder;

int ZeSplittedPlaybackStepper::framesInRange(ZeNoxDecoder const* dec)
{
    if (!dec)
        return 0;
    return std::max(0, dec->lastFrameNumber() - dec->firstFrameNumber() + 1);
}

ZeSplittedPlaybackStepper::Result ZeSplittedPlaybackStepper::run(std::array<bool, kPlaybackRoleCount> const& selected,
                                                                 Action const& action, Target const& target)
{
    Result result;
    for (int i = 0; i < kPlaybackRoleCount; ++i)
        if (selected[i] && m_places[i].decoder)
            result.frames[i] = target(m_places[i].decoder);
    using Task = QPair<ZeNoxDecoder*, Frame*>;
    QList<Task> tasks;
    std::array<int, kPlaybackRoleCount> taskOf{};
    taskOf.fill(-1);
    for (int i = 0; i < kPlaybackRoleCount; ++i) {
        Place const& p = m_places[i];
        if (!selected[i] || !p.decoder || !p.frame)
            continue;
        int found = -1;
        for (int t = 0; t < tasks.size(); ++t)
            if (tasks[t].first == p.decoder)
                found = t;
        if (found < 0) {
            found = tasks.size();
            tasks.append({p.decoder, p.frame});
        }
        taskOf[i] = found;
    }
    if (tasks.isEmpty())
        return result;

    QFutureWatcher<ZeNoxCoreError> watcher;
    std::function<ZeNoxCoreError(Task const&)> fn = [&action](Task const& t) { return action(t.first, *t.second); };
    watcher.setFuture(QtConcurrent::mapped(tasks, fn));
    watcher.waitForFinished();

    result.anyStepped = true;
    for (int i = 0; i < kPlaybackRoleCount; ++i) {
        if (taskOf[i] < 0)
            continue;
        Frame& frame = *m_places[i].frame;
        ZeNoxCoreError r = watcher.resultAt(taskOf[i]);
        Frame const& stepped = *tasks[taskOf[i]].second;
        if (r == core::ZE_NOX_CORE_OK && &stepped != &frame) {
            frame.reset();
            if (!stepped.isValid() || av_frame_ref(frame.avFrame(), stepped.avFrame()) < 0)
                r = core::ZE_NOX_CORE_OPERATION_FAILED;
        }
        result.errors[i] = r;
        if (r != core::ZE_NOX_CORE_OK) {
            frame.reset();
            result.outcomes[i] = FAILED;
            continue;
        }
        result.outcomes[i] = DELIVERED;
        result.anyDelivered = true;
    }
    return result;
}

ZeSplittedPlaybackStepper::Result ZeSplittedPlaybackStepper::first()
{
    return run({true, true, true}, [](ZeNoxDecoder* dec, Frame& f) { return dec->getFirstFrame(f); },
               [](ZeNoxDecoder const*) { return 0; });
}

ZeSplittedPlaybackStepper::Result ZeSplittedPlaybackStepper::next()
{
    return run({true, true, true}, [](ZeNoxDecoder* dec, Frame& f) { return dec->getNextFrame(f); },
               [](ZeNoxDecoder const* dec) { return std::max(0, dec->curFrameNumber() + 1); });
}

ZeSplittedPlaybackStepper::Result ZeSplittedPlaybackStepper::frame(int frameNum)
{
    return run({true, true, true}, [frameNum](ZeNoxDecoder* dec, Frame& f) { return dec->getFrame(frameNum, f); },
               [frameNum](ZeNoxDecoder const*) { return frameNum; });
}

void ZeSplittedPlaybackStepper::runOut(ZeNoxDecoder* dec, Frame& frame)
{
    ZeNoxCoreError r = dec->getLastFrame(frame);
    if (r == core::ZE_NOX_CORE_OK)
        r = dec->getNextFrame(frame);
    if (r != core::ZE_NOX_CORE_OK)
        frame.reset();
}

void ZeSplittedPlaybackStepper::markRanOut(Result& result, std::array<bool, kPlaybackRoleCount> const& ranOut,
                                           int target)
{
    for (int i = 0; i < kPlaybackRoleCount; ++i)
        if (ranOut[i]) {
            result.outcomes[i] = RAN_OUT;
            result.frames[i] = target;
            result.errors[i] = core::ZE_NOX_CORE_END_OF_FILE;
        }
}

ZeSplittedPlaybackStepper::Result ZeSplittedPlaybackStepper::previous()
{
    ZeNoxDecoder const* left = m_places[PLAYBACK_ROLE_LEFT].decoder;
    ZeNoxDecoder const* right = m_places[PLAYBACK_ROLE_RIGHT].decoder;
    int const a = left ? left->curFrameNumber() : -1;
    int const b = right ? right->curFrameNumber() : -1;
    int const target = std::max(0, std::max(a, b) - 1);

    std::array<bool, kPlaybackRoleCount> selected{};
    std::array<bool, kPlaybackRoleCount> ranOut{};
    for (int i = 0; i < kPlaybackRoleCount; ++i) {
        Place const& p = m_places[i];
        if (!p.decoder || !p.frame)
            continue;
        int const k = p.decoder->curFrameNumber();
        if (k < target) {
            runOut(p.decoder, *p.frame);
            ranOut[i] = true;
        } else if (k > target) {
            selected[i] = true;
        }
    }
    Result result = run(selected, [](ZeNoxDecoder* dec, Frame& f) { return dec->getPrevFrame(f); },
                        [target](ZeNoxDecoder const*) { return target; });
    markRanOut(result, ranOut, target);
    return result;
}

ZeSplittedPlaybackStepper::Result ZeSplittedPlaybackStepper::last()
{
    int target = -1;
    for (Place const& p : m_places)
        if (p.decoder) {
            int const lastOfRange = framesInRange(p.decoder) - 1;
            target = target < 0 ? lastOfRange : std::min(target, lastOfRange);
        }
    target = std::max(0, target);

    std::array<bool, kPlaybackRoleCount> selected{};
    std::array<bool, kPlaybackRoleCount> ranOut{};
    for (int i = 0; i < kPlaybackRoleCount; ++i) {
        Place const& p = m_places[i];
        if (!p.decoder || !p.frame)
            continue;
        if (framesInRange(p.decoder) - 1 < target) {
            runOut(p.decoder, *p.frame);
            ranOut[i] = true;
        } else {
            selected[i] = true;
        }
    }
    Result result = run(selected, [target](ZeNoxDecoder* dec, Frame& f) { return dec->getFrame(target, f); },
                        [target](ZeNoxDecoder const*) { return target; });
    markRanOut(result, ranOut, target);
    return result;
}

} // namespace ze::nox::gui
