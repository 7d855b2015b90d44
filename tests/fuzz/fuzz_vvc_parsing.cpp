// The VVC layer on any bytes: Annex B splitting, NAL unit headers, parameter sets, picture
// headers and picture completion, driven as the VVC decoder drives them. Malformed syntax is
// reported by the layer's Exception and ends the stream; anything else escaping is a fault.
#include "fuzz_support.h"

#include "bitstream/AnnexBread.h"
#include "decoding/DecLib.h"
#include "bitstream/Nal.h"

#include <climits>
#include <fstream>
#include <list>

namespace {

// Every finished picture counts as written, so that the next completion may drop it.
void Output(std::list<Picture*>* pictures)
{
    if (!pictures)
        return;
    for (Picture* p : *pictures)
        if (p)
            p->setOutputMark(false);
}

constexpr int kMaxSteps = 1 << 14; // NAL units and picture boundaries per input

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_verbosity = SILENT;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    QString const path = fuzzsupport::WriteScratch(QStringLiteral("case.vvc"), data, size);
    std::ifstream file(path.toStdString(), std::ios::in | std::ios::binary);
    FUZZ_CHECK(file.is_open(), "cannot read back the input");
    InputByteStream bytes(file);
    DecLib dec;
    dec.create();
    dec.init();
    dec.setDecodedPictureHashSEIEnabled(1);
    dec.setNoOutputPriorPicsFlag(false);
    dec.getTrQuant()->init(nullptr, 64, false, false, false, false);
    std::list<Picture*>* pictures = nullptr;
    int poc = 0;
    int skipFrame = 0;
    int pocLastDisplay = -INT_MAX;
    try {
        for (int step = 0; step < kMaxSteps; ++step) {
            if (dec.isNewPicture(&file, &bytes)) {
                dec.isNewAccessUnit(true, &file, &bytes);
                dec.finishPicture(poc, pictures, INFO, false);
                Output(pictures);
                continue;
            }
            InputNALUnit nalu;
            AnnexBStats stats;
            byteStreamNALUnit(bytes, nalu.getBitstream().getFifo(), stats);
            if (nalu.getBitstream().getFifo().empty()) {
                if (!file)
                    break;
                continue;
            }
            read(nalu);
            dec.decode(nalu, skipFrame, pocLastDisplay, 0, true);
        }
        dec.finishPicture(poc, pictures, INFO, false);
        Output(pictures);
    } catch (Exception const&) {
        // Malformed stream: the layer's own report.
    }
    dec.deletePicBuffer();
    dec.destroy();
    return 0;
}
