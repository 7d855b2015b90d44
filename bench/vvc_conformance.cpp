// Conformance run of the VVC decoder over a folder of bitstreams (not run by ctest):
//   vvc_conformance <streams folder> [md5 list] [-v] [--threads N]
// The md5 list holds "md5  name" lines with the MD5 of each stream's whole decoded output
// (pictures in output order, cropped, Y then U then V, only Y for 4:0:0 streams, one byte per
// sample at 8 bits, two little-endian bytes above); by default <folder>/md5.txt or
// <folder>/../md5.txt.
// One line per stream: whether it is detected, its size, format and frame count, how many
// pictures decode, how its pictures compare with their decoded picture hash SEI messages, and
// whether the output MD5 matches; then a summary. -v also prints the decoder's messages.
// --threads N decodes on N threads (default: the machine's cores, or SERAVIN_VVC_THREADS); the
// results are the same with any number.
// Debugging aids of the layer, on stderr: SERAVIN_VVC_TRACE=1 says why an intra picture was not
// reconstructed, SERAVIN_VVC_STATS=1 prints per picture whether it matched its hash, the first
// plane that did not and which planes differ ([YUV], '.' for a plane that matches), the residual
// tools and the inter unit kinds it used (bi-prediction with integer or fractional vectors,
// DMVR, BDOF, BCW, explicit weights).

#include "display/frame.h"
#include "common/ze_nox_core_error.h"
#include "decoders/ze_vvc_decoder.h"

#include "decoding/StreamCheck.h"
#include "util/VvcCommon.h"
#include "util/WorkerPool.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTextStream>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <cstdio>

using namespace ze::nox::core;

namespace {

bool sVerbose = false;

void Messages(QtMsgType, QMessageLogContext const&, QString const& text)
{
    if (sVerbose)
        std::fprintf(stderr, "  | %s\n", text.toLocal8Bit().constData());
}

QHash<QString, QString> ReadMd5List(QString const& path)
{
    QHash<QString, QString> list;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return list;
    while (!f.atEnd()) {
        const QStringList parts = QString::fromUtf8(f.readLine()).simplified().split(QLatin1Char(' '));
        if (parts.size() >= 2)
            list.insert(parts.last(), parts.first().toLower());
    }
    return list;
}

// The visible planes of a decoded frame as the output MD5 counts them: the first `planes`.
void AddFrame(QCryptographicHash& md5, Frame const& frame, int planes)
{
    AVFrame const* f = frame.avFrame();
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    if (!desc)
        return;
    int const bytesPerSample = desc->comp[0].depth > 8 ? 2 : 1;
    for (int p = 0; p < planes && f->data[p]; ++p) {
        int const w = p == 0 ? f->width : -((-f->width) >> desc->log2_chroma_w);
        int const h = p == 0 ? f->height : -((-f->height) >> desc->log2_chroma_h);
        for (int y = 0; y < h; ++y)
            md5.addData(reinterpret_cast<char const*>(f->data[p] + ptrdiff_t(y) * f->linesize[p]), w * bytesPerSample);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    sVerbose = args.removeAll(QStringLiteral("-v")) > 0;
    int const threadsAt = args.indexOf(QStringLiteral("--threads"));
    if (threadsAt >= 0) {
        bool ok = false;
        int const threads = threadsAt + 1 < args.size() ? args[threadsAt + 1].toInt(&ok) : 0;
        if (!ok || threads < 1) {
            std::fprintf(stderr, "--threads needs a count of 1 or more\n");
            return 2;
        }
        vvcutil::SetDecodingThreads(threads);
        args.erase(args.begin() + threadsAt, args.begin() + threadsAt + 2);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: vvc_conformance <streams folder> [md5 list] [-v] [--threads N]\n");
        return 2;
    }
    qInstallMessageHandler(Messages);
    g_verbosity = sVerbose ? VERBOSE : SILENT;
    const QDir dir(args[0]);
    QString md5Path = args.size() > 1 ? args[1] : dir.filePath(QStringLiteral("md5.txt"));
    if (args.size() < 2 && !QFile::exists(md5Path))
        md5Path = dir.filePath(QStringLiteral("../md5.txt"));
    QHash<QString, QString> const expected = ReadMd5List(md5Path);
    const QStringList names = dir.entryList({QStringLiteral("*.bit"), QStringLiteral("*.vvc"), QStringLiteral("*.266")},
                                            QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        std::fprintf(stderr, "no streams in %s\n", qPrintable(dir.path()));
        return 2;
    }

    int detected = 0, opened = 0, decoded = 0, md5Match = 0, md5Known = 0;
    int hashPictures = 0, hashChecked = 0, hashMatched = 0, pictures = 0;
    int intraPictures = 0, intraWithHash = 0, syntaxClean = 0, intraSlices = 0, intraSlicesParsed = 0;
    int interSlices = 0, interSlicesParsed = 0;
    QElapsedTimer total;
    total.start();
    for (QString const& name : names) {
        const QString path = dir.filePath(name);
        ZeVvcDecoder dec;
        const ZeNoxCoreError open = dec.openFile(path, nullptr);
        bool const isDetected = open != ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED;
        detected += isDetected ? 1 : 0;
        QString line = QStringLiteral("%1 ").arg(name, -32);
        // The decoder's own pass: the hash checks, and whether the stream is 4:0:0 (its output
        // MD5 then covers the luma plane only).
        const StreamCheckResult check = isDetected ? CheckStream(path.toStdString()) : StreamCheckResult();
        if (open != ZE_NOX_CORE_OK) {
            line += QStringLiteral("%1 (%2 %3)")
                        .arg(isDetected ? "detected, not opened" : "not detected")
                        .arg(int(open))
                        .arg(ErrToString(open));
        } else {
            ++opened;
            line += QStringLiteral("%1x%2 %3 %4 frames")
                        .arg(dec.width())
                        .arg(dec.height())
                        .arg(QString::fromLatin1(av_get_pix_fmt_name(dec.pixelFormat())))
                        .arg(dec.getOriginalFrameCount());
            Frame frame;
            QCryptographicHash md5(QCryptographicHash::Md5);
            int good = 0;
            ZeNoxCoreError step = ZE_NOX_CORE_OK;
            for (int i = 0; i < dec.getOriginalFrameCount(); ++i) {
                step = i == 0 ? dec.getFirstFrame(frame) : dec.getNextFrame(frame);
                if (step != ZE_NOX_CORE_OK)
                    break;
                AddFrame(md5, frame, check.chromaFormatIdc == 0 ? 1 : 3);
                ++good;
            }
            bool const all = good == dec.getOriginalFrameCount();
            decoded += all ? 1 : 0;
            line += QStringLiteral(", decoded %1/%2").arg(good).arg(dec.getOriginalFrameCount());
            if (!all)
                line += QStringLiteral(" (%1)").arg(int(step));
            auto const want = expected.find(name);
            if (want == expected.end()) {
                line += QStringLiteral(", md5 unknown");
            } else {
                ++md5Known;
                bool const match = all && QString::fromLatin1(md5.result().toHex()) == *want;
                md5Match += match ? 1 : 0;
                line += all ? (match ? QStringLiteral(", md5 match") : QStringLiteral(", md5 MISMATCH"))
                            : QStringLiteral(", md5 not compared");
            }
        }
        if (isDetected) {
            pictures += check.hashes.pictures;
            hashPictures += check.hashes.withHash;
            hashChecked += check.hashes.checked;
            hashMatched += check.hashes.matched;
            intraPictures += check.hashes.intraPictures;
            intraWithHash += check.hashes.intraWithHash;
            syntaxClean += check.syntaxErrors == 0 && check.error.empty() ? 1 : 0;
            line += QStringLiteral("; %1 pictures (%2 intra), %3 with hash, %4 checked, %5 matched")
                        .arg(check.hashes.pictures)
                        .arg(check.hashes.intraPictures)
                        .arg(check.hashes.withHash)
                        .arg(check.hashes.checked)
                        .arg(check.hashes.matched);
            intraSlices += check.hashes.intraSlices;
            intraSlicesParsed += check.hashes.intraSlicesParsed;
            interSlices += check.hashes.interSlices;
            interSlicesParsed += check.hashes.interSlicesParsed;
            if (check.hashes.intraSlices > 0)
                line += QStringLiteral("; intra slice data %1/%2")
                            .arg(check.hashes.intraSlicesParsed)
                            .arg(check.hashes.intraSlices);
            if (check.hashes.interSlices > 0)
                line += QStringLiteral("; inter slice data %1/%2")
                            .arg(check.hashes.interSlicesParsed)
                            .arg(check.hashes.interSlices);
            if (!check.sliceDataError.empty())
                line += QStringLiteral(" (%1)").arg(QString::fromStdString(check.sliceDataError));
            if (check.syntaxErrors > 0)
                line += QStringLiteral("; %1 units with syntax errors, first: %2")
                            .arg(check.syntaxErrors)
                            .arg(QString::fromStdString(check.syntaxError).simplified());
            if (check.hashes.firstMismatch >= 0)
                line += QStringLiteral(", first mismatch picture %1 plane %2")
                            .arg(check.hashes.firstMismatch)
                            .arg(check.hashes.firstMismatchPlane);
            if (!check.error.empty())
                line += QStringLiteral("; error: %1").arg(QString::fromStdString(check.error).simplified());
        }
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    }
    std::printf("summary: %d streams, %d detected, %d opened, %d with complete syntax read, %d decoded completely, "
                "%d of %d output md5 match; %d pictures (%d intra), %d with hash SEI (%d intra), %d checked, "
                "%d matched; intra slice data decoded to its end: %d of %d; inter slices whose data decodes exactly to its "
                "end: %d of %d; %.1f s\n",
                int(names.size()), detected, opened, syntaxClean, decoded, md5Match, md5Known, pictures, intraPictures,
                hashPictures, intraWithHash, hashChecked, hashMatched, intraSlicesParsed, intraSlices,
                interSlicesParsed, interSlices, total.elapsed() / 1000.0);
    return 0;
}
