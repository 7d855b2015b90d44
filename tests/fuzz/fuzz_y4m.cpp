// The Y4M reader on any bytes after the "YUV4MPEG2" signature: the stream and frame headers and
// the frame index the raw reader builds, then a walk of the file through the raw YUV decoder.
#include "core/decoders/broken_files_support.h"
#include "fuzz_support.h"

#include "raw/YUVFile.h"

#include <QCoreApplication>

using namespace brokenfiles;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    fuzzsupport::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    QByteArray bytes("YUV4MPEG2");
    bytes.append(reinterpret_cast<char const*>(data), int(std::min<size_t>(size, 1 << 20)));
    QString const path = fuzzsupport::WriteScratch(
        QStringLiteral("case.y4m"), reinterpret_cast<uint8_t const*>(bytes.constData()), size_t(bytes.size()));

    // The index: headers within bounds, frames in file order, every frame but the last (which
    // may be cut short) inside the file.
    YUVFile reader;
    if (reader.setFile(path, 0)) {
        std::vector<YUVFile::FrameParams> const& frames = reader.m_layers[0].frames;
        int64_t const fileSize = bytes.size();
        for (size_t i = 0; i < frames.size(); ++i) {
            YUVFile::FrameParams const& f = frames[i];
            FUZZ_CHECK(f.width >= 1 && f.width <= YUVFile::kY4MMaxSide && f.height >= 1 &&
                           f.height <= YUVFile::kY4MMaxSide && f.size > 0,
                       "frame %zu: %dx%d, %lld bytes", i, f.width, f.height, (long long)f.size);
            FUZZ_CHECK(f.pos > 0 && f.pos <= fileSize, "frame %zu at %lld of %lld", i, (long long)f.pos,
                       (long long)fileSize);
            if (i + 1 < frames.size())
                FUZZ_CHECK(f.pos + f.size <= frames[i + 1].pos, "frame %zu overlaps the next", i);
        }
    }

    Outcome const o = Exercise(path, ZE_STREAM_TYPE_YUV, nullptr);
    std::string const broken = BrokenRules(o);
    FUZZ_CHECK(broken.empty(), "%s", broken.c_str());
    return 0;
}
