// The guess of a raw file's parameters from its name and contents. Byte 0 is the length of the
// name (at most 63), the next bytes its characters (mapped onto those of file names), the rest
// the file. Whatever the guess, it must be a picture the dialog and the reader can take.
#include "fuzz_support.h"

#include "raw/YUVParameters.h"

#include <QCoreApplication>
#include <QFile>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    fuzzsupport::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static char const kChars[] = "0123456789x_-.abcdefghijklmnopqrstuvwyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (size < 1)
        return 0;
    size_t const nameLength = std::min<size_t>(data[0] % 64, size - 1);
    QString name;
    for (size_t i = 0; i < nameLength; ++i)
        name += QLatin1Char(kChars[data[1 + i] % (sizeof(kChars) - 1)]);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("clip");
    size_t const skip = 1 + nameLength;
    QString const path = fuzzsupport::WriteScratch(name, data + skip, size - skip);

    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), "cannot read back the input");
    YUVParameters p;
    p.detectResolution(&file);
    FUZZ_CHECK(p.m_width >= 1 && p.m_width <= YUVParameters::kMaxSide && p.m_height >= 1 &&
                   p.m_height <= YUVParameters::kMaxSide,
               "%dx%d from %s", p.m_width, p.m_height, qPrintable(name));
    FUZZ_CHECK(p.m_frameSize > 0 && p.m_frameCount >= 0 && p.m_bitDepth >= 8 && p.m_bitDepth <= 16,
               "frame size %lld, frames %d, bit depth %d from %s", (long long)p.m_frameSize, p.m_frameCount,
               p.m_bitDepth, qPrintable(name));
    FUZZ_CHECK(int64_t(p.m_frameCount) * p.m_frameSize <= p.m_fileSize, "%d frames of %lld bytes in %lld",
               p.m_frameCount, (long long)p.m_frameSize, (long long)p.m_fileSize);
    QFile::remove(path);
    return 0;
}
