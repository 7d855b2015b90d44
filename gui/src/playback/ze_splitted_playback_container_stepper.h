#pragma once

#include "common/ze_nox_core_error.h"

#include <array>
#include <functional>

namespace ze::nox::core {
class Frame;
class ZeNoxDecoder;
} // namespace ze::nox::core

namespace ze::nox::gui {

// The three places of the playback area, used as indexes.
enum PlaybackRole : int {
    PLAYBACK_ROLE_LEFT = 0,
    PLAYBACK_ROLE_RIGHT = 1,
    PLAYBACK_ROLE_REFERENCE = 2,
};
inline constexpr int kPlaybackRoleCount = 3;

// Steps the decoders of the three places together: one task per distinct decoder on the global
// thread pool, the calling thread waiting for all of them. Decoders and frames are borrowed.
// No widgets; called from the GUI thread.
class ZeSplittedPlaybackStepper
{
public:
    struct Place
    {
        core::ZeNoxDecoder* decoder = nullptr;
        core::Frame* frame = nullptr;
    };
    using Places = std::array<Place, kPlaybackRoleCount>;

    enum Outcome : int {
        NOT_STEPPED = 0, // empty place, or already at the target
        DELIVERED = 1,   // the frame holds the new picture
        FAILED = 2,      // the step failed: the frame has been reset
        RAN_OUT = 3,     // the stream ends before the target: stepped past its end on this thread
    };
    struct Result
    {
        std::array<Outcome, kPlaybackRoleCount> outcomes{};
        // For each stepped place: the frame asked for (counted from the range's first) and the
        // decoder's answer; END_OF_FILE for a stream that ran out.
        std::array<int, kPlaybackRoleCount> frames{};
        std::array<core::ZeNoxCoreError, kPlaybackRoleCount> errors{};
        // At least one place was stepped on the pool.
        bool anyStepped = false;
        // At least one place delivered a picture.
        bool anyDelivered = false;
    };
    using Action = std::function<core::ZeNoxCoreError(core::ZeNoxDecoder*, core::Frame&)>;

    explicit ZeSplittedPlaybackStepper(Places const& places) : m_places(places) {}

    Result first();
    Result next();
    Result frame(int frameNum);
    // Every stream one frame back from the furthest of left and right; a stream behind that
    // target has run out.
    Result previous();
    // Every stream at the last frame of the shortest range; a shorter stream has run out.
    Result last();

    // The frame a step asks a decoder for, taken before the step.
    using Target = std::function<int(core::ZeNoxDecoder const*)>;

    // Runs action on the selected places. A decoder held in two places is stepped once, and the
    // later place's frame gets a reference to the picture of the first.
    Result run(std::array<bool, kPlaybackRoleCount> const& selected, Action const& action, Target const& target);

    // Frames of the decoder's range; 0 for a missing decoder or one without frames.
    static int framesInRange(core::ZeNoxDecoder const* dec);

private:
    // Steps the stream past its last frame, as playback left it: the frame ends empty, or for
    // a raw stream, which keeps its last frame, with that frame.
    static void runOut(core::ZeNoxDecoder* dec, core::Frame& frame);
    static void markRanOut(Result& result, std::array<bool, kPlaybackRoleCount> const& ranOut, int target);

    Places m_places;
};

} // namespace ze::nox::gui
