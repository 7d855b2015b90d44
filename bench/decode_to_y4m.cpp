// decode_to_y4m IN OUT.y4m: decodes a stream of any supported type (detected from its content)
// through the core's decoders and writes its pictures as Y4M: the raw reference of a stream that
// the system's ffmpeg cannot decode (VVC), for the metric-run comparison script.

#include "decoders/ze_nox_decoder_factory.h"
#include "y4m_writer.h"

#include <QCoreApplication>

#include <cstdio>

using namespace ze::nox::core;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN OUT.y4m\n", argv[0]);
        return 2;
    }
    QString const in = QString::fromLocal8Bit(argv[1]);
    ZeOpenedNoxDecoder dec = CreateAndOpenNoxDecoder(DetectStreamTypeByContent(in), in, nullptr, nullptr, false, false);
    if (dec.result != ZE_NOX_CORE_OK) {
        std::fprintf(stderr, "cannot open %s (%d)\n", argv[1], int(dec.result));
        return 1;
    }
    int const n = WriteY4m(*dec.decoder, QString::fromLocal8Bit(argv[2]));
    std::printf("%d of %d pictures written\n", n, dec.decoder->getOriginalFrameCount());
    return n > 0 && n == dec.decoder->getOriginalFrameCount() ? 0 : 1;
}
