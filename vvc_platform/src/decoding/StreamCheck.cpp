#include "decoding/StreamCheck.h"

#include <fstream>

StreamCheckResult CheckStream(std::string const& path, std::function<void(Picture const&)> const& output)
{
    StreamCheckResult result;
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        result.error = "cannot open " + path;
        return result;
    }
    InputByteStream bs(file);
    DecLib dec;
    dec.create();
    dec.init();
    dec.setDecodedPictureHashSEIEnabled(1);
    int skip = 0, pocLastDisplay = 0, poc = 0;
    std::list<Picture*>* pictures = nullptr;
    // Without `output` pictures are not output: once finished they are no longer needed.
    auto finish = [&] {
        dec.finishPicture(poc, pictures, INFO, false);
        if (output)
            while (auto const pic = dec.takeOutput())
                output(*pic);
        else if (pictures)
            for (Picture* pic : *pictures)
                if (pic)
                    pic->setOutputMark(false);
    };
    try {
        for (;;) {
            if (dec.isNewPicture(&file, &bs)) {
                finish();
                continue;
            }
            InputNALUnit nal;
            AnnexBStats stats;
            byteStreamNALUnit(bs, nal.getBitstream().getFifo(), stats);
            if (nal.getBitstream().getFifo().empty()) {
                if (!file)
                    break;
                continue;
            }
            if (!ReadOrDrop(nal))
                continue;
            ++result.nalUnits;
            dec.decode(nal, skip, pocLastDisplay, -1, true);
        }
        finish();
        if (output) {
            dec.flushOutput();
            while (auto const pic = dec.takeOutput())
                output(*pic);
        }
    } catch (Exception const& e) {
        result.error = e.what();
    }
    result.notAByteStream = bs.notAByteStream();
    result.hashes = dec.hashStats();
    result.syntaxErrors = dec.syntaxErrorCount();
    result.syntaxError = dec.syntaxError();
    result.sliceDataError = dec.sliceDataError();
    for (int id = 0; id < 16 && result.chromaFormatIdc < 0; ++id)
        if (vvcsyntax::SeqParameterSet const* sps = dec.seqParameterSet(id))
            result.chromaFormatIdc = sps->chromaFormatIdc;
    dec.deletePicBuffer();
    dec.destroy();
    return result;
}
