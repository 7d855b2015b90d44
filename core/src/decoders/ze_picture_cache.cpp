#include "decoders/ze_picture_cache.h"

#include "display/frame.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#ifdef __linux__
#include <sys/mman.h>
#endif

extern "C" {
#include <libavutil/imgutils.h>
}

namespace ze::nox::core {

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kReferenceBudget = 256 * kMiB;
constexpr int64_t kReferencePicture = 1920LL * 1080 * 3 / 2; // 1080p 8-bit 4:2:0
constexpr int64_t kMinBudget = 8 * kMiB;
constexpr int64_t kMaxBudget = 1024 * kMiB;
// The helper thread takes the slab's memory in steps of this size, so that a slab released
// meanwhile is not waited for long.
constexpr int64_t kPopulateStep = 16 * kMiB;

int64_t Distance(int a, int b)
{
    return std::llabs(static_cast<int64_t>(a) - b);
}

} // namespace

ZePictureCache::~ZePictureCache()
{
    clear();
    releaseSlab();
}

void ZePictureCache::releaseSlab()
{
    if (m_populate.joinable()) {
        m_stopPopulating = true;
        m_populate.join();
    }
#ifdef __linux__
    if (m_slab)
        munmap(m_slab, static_cast<size_t>(m_slabBytes));
#endif
    m_slab = nullptr;
    m_slabBytes = 0;
    m_slotBytes = 0;
    m_freeSlots.clear();
}

void ZePictureCache::ReleaseSlot(void* cache, uint8_t* data)
{
    static_cast<ZePictureCache*>(cache)->m_freeSlots.push_back(data);
}

void ZePictureCache::makeSlab(int64_t size, int64_t pictures)
{
#ifdef __linux__
    // Room for as many pictures as the budget holds; memory is taken only where written.
    int64_t const slotCount = size > 0 ? std::min(m_budget / size, pictures) : 0;
    if (slotCount <= 0)
        return;
    size_t const bytes = static_cast<size_t>(slotCount * size);
    void* slab = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (slab == MAP_FAILED)
        return;
#ifdef MADV_HUGEPAGE
    madvise(slab, bytes, MADV_HUGEPAGE);
#endif
    m_slab = static_cast<uint8_t*>(slab);
    m_slabBytes = slotCount * size;
    m_slotBytes = size;
    for (int64_t i = slotCount - 1; i >= 0; --i)
        m_freeSlots.push_back(m_slab + i * size);
#ifdef MADV_POPULATE_WRITE
    // Faults the pages in without writing them: slots the cache fills meanwhile keep their data.
    // Without the advice (older systems) the pages are taken where first written.
    m_stopPopulating = false;
    try {
        m_populate = std::thread([this, start = m_slab, bytes] {
            for (size_t at = 0; at < bytes && !m_stopPopulating; at += kPopulateStep) {
                size_t const n = std::min<size_t>(kPopulateStep, bytes - at);
                if (madvise(start + at, n, MADV_POPULATE_WRITE) != 0)
                    return;
            }
        });
    } catch (std::system_error const&) {
        // No thread: the pages are taken where first written.
    }
#endif
#else
    (void)size;
    (void)pictures;
#endif
}

void ZePictureCache::prepare(int width, int height, AVPixelFormat format, int pictures)
{
    int const size = width > 0 && height > 0 ? av_image_get_buffer_size(format, width, height, 1) : -1;
    if (!m_slab && m_pictures.empty() && size > 0 && pictures > 0)
        makeSlab(size, pictures);
}

AVFrame* ZePictureCache::newPicture(AVFrame const* like, int64_t size)
{
    AVFrame* picture = av_frame_alloc();
    if (!picture)
        return nullptr;
    picture->width = like->width;
    picture->height = like->height;
    picture->format = like->format;
    if (!m_slab && m_pictures.empty())
        makeSlab(size, m_budget / size);
    if (size == m_slotBytes && !m_freeSlots.empty()) {
        uint8_t* slot = m_freeSlots.back();
        AVBufferRef* buf = av_buffer_create(slot, static_cast<size_t>(size), ReleaseSlot, this, 0);
        if (buf && av_image_fill_arrays(picture->data, picture->linesize, slot, static_cast<AVPixelFormat>(like->format),
                                        like->width, like->height, 1) >= 0) {
            m_freeSlots.pop_back();
            picture->buf[0] = buf;
            return picture;
        }
        av_buffer_unref(&buf);
    }
    if (av_frame_get_buffer(picture, 0) < 0)
        av_frame_free(&picture);
    return picture;
}

int64_t ZePictureCache::BudgetFor(int width, int height, AVPixelFormat format)
{
    int const size = width > 0 && height > 0 ? av_image_get_buffer_size(format, width, height, 1) : -1;
    if (size <= 0)
        return kMinBudget;
    return std::clamp(kReferenceBudget / kReferencePicture * size, kMinBudget, kMaxBudget);
}

void ZePictureCache::setBudget(int64_t bytes)
{
    clear();
    releaseSlab();
    m_budget = std::max<int64_t>(0, bytes);
}

int64_t ZePictureCache::PictureBytes(AVFrame const* picture)
{
    int const size = av_image_get_buffer_size(static_cast<AVPixelFormat>(picture->format), picture->width,
                                              picture->height, 1);
    return size > 0 ? size : -1;
}

AVFrame* ZePictureCache::Planes(AVFrame const* picture)
{
    // A new frame on the same buffers, without the properties the picture had (they would be
    // added to, not replaced, by the next copy).
    AVFrame* frame = av_frame_alloc();
    if (!frame)
        return nullptr;
    frame->width = picture->width;
    frame->height = picture->height;
    frame->format = picture->format;
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
        frame->data[i] = picture->data[i];
        frame->linesize[i] = picture->linesize[i];
        if (picture->buf[i] && !(frame->buf[i] = av_buffer_ref(picture->buf[i]))) {
            av_frame_free(&frame);
            return nullptr;
        }
    }
    return frame;
}

void ZePictureCache::put(int number, AVFrame const* picture, int focus)
{
    if (!picture || !picture->data[0] || picture->width <= 0 || picture->height <= 0 || contains(number))
        return;
    int64_t const size = PictureBytes(picture);
    // A picture farther from the focus than the budget holds pictures would not stay.
    if (size <= 0 || size > m_budget || Distance(number, focus) >= m_budget / size)
        return;
    AVFrame* copy = nullptr;
    auto release = [&](std::map<int, AVFrame*>::iterator it) {
        m_bytes -= PictureBytes(it->second);
        // The planes of a picture of the same kind are written again instead of allocated anew.
        AVFrame* old = it->second;
        if (!copy && old->width == picture->width && old->height == picture->height &&
            old->format == picture->format && av_frame_is_writable(old))
            copy = Planes(old);
        av_frame_free(&old);
        m_pictures.erase(it);
    };
    // Make room: the kept picture farthest from the focus goes, unless the new one is farther still.
    while (m_bytes + size > m_budget && !m_pictures.empty()) {
        auto first = m_pictures.begin();
        auto last = std::prev(m_pictures.end());
        auto far = Distance(first->first, focus) >= Distance(last->first, focus) ? first : last;
        if (Distance(far->first, focus) <= Distance(number, focus)) {
            av_frame_free(&copy);
            return;
        }
        release(far);
    }
    if (!copy)
        copy = newPicture(picture, size);
    if (!copy)
        return;
    if (av_frame_copy(copy, picture) < 0 || av_frame_copy_props(copy, picture) < 0) {
        av_frame_free(&copy);
        return;
    }
    m_pictures.emplace(number, copy);
    m_bytes += size;
}

bool ZePictureCache::get(int number, Frame& frame) const
{
    auto it = m_pictures.find(number);
    if (it == m_pictures.end())
        return false;
    AVFrame const* picture = it->second;
    if (!frame.allocatePicture(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format)))
        return false;
    AVFrame* target = frame.avFrame();
    if (av_frame_copy(target, picture) < 0 || av_frame_copy_props(target, picture) < 0) {
        frame.reset();
        return false;
    }
    return true;
}

void ZePictureCache::clear()
{
    for (auto& entry : m_pictures)
        av_frame_free(&entry.second);
    m_pictures.clear();
    m_bytes = 0;
}

} // namespace ze::nox::core
