#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace ze::nox::core {

class Frame;

// Copies of recently decoded pictures by absolute frame number, inside a memory budget. When the
// budget is reached, the picture farthest from the position being worked towards goes first.
class ZePictureCache
{
public:
    ZePictureCache() = default;
    ~ZePictureCache();
    ZePictureCache(ZePictureCache const&) = delete;
    ZePictureCache& operator=(ZePictureCache const&) = delete;

    // The budget of a stream: about 256 MB for 1080p 8-bit 4:2:0 pictures, the same number of
    // pictures at other sizes, bounded to 8 MB..1 GB.
    static int64_t BudgetFor(int width, int height, AVPixelFormat format);

    void setBudget(int64_t bytes);
    int64_t budget() const { return m_budget; }
    int64_t bytes() const { return m_bytes; }
    int count() const { return static_cast<int>(m_pictures.size()); }
    bool contains(int number) const { return m_pictures.count(number) != 0; }
    // Makes room for the budget's worth of pictures of this kind, at most `pictures` (a stream's
    // length), ahead of the first put: the system clears every page it hands out first, which a
    // helper thread has it do meanwhile (a first fill of fresh memory would cost a move far more
    // than the copies).
    void prepare(int width, int height, AVPixelFormat format, int pictures);

    // Keeps a copy of the picture as frame `number`; pictures farther from `focus` make room.
    // Nothing is kept when the picture itself would be the first to go or cannot be copied; a
    // picture kept already stays as it is (a decode gives the same picture every time).
    void put(int number, AVFrame const* picture, int focus);
    // The kept picture copied into the Frame; false when it is not kept (or cannot be copied).
    bool get(int number, Frame& frame) const;
    void clear();

private:
    static int64_t PictureBytes(AVFrame const* picture);
    // A picture of the kind given, with planes in a slot of the slab (or allocated on their own).
    AVFrame* newPicture(AVFrame const* like, int64_t size);
    static void ReleaseSlot(void* cache, uint8_t* data);
    static AVFrame* Planes(AVFrame const* picture);
    // The slab for up to `pictures` pictures of `size` bytes inside the budget (none when the
    // system gives no such mapping).
    void makeSlab(int64_t size, int64_t pictures);
    void releaseSlab();

    std::map<int, AVFrame*> m_pictures;
    // Pictures of one stream have one size: their planes take fixed slots of one mapping, which
    // the system may back with large pages (the first writes into fresh memory cost much less).
    uint8_t* m_slab = nullptr;
    int64_t m_slabBytes = 0;
    int64_t m_slotBytes = 0;
    std::vector<uint8_t*> m_freeSlots;
    // Takes the slab's memory from the system, in the order the slots are used.
    std::thread m_populate;
    std::atomic_bool m_stopPopulating{false};
    int64_t m_bytes = 0;
    int64_t m_budget = 0;
};

} // namespace ze::nox::core
