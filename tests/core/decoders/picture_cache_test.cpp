// The kept pictures of a decoder: which ones stay inside the budget, and that their contents come
// back unchanged, also while the cache's memory is still being taken from the system.

#include "test_support.h"

#include "display/frame.h"
#include "decoders/ze_picture_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
}

using namespace ze::nox::core;

namespace {

struct FrameDeleter
{
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Picture = std::unique_ptr<AVFrame, FrameDeleter>;

// A 4:2:0 picture whose samples tell it from any other seed.
Picture MakePicture(int width, int height, int seed)
{
    Picture p(av_frame_alloc());
    p->width = width;
    p->height = height;
    p->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(av_frame_get_buffer(p.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane) {
        int const rows = plane == 0 ? height : (height + 1) / 2;
        int const cols = plane == 0 ? width : (width + 1) / 2;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                p->data[plane][y * p->linesize[plane] + x] = static_cast<uint8_t>(seed * 7 + x * 3 + y * 5 + plane);
    }
    return p;
}

int64_t PictureBytes(int width, int height)
{
    return av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1);
}

} // namespace

// Room for five pictures: walking towards a focus keeps the five nearest it, a picture farther
// than the budget reaches is not kept, one kept already is not replaced, and each kept picture
// comes back as it was put.
TEST(PictureCache, KeepsThePicturesNearestTheFocusInsideTheBudget)
{
    int const w = 64, h = 48;
    struct Case
    {
        char const* name;
        bool prepared; // memory made ready before the first picture
    };
    for (Case const c : {Case{"on the first picture", false}, Case{"prepared", true}}) {
        SCOPED_TRACE(c.name);
        ZePictureCache cache;
        cache.setBudget(PictureBytes(w, h) * 5);
        if (c.prepared)
            cache.prepare(w, h, AV_PIX_FMT_YUV420P, 1000);
        std::vector<QString> md5;
        for (int n = 0; n < 20; ++n) {
            Picture p = MakePicture(w, h, n);
            md5.push_back(PictureMd5(p.get()));
            cache.put(n, p.get(), 19);
            EXPECT_LE(cache.bytes(), cache.budget());
        }
        EXPECT_EQ(cache.count(), 5);
        for (int n = 0; n < 20; ++n)
            EXPECT_EQ(cache.contains(n), n >= 15) << n;
        cache.put(17, MakePicture(w, h, 99).get(), 19);
        Frame frame;
        for (int n = 15; n < 20; ++n) {
            ASSERT_TRUE(cache.get(n, frame));
            EXPECT_EQ(PictureMd5(frame), md5[n]) << n;
        }
        // Turned round: the pictures far behind the new focus make room.
        for (int n = 10; n < 15; ++n)
            cache.put(n, MakePicture(w, h, n).get(), 10);
        for (int n = 10; n < 20; ++n)
            EXPECT_EQ(cache.contains(n), n < 15) << n;
        EXPECT_FALSE(cache.get(19, frame));
    }
}

// The memory of a large budget is taken from the system by a helper thread while pictures are
// put: what the cache holds is never overwritten by it, and a cache dropped meanwhile waits for it.
TEST(PictureCache, PicturesKeptWhileItsMemoryIsTakenStayIntact)
{
    int const w = 640, h = 360;
    int const count = 150;
    ZePictureCache cache;
    cache.setBudget(PictureBytes(w, h) * count);
    cache.prepare(w, h, AV_PIX_FMT_YUV420P, 1000);
    std::vector<QString> md5;
    for (int n = 0; n < count; ++n) {
        Picture p = MakePicture(w, h, n);
        md5.push_back(PictureMd5(p.get()));
        cache.put(n, p.get(), count - 1);
    }
    ASSERT_EQ(cache.count(), count);
    Frame frame;
    for (int n = 0; n < count; ++n) {
        ASSERT_TRUE(cache.get(n, frame));
        EXPECT_EQ(PictureMd5(frame), md5[n]) << n;
    }
    // A new budget drops the memory, also while it is still being taken.
    for (int i = 0; i < 3; ++i) {
        cache.setBudget(PictureBytes(w, h) * count);
        cache.prepare(w, h, AV_PIX_FMT_YUV420P, 1000);
        cache.put(0, MakePicture(w, h, 1).get(), 0);
        ASSERT_TRUE(cache.get(0, frame));
        EXPECT_EQ(PictureMd5(frame), md5[1]);
    }
}
