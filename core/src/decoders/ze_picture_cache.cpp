#include "decoders/ze_picture_cache.h"

#include "display/frame.h"

#include <algorithm>
#include <cstdlib>

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

int64_t Distance(int a, int b)
{
    return std::llabs(static_cast<int64_t>(a) - b);
}

} // namespace

ZePictureCache::~ZePictureCache()
{
    clear();
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
    m_budget = std::max<int64_t>(0, bytes);
    clear();
}

int64_t ZePictureCache::PictureBytes(AVFrame const* picture)
{
    int const size = av_image_get_buffer_size(static_cast<AVPixelFormat>(picture->format), picture->width,
                                              picture->height, 1);
    return size > 0 ? size : -1;
}

void ZePictureCache::put(int number, AVFrame const* picture, int focus)
{
    if (!picture || !picture->data[0] || picture->width <= 0 || picture->height <= 0)
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
            copy = old;
        else
            av_frame_free(&old);
        m_pictures.erase(it);
    };
    auto old = m_pictures.find(number);
    if (old != m_pictures.end())
        release(old);
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
    if (!copy) {
        copy = av_frame_alloc();
        if (!copy)
            return;
        copy->width = picture->width;
        copy->height = picture->height;
        copy->format = picture->format;
        if (av_frame_get_buffer(copy, 0) < 0) {
            av_frame_free(&copy);
            return;
        }
    }
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
