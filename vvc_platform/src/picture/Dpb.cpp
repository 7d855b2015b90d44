#include "picture/Dpb.h"

#include <algorithm>

namespace vvcdpb {

BufferLimits LimitsOf(vvcsyntax::SeqParameterSet const& sps, int highestTid)
{
    int const t = std::clamp(highestTid, 0, std::min(sps.maxSublayersMinus1, 7));
    BufferLimits l;
    l.maxDecPicBuffering = sps.dpb.maxDecPicBufferingMinus1[t] + 1;
    l.maxNumReorder = sps.dpb.maxNumReorderPics[t];
    l.maxLatencyIncreasePlus1 = sps.dpb.maxLatencyIncreasePlus1[t];
    return l;
}

std::shared_ptr<Picture> DecodedPictureBuffer::find(int poc, bool lsbOnly, int lsbMask, bool shortTermOnly,
                                                    int layerId) const
{
    for (auto const& p : m_pics) {
        if (!p->referenced() || p->layerId != layerId || (shortTermOnly && p->marking != RefMark::ShortTerm))
            continue;
        if (lsbOnly ? (p->poc & lsbMask) == poc : p->poc == poc)
            return p;
    }
    return nullptr;
}

std::shared_ptr<Picture> DecodedPictureBuffer::generate(CurrentPicture const& cur, int poc, bool longTerm)
{
    auto pic = std::make_shared<Picture>();
    pic->poc = poc;
    pic->layerId = cur.layerId;
    pic->generated = true;
    pic->outputFlag = pic->neededForOutput = false;
    pic->marking = longTerm ? RefMark::LongTerm : RefMark::ShortTerm;
    pic->samples.create(cur.chromaFormat, cur.width, cur.height, cur.bitDepth); // grey: 1 << (bitDepth - 1)
    m_pics.push_back(pic);
    return pic;
}

bool DecodedPictureBuffer::buildLists(CurrentPicture const& cur, vvcsyntax::RefPicLists const& rpl,
                                      vvcsyntax::SeqParameterSet const& sps, int sliceType, int const numActive[2],
                                      bool temporalMvp, bool collocatedFromL0, int collocatedRefIdx, SliceRefs& out,
                                      int& missing)
{
    out = SliceRefs();
    out.sliceType = sliceType;
    missing = 0;
    int const maxLsb = 1 << cur.log2MaxPocLsb;
    for (int i = 0; i < 2; ++i) {
        vvcsyntax::RefPicListStruct const& s = rpl.list(i, sps);
        int pocBase = cur.poc;
        int lt = 0;
        int msbCycle = 0;
        for (int j = 0; j < s.numRefEntries; ++j) {
            RefPicEntry e;
            std::shared_ptr<Picture> pic;
            if (size_t(j) < s.interLayer.size() && s.interLayer[size_t(j)]) {
                // No other layers are decoded: an inter-layer entry has no picture.
            } else if (s.shortTerm[size_t(j)]) {
                e.poc = pocBase + s.deltaPocSt[size_t(j)]; // the parse keeps the signed difference
                pocBase = e.poc;
                pic = find(e.poc, false, 0, true, cur.layerId);
                if (!pic) {
                    pic = generate(cur, e.poc, false);
                    missing += cur.generateMissing ? 0 : 1;
                }
            } else {
                e.longTerm = true;
                int const lsb = !s.ltrpInHeader                       ? s.pocLsbLt[size_t(j)]
                                : size_t(lt) < rpl.pocLsbLt[i].size() ? rpl.pocLsbLt[i][size_t(lt)]
                                                                      : 0;
                bool const msbPresent =
                    size_t(lt) < rpl.deltaPocMsbCyclePresent[i].size() && rpl.deltaPocMsbCyclePresent[i][size_t(lt)];
                msbCycle = (lt == 0 ? 0 : msbCycle) +
                           (size_t(lt) < rpl.deltaPocMsbCycleLt[i].size() ? rpl.deltaPocMsbCycleLt[i][size_t(lt)] : 0);
                ++lt;
                if (msbPresent) {
                    e.poc = cur.poc - msbCycle * maxLsb - (cur.poc & (maxLsb - 1)) + lsb;
                    pic = find(e.poc, false, 0, false, cur.layerId);
                } else {
                    e.poc = lsb;
                    pic = find(lsb, true, maxLsb - 1, false, cur.layerId);
                }
                if (pic) {
                    e.poc = pic->poc;
                } else {
                    pic = generate(cur, e.poc, true);
                    missing += cur.generateMissing ? 0 : 1;
                }
            }
            e.pic = pic.get();
            out.list[i].push_back(e);
        }
        out.numActive[i] = i == 0 ? (sliceType == 2 ? 0 : numActive[0]) : (sliceType == 0 ? numActive[1] : 0);
        if (out.numActive[i] > int(out.list[i].size()))
            return false;
        for (int j = 0; j < out.numActive[i]; ++j)
            if (!out.list[i][size_t(j)].pic)
                return false; // an inter-layer reference among the active entries
    }
    if (temporalMvp && sliceType != 2) {
        int const l = sliceType == 1 || collocatedFromL0 ? 0 : 1;
        if (collocatedRefIdx >= 0 && collocatedRefIdx < out.numActive[l])
            out.collocated = out.list[l][size_t(collocatedRefIdx)].pic;
    }
    return true;
}

void DecodedPictureBuffer::markReferences(SliceRefs const& refs)
{
    for (auto const& p : m_pics) {
        RefMark mark = RefMark::Unused;
        for (auto const& list : refs.list)
            for (RefPicEntry const& e : list)
                if (e.pic == p.get())
                    mark = e.longTerm ? RefMark::LongTerm : (mark == RefMark::LongTerm ? mark : RefMark::ShortTerm);
        p->marking = mark;
    }
}

void DecodedPictureBuffer::unmarkAll()
{
    for (auto const& p : m_pics)
        p->marking = RefMark::Unused;
}

int DecodedPictureBuffer::waitingCount() const
{
    return int(std::count_if(m_pics.begin(), m_pics.end(), [](auto const& p) { return p->neededForOutput; }));
}

bool DecodedPictureBuffer::latencyExceeded(BufferLimits const& limits) const
{
    return limits.maxLatencyIncreasePlus1 != 0 && std::any_of(m_pics.begin(), m_pics.end(), [&](auto const& p) {
               return p->neededForOutput && p->latencyCount >= limits.maxLatencyPictures();
           });
}

void DecodedPictureBuffer::removeUnused()
{
    m_pics.erase(std::remove_if(m_pics.begin(), m_pics.end(),
                                [](auto const& p) { return !p->neededForOutput && !p->referenced(); }),
                 m_pics.end());
}

bool DecodedPictureBuffer::bump()
{
    std::shared_ptr<Picture> first;
    for (auto const& p : m_pics)
        if (p->neededForOutput && (!first || p->poc < first->poc))
            first = p;
    if (!first)
        return false;
    first->neededForOutput = false;
    m_output.push_back(first);
    removeUnused();
    return true;
}

void DecodedPictureBuffer::beforePicture(bool startsSequence, bool noOutputOfPriorPics, BufferLimits const& limits)
{
    if (startsSequence) {
        if (noOutputOfPriorPics)
            m_pics.clear();
        else
            flush();
        return;
    }
    removeUnused();
    while (waitingCount() > limits.maxNumReorder || latencyExceeded(limits) ||
           int(m_pics.size()) >= limits.maxDecPicBuffering)
        if (!bump())
            break; // full of reference pictures: the stream exceeds its own limit
}

void DecodedPictureBuffer::addPicture(std::shared_ptr<Picture> pic, BufferLimits const& limits)
{
    if (pic->outputFlag)
        for (auto const& p : m_pics)
            if (p->neededForOutput && p->poc > pic->poc)
                ++p->latencyCount;
    pic->neededForOutput = pic->outputFlag;
    pic->latencyCount = 0;
    pic->marking = RefMark::ShortTerm;
    m_pics.push_back(std::move(pic));
    while (waitingCount() > limits.maxNumReorder || latencyExceeded(limits))
        if (!bump())
            break;
}

void DecodedPictureBuffer::flush()
{
    while (bump()) {
    }
    m_pics.clear();
}

void DecodedPictureBuffer::clear()
{
    m_pics.clear();
    m_output.clear();
}

std::shared_ptr<Picture> DecodedPictureBuffer::takeOutput()
{
    if (m_output.empty())
        return nullptr;
    std::shared_ptr<Picture> p = std::move(m_output.front());
    m_output.pop_front();
    return p;
}

} // namespace vvcdpb
