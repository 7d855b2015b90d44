// The decoder factory on any bytes under any suffix the application knows: byte 0 picks the
// suffix, byte 1 the stream type (0 detects), the rest is the file. Each opened stream is walked
// like the broken-file tests walk it (forward to the end, backwards, last, previous, first) and
// judged by their rules: only result codes, no more pictures than the frame count, and every
// picture given with success of the stream's size and format.
#include "core/decoders/broken_files_support.h"
#include "fuzz_support.h"

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
    if (size < 2)
        return 0;
    QString const name = QStringLiteral("case.") +
                         QLatin1String(fuzzsupport::kFactorySuffixes[data[0] % fuzzsupport::kFactorySuffixCount]);
    ZeStreamType const type = static_cast<ZeStreamType>(data[1] % 7);
    QString const path = fuzzsupport::WriteScratch(name, data + 2, size - 2);
    Outcome const o = Exercise(path, type, nullptr);
    std::string const broken = BrokenRules(o);
    FUZZ_CHECK(broken.empty(), "%s", broken.c_str());
    return 0;
}
