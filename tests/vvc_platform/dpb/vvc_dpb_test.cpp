// The decoded picture buffer: reference lists from list structures (short-term differences,
// long-term POC LSBs with and without MSB cycles, made-up pictures for missing references),
// marking, and the output order and timing under the reorder, latency and fullness limits.

#include "picture/Dpb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using vvcdpb::BufferLimits;
using vvcdpb::DecodedPictureBuffer;

std::shared_ptr<Picture> Pic(int poc, bool output = true)
{
    auto p = std::make_shared<Picture>();
    p->poc = poc;
    p->outputFlag = output;
    return p;
}

std::vector<int> Drain(DecodedPictureBuffer& dpb)
{
    std::vector<int> out;
    while (auto p = dpb.takeOutput())
        out.push_back(p->poc);
    return out;
}

// Pictures enter in decoding order; after each, the pictures output so far.
std::vector<std::vector<int>> Decode(DecodedPictureBuffer& dpb, std::vector<int> const& pocs, BufferLimits limits,
                                     std::vector<int> const& noOutput = {})
{
    std::vector<std::vector<int>> steps;
    for (int poc : pocs) {
        dpb.beforePicture(false, false, limits);
        bool const out = std::find(noOutput.begin(), noOutput.end(), poc) == noOutput.end();
        dpb.addPicture(Pic(poc, out), limits);
        steps.push_back(Drain(dpb));
    }
    return steps;
}

TEST(VvcDpb, OutputFollowsTheReorderAndLatencyLimits)
{
    struct Case
    {
        char const* name;
        BufferLimits limits;
        std::vector<int> pocs;
        std::vector<int> noOutput;
        std::vector<std::vector<int>> steps;
    } const cases[] = {
        {"low delay: each picture at once", {2, 0, 0}, {0, 1, 2}, {}, {{0}, {1}, {2}}},
        {"reorder 2", {5, 2, 0}, {0, 4, 2, 1, 3}, {}, {{}, {}, {0}, {1}, {2}}},
        // Latency 2 + 1 - 1 = 2: once two pictures before 8 in output order are decoded after
        // it, everything up to 8 leaves (with reorder alone, 8 and 2 would wait).
        {"latency", {9, 2, 1}, {0, 8, 1, 2}, {}, {{}, {}, {0}, {1, 2, 8}}},
        {"output flag 0 is never output", {2, 0, 0}, {0, 1, 2}, {1}, {{0}, {}, {2}}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedPictureBuffer dpb;
        EXPECT_EQ(Decode(dpb, c.pocs, c.limits, c.noOutput), c.steps);
    }
}

TEST(VvcDpb, FullBufferOutputsBeforeTheNextPicture)
{
    // A buffer of 2 outputs before a third picture enters until there is room: a picture no
    // longer referenced leaves once output, references stay (so all waiting ones go).
    for (bool firstStaysReference : {false, true}) {
        DecodedPictureBuffer dpb;
        BufferLimits const limits{2, 2, 0};
        dpb.addPicture(Pic(0), limits);
        dpb.addPicture(Pic(4), limits);
        EXPECT_TRUE(Drain(dpb).empty());
        if (!firstStaysReference)
            dpb.pictures()[0]->marking = RefMark::Unused;
        dpb.beforePicture(false, false, limits);
        EXPECT_EQ(Drain(dpb), (firstStaysReference ? std::vector<int>{0, 4} : std::vector<int>{0}));
    }
}

TEST(VvcDpb, NewSequenceOutputsOrDiscardsThePriorPictures)
{
    for (bool noOutputOfPriorPics : {false, true}) {
        DecodedPictureBuffer dpb;
        BufferLimits const limits{5, 3, 0};
        Decode(dpb, {0, 4, 2}, limits);
        dpb.beforePicture(true, noOutputOfPriorPics, limits);
        EXPECT_EQ(Drain(dpb), (noOutputOfPriorPics ? std::vector<int>() : std::vector<int>{0, 2, 4}));
        EXPECT_TRUE(dpb.pictures().empty());
        dpb.addPicture(Pic(0), limits);
        dpb.flush();
        EXPECT_EQ(Drain(dpb), (std::vector<int>{0}));
    }
}

vvcsyntax::SeqParameterSet Sps()
{
    vvcsyntax::SeqParameterSet sps;
    sps.log2MaxPocLsb = 4;
    sps.longTermRefPics = true;
    return sps;
}

TEST(VvcDpb, ListsFromShortAndLongTermEntries)
{
    DecodedPictureBuffer dpb;
    BufferLimits const limits{8, 0, 0};
    for (int poc : {0, 16, 8, 20})
        dpb.addPicture(Pic(poc), limits);
    Drain(dpb);
    vvcsyntax::SeqParameterSet const sps = Sps();
    vvcsyntax::RefPicLists rpl;
    // List 0: POC 24 - 4 = 20, then 20 - 4 = 16, then the long-term picture whose LSBs are 8;
    // list 1: the long-term picture of POC 0 named by its MSB cycle (24 - 1 * 16 - 8 + 0 = 0).
    auto& l0 = rpl.own[0];
    l0.numRefEntries = 3;
    l0.interLayer = {false, false, false};
    l0.shortTerm = {true, true, false};
    l0.deltaPocSt = {-4, -4, 0};
    l0.pocLsbLt = {0, 0, 8};
    rpl.pocLsbLt[0] = {0};
    rpl.deltaPocMsbCyclePresent[0] = {false};
    rpl.deltaPocMsbCycleLt[0] = {0};
    auto& l1 = rpl.own[1];
    l1.numRefEntries = 1;
    l1.ltrpInHeader = true;
    l1.interLayer = {false};
    l1.shortTerm = {false};
    l1.deltaPocSt = {0};
    l1.pocLsbLt = {0};
    rpl.pocLsbLt[1] = {0};
    rpl.deltaPocMsbCyclePresent[1] = {true};
    rpl.deltaPocMsbCycleLt[1] = {1};
    vvcdpb::CurrentPicture cur;
    cur.poc = 24;
    cur.width = cur.height = 16;
    int const active[2] = {2, 1};
    SliceRefs refs;
    int missing = -1;
    ASSERT_TRUE(dpb.buildLists(cur, rpl, sps, 0, active, true, false, 0, refs, missing));
    EXPECT_EQ(missing, 0);
    ASSERT_EQ(refs.list[0].size(), 3u);
    EXPECT_EQ(refs.list[0][0].poc, 20);
    EXPECT_EQ(refs.list[0][1].poc, 16);
    EXPECT_EQ(refs.list[0][2].poc, 8);
    EXPECT_TRUE(refs.list[0][2].longTerm);
    ASSERT_EQ(refs.list[1].size(), 1u);
    EXPECT_EQ(refs.list[1][0].poc, 0);
    EXPECT_EQ(refs.numActive[0], 2);
    EXPECT_EQ(refs.numActive[1], 1);
    EXPECT_EQ(refs.collocated, refs.list[1][0].pic);

    dpb.markReferences(refs);
    for (auto const& p : dpb.pictures())
        EXPECT_EQ(p->marking, p->poc == 20 || p->poc == 16 ? RefMark::ShortTerm : RefMark::LongTerm) << p->poc;
    // Short-term entries find only short-term pictures: 8 is long-term now.
    l0.shortTerm = {true, true, true};
    l0.deltaPocSt = {-4, -4, -8};
    ASSERT_TRUE(dpb.buildLists(cur, rpl, sps, 0, active, false, false, 0, refs, missing));
    EXPECT_EQ(missing, 1);
    EXPECT_TRUE(refs.list[0][2].pic->generated);
    EXPECT_EQ(refs.collocated, nullptr);
}

TEST(VvcDpb, MissingReferencesOfASequenceStartAreGrey)
{
    DecodedPictureBuffer dpb;
    vvcsyntax::SeqParameterSet const sps = Sps();
    vvcsyntax::RefPicLists rpl;
    rpl.own[0].numRefEntries = 1;
    rpl.own[0].interLayer = {false};
    rpl.own[0].shortTerm = {true};
    rpl.own[0].deltaPocSt = {-2};
    vvcdpb::CurrentPicture cur;
    cur.poc = 10;
    cur.bitDepth = 10;
    cur.width = 8;
    cur.height = 8;
    cur.generateMissing = true;
    int const active[2] = {0, 0};
    SliceRefs refs;
    int missing = -1;
    ASSERT_TRUE(dpb.buildLists(cur, rpl, sps, 2, active, false, true, 0, refs, missing));
    EXPECT_EQ(missing, 0); // expected after a CRA or GDR start
    Picture const* g = refs.list[0][0].pic;
    ASSERT_NE(g, nullptr);
    EXPECT_TRUE(g->generated);
    EXPECT_FALSE(g->neededForOutput);
    EXPECT_EQ(g->poc, 8);
    EXPECT_EQ(g->samples.origin(0)[3], 512);
    EXPECT_EQ(g->samples.origin(1)[0], 512);
    // More active entries than the list has cannot be formed.
    int const tooMany[2] = {2, 0};
    EXPECT_FALSE(dpb.buildLists(cur, rpl, sps, 1, tooMany, false, true, 0, refs, missing));
}

} // namespace
