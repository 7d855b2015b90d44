#pragma once

// Shared pieces of the libFuzzer targets: a scratch folder for the file each input becomes, quiet
// logs, and a check that stops the run (libFuzzer keeps the input) when a rule is broken.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

// Suffixes the decoder-factory target gives its file, by the input's first byte (the seed maker
// writes that byte from this table too).
inline char const* const kFactorySuffixes[] = {"yuv", "y4m", "h264", "264", "avc",   "h265", "265", "hevc", "hvc",
                                               "av1", "obu", "ivf",  "vvc", "mjpeg", "nv12", "rgb", "bin",  "gz"};
inline constexpr size_t kFactorySuffixCount = sizeof(kFactorySuffixes) / sizeof(kFactorySuffixes[0]);

inline void DropMessages(QtMsgType, QMessageLogContext const&, QString const&) {}

// Log output of the media core and FFmpeg would flood the fuzzer's own report.
inline void QuietLogs()
{
    qInstallMessageHandler(DropMessages);
    av_log_set_level(AV_LOG_QUIET);
}

// A folder of this process, removed at exit.
inline QDir const& ScratchDir()
{
    static QTemporaryDir const sDir(QDir::tempPath() + QStringLiteral("/seravin_fuzz_XXXXXX"));
    static QDir const sPath(sDir.path());
    if (!sDir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        std::abort();
    }
    return sPath;
}

// Writes the bytes to `name` in the scratch folder and gives its path.
inline QString WriteScratch(QString const& name, uint8_t const* data, size_t size)
{
    QString const path = ScratchDir().filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<char const*>(data), qint64(size)) != qint64(size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

// A broken rule: the message, then an abort, so that libFuzzer saves the input as a crash.
#define FUZZ_CHECK(cond, ...)                                                                                          \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "rule broken: %s: ", #cond);                                                          \
            std::fprintf(stderr, __VA_ARGS__);                                                                         \
            std::fprintf(stderr, "\n");                                                                                \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

} // namespace fuzzsupport
