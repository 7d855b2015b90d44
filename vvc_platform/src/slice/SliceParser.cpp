#include "slice/SliceParser.h"

#include "util/WorkerPool.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vvcslice {

using namespace vvcsyntax;

namespace {

// Context variables: the initValue of each for the three initialization types (I, then the two
// of P and B slices) and its shiftIdx, as the standard's tables give them, grouped by syntax
// element.
struct CtxTable
{
    std::vector<uint8_t> init[3], shift;
    std::vector<std::pair<std::string, int>> names; // each group's name and first context
    int add(char const* name, std::initializer_list<uint8_t> i0, std::initializer_list<uint8_t> i1,
            std::initializer_list<uint8_t> i2, std::initializer_list<uint8_t> s)
    {
        int const offset = int(shift.size());
        names.emplace_back(name, offset);
        init[0].insert(init[0].end(), i0);
        init[1].insert(init[1].end(), i1);
        init[2].insert(init[2].end(), i2);
        shift.insert(shift.end(), s);
        return offset;
    }
};

CtxTable sTable;
#define CTX(name, ...) int const name = sTable.add(#name + 2, __VA_ARGS__)
CTX(C_SPLIT, {19, 28, 38, 27, 29, 38, 20, 30, 31}, {11, 35, 53, 12, 6, 30, 13, 15, 31},
    {18, 27, 15, 18, 28, 45, 26, 7, 23}, {12, 13, 8, 8, 13, 12, 5, 9, 9});
CTX(C_SPLIT_QT, {27, 6, 15, 25, 19, 37}, {20, 14, 23, 18, 19, 6}, {26, 36, 38, 18, 34, 21}, {0, 8, 8, 12, 12, 8});
CTX(C_SPLIT_HV, {43, 42, 29, 27, 44}, {43, 35, 37, 34, 52}, {43, 42, 37, 42, 44}, {9, 8, 9, 8, 5});
CTX(C_SPLIT_12, {36, 45, 36, 45}, {43, 37, 21, 22}, {28, 29, 28, 29}, {12, 13, 12, 13});
CTX(C_MODE_CONS, {35, 35}, {25, 12}, {25, 20}, {1, 0});
CTX(C_SKIP, {0, 26, 28}, {57, 59, 45}, {57, 60, 46}, {5, 4, 8});
CTX(C_MERGE_FLAG, {26}, {21}, {6}, {4});
CTX(C_REG_MERGE, {35, 35}, {38, 7}, {46, 15}, {5, 5});
CTX(C_MERGE_IDX, {34}, {20}, {18}, {4});
CTX(C_MMVD_FLAG, {35}, {26}, {25}, {4});
CTX(C_MMVD_IDX, {35}, {43}, {43}, {10});
CTX(C_MMVD_STEP, {35}, {60}, {59}, {0});
CTX(C_SUBBLOCK_MERGE, {35, 35, 35}, {48, 57, 44}, {25, 58, 45}, {4, 4, 4});
CTX(C_AFF_MERGE_IDX, {35}, {5}, {4}, {0});
CTX(C_CIIP, {35}, {57}, {57}, {1});
CTX(C_PRED_MODE, {35, 35}, {40, 35}, {40, 35}, {5, 1});
CTX(C_MPM, {45}, {36}, {44}, {6});
CTX(C_NOT_PLANAR, {13, 28}, {12, 20}, {13, 6}, {1, 5});
CTX(C_MRL, {25, 60}, {25, 58}, {25, 59}, {5, 8});
CTX(C_MIP, {33, 49, 50, 25}, {41, 57, 58, 26}, {56, 57, 50, 26}, {9, 10, 9, 6});
CTX(C_ISP, {33, 43}, {33, 36}, {33, 43}, {9, 2});
CTX(C_CCLM_FLAG, {59}, {34}, {26}, {4});
CTX(C_CCLM_IDX, {27}, {27}, {27}, {9});
CTX(C_CHROMA_MODE, {34}, {25}, {25}, {5});
CTX(C_DQP, {35, 35}, {35, 35}, {35, 35}, {8, 8});
CTX(C_INTER_DIR, {35, 35, 35, 35, 35, 35}, {7, 6, 5, 12, 4, 40}, {14, 13, 5, 4, 3, 40}, {0, 0, 1, 4, 4, 0});
CTX(C_REF_IDX, {35, 35}, {20, 35}, {5, 35}, {0, 4});
CTX(C_AFFINE, {35, 35, 35}, {12, 13, 14}, {19, 13, 6}, {4, 0, 0});
CTX(C_AFFINE_TYPE, {35}, {35}, {35}, {4});
CTX(C_BCW, {35}, {4}, {5}, {1});
CTX(C_MVD, {14, 45}, {44, 43}, {51, 36}, {9, 5});
CTX(C_BDPCM, {19, 35, 1, 27}, {40, 36, 0, 13}, {19, 21, 0, 28}, {1, 4, 1, 0});
CTX(C_ROOT_CBF, {6}, {5}, {12}, {4});
CTX(C_CBF_Y, {15, 12, 5, 7}, {23, 5, 20, 7}, {15, 6, 5, 14}, {5, 1, 8, 9});
CTX(C_CBF_CB, {12, 21}, {25, 28}, {25, 37}, {5, 0});
CTX(C_CBF_CR, {33, 28, 36}, {25, 29, 45}, {9, 36, 45}, {2, 1, 0});
CTX(C_SBF_L, {18, 31}, {25, 30}, {25, 45}, {8, 5});
CTX(C_SBF_C, {25, 15}, {25, 45}, {25, 14}, {5, 8});
CTX(C_SIG_L0, {25, 19, 28, 14, 25, 20, 29, 30, 19, 37, 30, 38}, {17, 41, 42, 29, 25, 49, 43, 37, 33, 58, 51, 30},
    {17, 41, 49, 36, 1, 49, 50, 37, 48, 51, 58, 45}, {12, 9, 9, 10, 9, 9, 9, 10, 8, 8, 8, 10});
CTX(C_SIG_C0, {25, 27, 28, 37, 34, 53, 53, 46}, {17, 34, 35, 21, 41, 59, 60, 38}, {9, 49, 50, 36, 48, 59, 59, 38},
    {12, 12, 9, 13, 4, 5, 8, 9});
CTX(C_SIG_L1, {11, 38, 46, 54, 27, 39, 39, 39, 44, 39, 39, 39}, {19, 38, 38, 46, 34, 54, 54, 39, 6, 39, 39, 39},
    {26, 45, 53, 46, 49, 54, 61, 39, 35, 39, 39, 39}, {9, 13, 8, 8, 8, 8, 8, 5, 8, 0, 0, 0});
CTX(C_SIG_C1, {19, 46, 38, 39, 52, 39, 39, 39}, {35, 45, 53, 54, 44, 39, 39, 39}, {34, 45, 38, 31, 58, 39, 39, 39},
    {8, 12, 12, 8, 4, 0, 0, 0});
CTX(C_SIG_L2, {18, 39, 39, 39, 27, 39, 39, 39, 0, 39, 39, 39}, {19, 39, 54, 39, 19, 39, 39, 39, 56, 39, 39, 39},
    {19, 54, 39, 39, 50, 39, 39, 39, 0, 39, 39, 39}, {8, 8, 8, 8, 8, 0, 4, 4, 0, 0, 0, 0});
CTX(C_SIG_C2, {11, 39, 39, 39, 19, 39, 39, 39}, {34, 38, 62, 39, 26, 39, 39, 39}, {34, 38, 54, 39, 41, 39, 39, 39},
    {8, 8, 8, 8, 4, 0, 0, 0});
CTX(C_PAR_L, {33, 25, 18, 26, 34, 27, 25, 26, 19, 42, 35, 33, 19, 27, 35, 35, 34, 42, 20, 43, 20},
    {18, 17, 33, 18, 26, 42, 25, 33, 26, 42, 27, 25, 34, 42, 42, 35, 26, 27, 42, 20, 20},
    {33, 40, 25, 41, 26, 42, 25, 33, 26, 34, 27, 25, 41, 42, 42, 35, 33, 27, 35, 42, 43},
    {8, 9, 12, 13, 13, 13, 10, 13, 13, 13, 13, 13, 13, 13, 13, 13, 10, 13, 13, 13, 13});
CTX(C_PAR_C, {33, 25, 26, 42, 19, 27, 26, 50, 35, 20, 43}, {25, 25, 26, 11, 19, 27, 33, 42, 35, 35, 43},
    {33, 25, 26, 34, 19, 27, 33, 42, 43, 35, 43}, {8, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13});
CTX(C_GT3_L, {25, 1, 40, 25, 33, 11, 17, 25, 25, 18, 4, 17, 33, 26, 19, 13, 33, 19, 20, 28, 22},
    {17, 0, 1, 17, 25, 18, 0, 9, 25, 33, 34, 9, 25, 18, 26, 20, 25, 18, 19, 27, 29},
    {25, 0, 0, 17, 25, 26, 0, 9, 25, 33, 19, 0, 25, 33, 26, 20, 25, 33, 27, 35, 22},
    {1, 5, 9, 9, 9, 6, 5, 9, 10, 10, 9, 9, 9, 9, 9, 9, 6, 8, 9, 9, 10});
CTX(C_GT3_C, {40, 9, 25, 18, 26, 35, 25, 26, 35, 28, 37}, {17, 9, 25, 10, 18, 4, 17, 33, 19, 20, 29},
    {25, 1, 25, 33, 26, 12, 25, 33, 27, 28, 37}, {1, 5, 8, 8, 9, 6, 6, 9, 8, 8, 9});
CTX(C_GT1_L, {25, 25, 11, 27, 20, 21, 33, 12, 28, 21, 22, 34, 28, 29, 29, 30, 36, 29, 45, 30, 23},
    {0, 17, 26, 19, 35, 21, 25, 34, 20, 28, 29, 33, 27, 28, 29, 22, 34, 28, 44, 37, 38},
    {0, 0, 33, 34, 35, 21, 25, 34, 35, 28, 29, 40, 42, 43, 29, 30, 49, 36, 37, 45, 38},
    {9, 5, 10, 13, 13, 10, 9, 10, 13, 13, 13, 9, 10, 10, 10, 13, 8, 9, 10, 10, 13});
CTX(C_GT1_C, {40, 33, 27, 28, 21, 37, 36, 37, 45, 38, 46}, {0, 25, 19, 20, 13, 14, 57, 44, 30, 30, 23},
    {0, 40, 34, 43, 36, 37, 57, 52, 45, 38, 46}, {8, 8, 9, 12, 12, 10, 5, 9, 9, 9, 13});
CTX(C_LASTX_L, {13, 5, 4, 21, 14, 4, 6, 14, 21, 11, 14, 7, 14, 5, 11, 21, 30, 22, 13, 42},
    {6, 13, 12, 6, 6, 12, 14, 14, 13, 12, 29, 7, 6, 13, 36, 28, 14, 13, 5, 26},
    {6, 6, 12, 14, 6, 4, 14, 7, 6, 4, 29, 7, 6, 6, 12, 28, 7, 13, 13, 35},
    {8, 5, 4, 5, 4, 4, 5, 4, 1, 0, 4, 1, 0, 0, 0, 0, 1, 0, 0, 0});
CTX(C_LASTX_C, {12, 4, 3}, {12, 4, 18}, {19, 5, 4}, {5, 4, 4});
CTX(C_LASTY_L, {13, 5, 4, 6, 13, 11, 14, 6, 5, 3, 14, 22, 6, 4, 3, 6, 22, 29, 20, 34},
    {5, 5, 12, 6, 6, 4, 6, 14, 5, 12, 14, 7, 13, 5, 13, 21, 14, 20, 12, 34},
    {5, 5, 20, 13, 13, 19, 21, 6, 12, 12, 14, 14, 5, 4, 12, 13, 7, 13, 12, 41},
    {8, 5, 8, 5, 5, 4, 5, 5, 4, 0, 5, 4, 1, 0, 0, 1, 4, 0, 0, 0});
CTX(C_LASTY_C, {12, 4, 3}, {11, 4, 18}, {11, 5, 27}, {6, 5, 5});
CTX(C_MVP, {42}, {34}, {34}, {12});
CTX(C_SMVD, {35}, {28}, {28}, {5});
CTX(C_SAO_MERGE, {60}, {60}, {2}, {0});
CTX(C_SAO_TYPE, {13}, {5}, {2}, {4});
CTX(C_LFNST, {28, 52, 42}, {37, 45, 27}, {52, 37, 27}, {9, 9, 10});
// mts_idx bins 0..3, then transform_skip_flag of luma and of chroma
CTX(C_MTS, {29, 0, 28, 0, 25, 9}, {45, 40, 27, 0, 25, 9}, {45, 25, 27, 0, 25, 17}, {8, 0, 9, 0, 1, 1});
CTX(C_SBT, {35, 35}, {56, 57}, {41, 57}, {1, 5});
CTX(C_SBT_QUAD, {35}, {42}, {42}, {10});
CTX(C_SBT_HOR, {35, 35, 35}, {20, 43, 12}, {35, 51, 27}, {8, 4, 1});
CTX(C_SBT_POS, {35}, {28}, {28}, {13});
CTX(C_CQP_FLAG, {35}, {35}, {35}, {8});
CTX(C_CQP_IDX, {35}, {35}, {35}, {8});
CTX(C_AMVR, {35, 34, 35, 35, 35}, {59, 48, 58, 60, 60}, {59, 26, 50, 60, 38}, {0, 5, 0, 0, 4});
CTX(C_ALF_CTB, {62, 39, 39, 54, 39, 39, 31, 39, 39}, {13, 23, 46, 4, 61, 54, 19, 46, 54},
    {33, 52, 46, 25, 61, 54, 25, 61, 54}, {0, 0, 0, 4, 0, 0, 1, 0, 0});
CTX(C_ALF_ALT, {11, 11}, {20, 12}, {11, 26}, {0, 0});
CTX(C_ALF_APS, {46}, {46}, {46}, {0});
CTX(C_CCALF, {18, 30, 31, 18, 30, 31}, {18, 21, 38, 18, 21, 38}, {25, 35, 38, 25, 28, 38}, {4, 1, 4, 4, 1, 4});
CTX(C_IBC, {17, 42, 36}, {0, 57, 44}, {0, 43, 45}, {1, 5, 8});
CTX(C_JCCR, {12, 21, 35}, {27, 36, 45}, {42, 43, 52}, {1, 1, 0});
CTX(C_TS_SBF, {18, 20, 38}, {18, 12, 29}, {18, 35, 45}, {5, 8, 8});
CTX(C_TS_SIG, {25, 28, 38}, {40, 35, 44}, {25, 50, 37}, {13, 13, 8});
CTX(C_TS_PAR, {11}, {3}, {11}, {6});
CTX(C_TS_GTX, {35, 10, 3, 3, 3}, {35, 2, 10, 3, 3}, {35, 3, 4, 4, 5}, {8, 1, 1, 1, 1});
CTX(C_TS_LRG1, {11, 5, 5, 14}, {18, 11, 4, 28}, {19, 11, 4, 6}, {4, 2, 1, 6});
CTX(C_TS_SIGN, {12, 17, 46, 28, 25, 46}, {5, 10, 53, 43, 25, 46}, {35, 25, 46, 28, 33, 38}, {1, 4, 4, 5, 8, 8});
#undef CTX

enum : int { kModeAll = 0, kModeIntra = 1, kModeInter = 2 };
enum Split : uint8_t { NO_SPLIT = 0, QT_SPLIT, BT_HOR, BT_VER, TT_HOR, TT_VER };

constexpr int kMinInGroup[10] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24};
constexpr int kPrefixCtx[8] = {0, 0, 0, 3, 6, 10, 15, 21};
constexpr int kRiceParam[32] = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2, 2,
                                2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3};
constexpr int kQStateNext[4][2] = {{0, 2}, {2, 0}, {1, 3}, {3, 1}};

struct ParseError
{
    std::string text;
};

// Up-right diagonal scans of all block sizes up to 64x64, made once (thread-safe static
// initialisation: decoders run on several threads).
using Scan = std::vector<std::pair<uint8_t, uint8_t>>;
std::vector<Scan> const& AllScans()
{
    static const std::vector<Scan> scans = [] {
        std::vector<Scan> all(49);
        for (int lw = 0; lw < 7; ++lw)
            for (int lh = 0; lh < 7; ++lh) {
                const int w = 1 << lw, h = 1 << lh;
                Scan& s = all[size_t(lw * 7 + lh)];
                for (int line = 0; line < w + h - 1; ++line)
                    for (int y = std::min(line, h - 1); y >= 0; --y)
                        if (line - y < w)
                            s.emplace_back(uint8_t(line - y), uint8_t(y));
            }
        return all;
    }();
    return scans;
}

Scan const& DiagScan(int log2W, int log2H)
{
    return AllScans()[size_t(log2W * 7 + log2H)];
}

int Log2(int v)
{
    int n = 0;
    while ((1 << (n + 1)) <= v)
        ++n;
    return n;
}

// NoBackwardPredFlag: no active reference follows the current picture in output order.
bool NoBackwardPred(RefDistances const& refs)
{
    for (auto const& list : refs.dist)
        for (int d : list)
            if (d < 0)
                return false;
    return true;
}

struct Node
{
    int x, y, w, h; // luma units, also in the chroma tree
    int qt = 0, mtt = 0, depthOffset = 0, partIdx = 0;
    int subdiv = 0;
    bool qgOnY = true, qgOnC = true;
    uint8_t parentSplit = NO_SPLIT;
    int tree = 0;           // 0 luma, 1 chroma (dual tree or local dual tree), 2 single tree
    bool localDual = false; // inside a node whose chroma is coded once at its size
    int modeType = 0;       // kModeAll, or the prediction all coding units inside must use
    int depth = 0;
    uint8_t path[24] = {};
};

struct CuRec
{
    int x, y, w, h;
    uint8_t qt = 0;
    bool mip = false;
    uint8_t isp = 0;
    uint8_t depth = 0;
    uint8_t path[24] = {};
    int mode = kPlanar; // luma intra mode
    bool intra = true;
    bool skip = false;
    bool ibc = false;
    bool affine = false; // affine AMVP or subblock merge
    int qp = 0;          // QpY
};

// A parse's picture-sized buffers, kept for later slices (as the reconstruction's grids are):
// fresh ones would cost their page faults on every picture. Never destroyed: a parse may end
// after the statics at exit.
struct ParserBuffers
{
    std::vector<int> grid[2];
    std::vector<CuRec> cus;
};
std::mutex& gBuffersLock = *new std::mutex;
std::vector<ParserBuffers>& gFreeBuffers = *new std::vector<ParserBuffers>;

class Parser
{
public:
    Parser(SeqParameterSet const& sps, PicParameterSet const& pps, SliceHeaderParams const& sh, ApsLookup const& aps,
           SliceDataSink* sink, RefDistances const* refs)
        : m_sps(sps), m_pps(pps), m_sh(sh), m_aps(aps), m_sink(sink), m_refs(refs)
    {
        std::lock_guard<std::mutex> lock(gBuffersLock);
        if (!gFreeBuffers.empty()) {
            swapBuffers(gFreeBuffers.back());
            gFreeBuffers.pop_back();
        }
        m_cus.clear();
    }
    ~Parser()
    {
        try {
            ParserBuffers kept;
            swapBuffers(kept);
            std::lock_guard<std::mutex> lock(gBuffersLock);
            if (gFreeBuffers.size() < vvcutil::KeptPictureBuffers())
                gFreeBuffers.push_back(std::move(kept));
        } catch (std::bad_alloc const&) {
            // Not kept: a later parse makes its own.
        }
    }
    Parser(Parser const&) = delete;
    Parser& operator=(Parser const&) = delete;

    SliceParseResult run(uint8_t const* data, size_t size)
    {
        SliceParseResult r;
        try {
            setUp();
            parseSlice(data, size, r);
            r.ok = true;
        } catch (ParseError const& e) {
            r.error = e.text;
        } catch (Exception const& e) {
            r.error = e.what();
        }
        r.codingUnits = int(m_cus.size());
        return r;
    }

private:
    [[noreturn]] void fail(std::string const& text) { throw ParseError{text}; }
    void swapBuffers(ParserBuffers& b)
    {
        m_grid[0].swap(b.grid[0]);
        m_grid[1].swap(b.grid[1]);
        m_cus.swap(b.cus);
    }

    unsigned bin(int ctx) { return m_cabac.decodeBin(m_ctx[size_t(ctx)]); }
    unsigned bypass() { return m_cabac.decodeBypass(); }
    uint32_t bypassBins(int n) { return n > 0 ? m_cabac.decodeBypassBins(n) : 0; }
    uint32_t truncBinary(uint32_t numSymbols)
    {
        if (numSymbols <= 1)
            return 0;
        int const k = Log2(int(numSymbols));
        const uint32_t u = (1u << (k + 1)) - numSymbols;
        uint32_t v = bypassBins(k);
        if (v >= u)
            v = ((v << 1) | bypass()) - u;
        return v;
    }
    uint32_t remainder(int rice) { return remainder(rice, 5, 15); }
    uint32_t remainder(int rice, int cutoff, int maxLog2Range)
    {
        int const maxPrefix = 32 - maxLog2Range;
        int prefix = 0;
        unsigned cw = 0;
        do {
            ++prefix;
            cw = bypass();
        } while (cw && prefix < maxPrefix);
        prefix -= 1 - int(cw);
        if (prefix < cutoff)
            return (uint32_t(prefix) << rice) + bypassBins(rice);
        int const length = rice + (prefix == maxPrefix ? maxLog2Range - rice : prefix - cutoff);
        return (((1u << (prefix - cutoff)) + uint32_t(cutoff) - 1) << rice) + bypassBins(length);
    }
    void setUp()
    {
        if (m_sh.sliceType < 0 || m_sh.sliceType > 2)
            fail("unknown slice type");
        m_intraSlice = m_sh.sliceType == 2;
        if (m_sps.chromaFormatIdc != 0 && m_sps.chromaFormatIdc != 1)
            fail("only 4:2:0 and 4:0:0 are parsed");
        m_chroma = m_sps.chromaFormatIdc != 0;
        if (m_sps.palette || m_sps.act)
            fail("palette and ACT are not part of Main 10");
        m_log2Ctb = m_sps.log2CtuSize;
        m_ctb = 1 << m_log2Ctb;
        m_picW = m_pps.picWidth;
        m_picH = m_pps.picHeight;
        m_minCb = 1 << m_sps.log2MinCbSize;
        m_maxTb = m_sps.maxLumaTransform64 ? 64 : 32;
        m_maxTs = 1 << m_sps.log2TransformSkipMaxSize;
        PictureHeaderParams const& ph = m_sh.ph;
        // The partitioning limits: of the luma and chroma trees of intra slices, of the single tree
        // of inter slices ([0]).
        for (int t = 0; t < 2; ++t) {
            int const k = m_intraSlice ? t : 2;
            int const minQtLog2 = m_sps.log2MinCbSize + ph.log2DiffMinQtMinCb[k];
            m_minQt[t] = 1 << minQtLog2;
            m_maxBt[t] = 1 << (minQtLog2 + ph.log2DiffMaxBtMinQt[k]);
            m_maxTt[t] = 1 << (minQtLog2 + ph.log2DiffMaxTtMinQt[k]);
            m_maxMtt[t] = ph.maxMttDepth[k];
        }
        m_qpSubdiv = m_intraSlice ? ph.cuQpDeltaSubdivIntra : ph.cuQpDeltaSubdivInter;
        m_chromaQpSubdiv = m_intraSlice ? ph.cuChromaQpOffsetSubdivIntra : ph.cuChromaQpOffsetSubdivInter;
        if (!m_intraSlice) {
            m_maxSubblockMerge =
                m_sps.affine ? m_sps.maxNumSubblockMergeCand : (m_sps.sbtmvp && ph.temporalMvp ? 1 : 0);
            for (int l = 0; l < 2; ++l)
                m_numRefIdx[l] = m_sh.sliceType == 0 || l == 0 ? m_sh.numRefIdxActive[l] : 0;
            if (m_numRefIdx[0] < 1 || (m_sh.sliceType == 0 && m_numRefIdx[1] < 1))
                fail("inter slice without active references");
            RefDistances const refs = m_refs ? *m_refs : HeaderRefDistances(m_sh, m_sps);
            m_noBackwardPred = NoBackwardPred(refs);
            SymmetricMvdRefIdx(refs, m_refIdxSym);
        }
        m_gridW = (m_picW + 3) >> 2;
        m_gridH = (m_picH + 3) >> 2;
        for (auto& g : m_grid)
            g.assign(size_t(m_gridW) * size_t(m_gridH), -1);
        const size_t numCtus = size_t(m_pps.picWidthInCtbs) * size_t(m_pps.picHeightInCtbs);
        m_ctuDone.assign(numCtus, 0);
        for (auto& f : m_alfFlag)
            f.assign(numCtus, 0);
        for (auto& f : m_ccIdc)
            f.assign(numCtus, 0);
        m_ctuTile.assign(numCtus, 0);
        m_ctuParams.assign(numCtus, CtuFilterParams());
        for (int ty = 0, y0 = 0; ty < m_pps.numTileRows(); y0 += m_pps.tileRowHeight[size_t(ty)], ++ty)
            for (int tx = 0, x0 = 0; tx < m_pps.numTileColumns(); x0 += m_pps.tileColWidth[size_t(tx)], ++tx)
                for (int y = y0; y < y0 + m_pps.tileRowHeight[size_t(ty)]; ++y)
                    for (int x = x0; x < x0 + m_pps.tileColWidth[size_t(tx)]; ++x)
                        m_ctuTile[size_t(y) * size_t(m_pps.picWidthInCtbs) + size_t(x)] =
                            ty * m_pps.numTileColumns() + tx;
        m_sliceQp = m_pps.initQp + m_sh.qpDelta;
        m_qgPred = m_lastQpY = m_sliceQp;
    }

    // A quantization group starts at (x, y): its QP prediction from the QPs of the coding units
    // left of and above it in the same CTU, and otherwise from the last coding unit of the group
    // before (the slice QP at the start of a slice, tile or wavefront row).
    void startQuantGroup(int x, int y)
    {
        m_qpDeltaCoded = false;
        m_cuQpDeltaVal = 0;
        // Groups nested at the same position are one group: the first one of a slice, tile or
        // wavefront row stays first until its first coding unit is decoded (setCuQp).
        QgNeighbours q;
        q.prev = m_firstQg ? m_sliceQp : m_lastQpY;
        CuRec const* left = cuAt(0, x - 1, y);
        CuRec const* above = cuAt(0, x, y - 1);
        q.left = left && ctuOf(x - 1, y) == m_curCtu ? left->qp : kNoQp;
        q.above = above ? above->qp : kNoQp;
        q.aboveInCtu = above && ctuOf(x, y - 1) == m_curCtu;
        int const rx = x >> m_log2Ctb;
        q.firstInTileRow = (x & (m_ctb - 1)) == 0 && (y & (m_ctb - 1)) == 0 &&
                           (rx == 0 || m_ctuTile[size_t(m_curCtu)] != m_ctuTile[size_t(m_curCtu - 1)]);
        m_qgPred = PredictQpY(q);
    }
    // A chroma QP offset group starts: its offsets are 0 until coded.
    void startChromaQpOffsetGroup()
    {
        m_chromaQpOffsetCoded = false;
        std::fill(std::begin(m_cuChromaQpOffset), std::end(m_cuChromaQpOffset), 0);
    }
    // QpY of a coding unit with luma: the group's prediction plus the coded delta, wrapped into
    // the QP range.
    int cuQpY() const
    {
        int const off = 6 * (m_sps.bitDepth - 8);
        return ((m_qgPred + m_cuQpDeltaVal + 64 + 2 * off) % (64 + off)) - off;
    }

    void initContexts()
    {
        // initType 0 for I slices; P and B slices take 1 and 2, swapped by sh_cabac_init_flag.
        int const initType = m_sh.sliceType == 2   ? 0
                             : m_sh.sliceType == 1 ? (m_sh.cabacInit ? 2 : 1)
                                                   : (m_sh.cabacInit ? 1 : 2);
        m_ctx = InitialContexts(initType, m_sliceQp);
    }

    // --- neighbours ---
    int ctuOf(int x, int y) const { return (y >> m_log2Ctb) * m_pps.picWidthInCtbs + (x >> m_log2Ctb); }
    bool ctuUsable(int ctu) const
    {
        return ctu >= 0 && size_t(ctu) < m_ctuDone.size() && m_ctuDone[size_t(ctu)] &&
               m_ctuTile[size_t(ctu)] == m_ctuTile[size_t(m_curCtu)];
    }
    CuRec const* cuAt(int tree, int x, int y) const
    {
        if (x < 0 || y < 0 || x >= m_picW || y >= m_picH)
            return nullptr;
        int const idx = m_grid[tree][size_t(y >> 2) * size_t(m_gridW) + size_t(x >> 2)];
        if (idx < 0)
            return nullptr;
        int const ctu = ctuOf(x, y);
        if (ctu != m_curCtu && !ctuUsable(ctu))
            return nullptr;
        return &m_cus[size_t(idx)];
    }
    void record(CuRec const& cu, int tree)
    {
        int const idx = int(m_cus.size());
        m_cus.push_back(cu);
        int const x1 = std::min(cu.x + cu.w, m_picW), y1 = std::min(cu.y + cu.h, m_picH);
        for (int y = cu.y >> 2; y < (y1 + 3) >> 2; ++y)
            for (int x = cu.x >> 2; x < (x1 + 3) >> 2; ++x)
                m_grid[tree][size_t(y) * size_t(m_gridW) + size_t(x)] = idx;
    }

    // --- slice data ---
    void parseSlice(uint8_t const* data, size_t size, SliceParseResult& r)
    {
        if (m_sh.ctus.empty())
            fail("slice without CTUs");
        size_t start = 0;
        m_cabac.init(data, size);
        initContexts();
        std::vector<ContextModel> wppStore;
        bool wppStored = false;
        for (size_t i = 0; i < m_sh.ctus.size(); ++i) {
            m_curCtu = m_sh.ctus[i];
            int const ctbX = m_curCtu % m_pps.picWidthInCtbs, ctbY = m_curCtu / m_pps.picWidthInCtbs;
            int const tileCol = m_ctuTile[size_t(m_curCtu)] % m_pps.numTileColumns();
            int tileX0 = 0;
            for (int c = 0; c < tileCol; ++c)
                tileX0 += m_pps.tileColWidth[size_t(c)];
            if (m_sps.entropyCodingSync && ctbX == tileX0 && i > 0) {
                int const above = m_curCtu - m_pps.picWidthInCtbs;
                if (wppStored && ctbY > 0 && ctuUsable(above))
                    m_ctx = wppStore;
                else
                    initContexts();
            }
            if (i == 0 || m_ctuTile[size_t(m_curCtu)] != m_ctuTile[size_t(m_sh.ctus[i - 1])] ||
                (m_sps.entropyCodingSync && ctbX == tileX0))
                m_firstQg = true;
            parseCtu(ctbX << m_log2Ctb, ctbY << m_log2Ctb);
            m_ctuDone[size_t(m_curCtu)] = 1;
            ++r.ctus;
            if (m_cabac.overrun())
                fail("slice data ends inside CTU " + std::to_string(m_curCtu));
            if (m_sps.entropyCodingSync && ctbX == tileX0) {
                wppStore = m_ctx;
                wppStored = true;
            }
            bool const last = i + 1 == m_sh.ctus.size();
            bool newSubstream = false;
            if (!last) {
                int const next = m_sh.ctus[i + 1];
                newSubstream = m_ctuTile[size_t(next)] != m_ctuTile[size_t(m_curCtu)] ||
                               (m_sps.entropyCodingSync && next / m_pps.picWidthInCtbs != ctbY);
            }
            if (last || newSubstream) {
                if (!m_cabac.decodeTerminate())
                    fail(std::string(last ? "end_of_slice_one_bit" : "end of a substream") + " is 0 after CTU " +
                         std::to_string(m_curCtu));
                const size_t end = start + (m_cabac.bitPosition() + 7) / 8;
                if (last) {
                    if (end != size)
                        fail("slice data ends at byte " + std::to_string(end) + " of " + std::to_string(size));
                } else {
                    if (end >= size)
                        fail("no data for the next substream");
                    start = end;
                    m_cabac.init(data + start, size - start);
                    if (m_ctuTile[size_t(m_sh.ctus[i + 1])] != m_ctuTile[size_t(m_curCtu)])
                        initContexts();
                }
            }
        }
    }

    void parseCtu(int x0, int y0)
    {
        int const rx = x0 >> m_log2Ctb, ry = y0 >> m_log2Ctb;
        int const left = rx > 0 ? m_curCtu - 1 : -1, above = ry > 0 ? m_curCtu - m_pps.picWidthInCtbs : -1;
        bool const leftOk = left >= 0 && ctuUsable(left), aboveOk = above >= 0 && ctuUsable(above);
        CtuFilterParams& fp = m_ctuParams[size_t(m_curCtu)];
        fp = CtuFilterParams();
        fp.ctuAddr = m_curCtu;
        // SAO
        if (m_sh.saoLuma || m_sh.saoChroma) {
            int merge = 0; // 1 left, 2 above
            if (leftOk && bin(C_SAO_MERGE))
                merge = 1;
            if (!merge && aboveOk && bin(C_SAO_MERGE))
                merge = 2;
            if (merge) {
                CtuFilterParams const& src = m_ctuParams[size_t(merge == 1 ? left : above)];
                for (int c = 0; c < 3; ++c) {
                    if ((c == 0 && !m_sh.saoLuma) || (c > 0 && !m_sh.saoChroma))
                        continue;
                    fp.saoType[c] = src.saoType[c];
                    std::copy(std::begin(src.saoOffset[c]), std::end(src.saoOffset[c]), fp.saoOffset[c]);
                    fp.saoBandPosition[c] = src.saoBandPosition[c];
                    fp.saoEoClass[c] = src.saoEoClass[c];
                }
            } else {
                int const maxOffset = (1 << (std::min(m_sps.bitDepth, 10) - 5)) - 1;
                for (int c = m_sh.saoLuma ? 0 : 1; c <= (m_sh.saoChroma ? 2 : 0); ++c) {
                    int type = 0;
                    if (c != 2) {
                        if (bin(C_SAO_TYPE))
                            type = bypass() ? 2 : 1;
                    } else {
                        type = fp.saoType[1];
                    }
                    fp.saoType[c] = type;
                    if (!type)
                        continue;
                    int* offsets = fp.saoOffset[c];
                    for (int k = 0; k < 4; ++k) {
                        offsets[k] = 0;
                        while (offsets[k] < maxOffset && bypass())
                            ++offsets[k];
                    }
                    if (type == 1) {
                        for (int k = 0; k < 4; ++k)
                            if (offsets[k] && bypass())
                                offsets[k] = -offsets[k];
                        fp.saoBandPosition[c] = int(bypassBins(5));
                    } else {
                        // Edge offsets: the first two are positive, the last two negative.
                        offsets[2] = -offsets[2];
                        offsets[3] = -offsets[3];
                        fp.saoEoClass[c] = c != 2 ? int(bypassBins(2)) : fp.saoEoClass[1];
                    }
                }
            }
        }
        // ALF and CC-ALF
        if (m_sh.alfEnabled) {
            for (int c = 0; c < 3; ++c) {
                if ((c == 1 && !m_sh.alfCbEnabled) || (c == 2 && !m_sh.alfCrEnabled))
                    continue;
                int const ctx =
                    3 * c + (leftOk ? m_alfFlag[c][size_t(left)] : 0) + (aboveOk ? m_alfFlag[c][size_t(above)] : 0);
                unsigned const flag = bin(C_ALF_CTB + ctx);
                m_alfFlag[c][size_t(m_curCtu)] = uint8_t(flag);
                fp.alf[c] = flag;
                if (!flag)
                    continue;
                if (c == 0) {
                    int const numAps = m_sh.numAlfApsIdsLuma;
                    if (numAps > 0 && bin(C_ALF_APS)) {
                        fp.alfUseAps = true;
                        fp.alfFilterIdx = numAps > 1 ? int(truncBinary(uint32_t(numAps))) : 0;
                    } else {
                        fp.alfFilterIdx = int(truncBinary(16));
                    }
                } else {
                    AdaptationParameterSet const* aps = m_aps ? m_aps(0, m_sh.alfApsIdChroma) : nullptr;
                    if (!aps)
                        fail("ALF APS of the chroma filters missing");
                    int decoded = 0;
                    while (decoded < aps->alf.chromaNumAltFilters - 1 && bin(C_ALF_ALT + c - 1))
                        ++decoded;
                    fp.alfAltIdx[c - 1] = decoded;
                }
            }
        }
        for (int c = 1; c < 3; ++c) {
            if (!(c == 1 ? m_sh.alfCcCbEnabled : m_sh.alfCcCrEnabled))
                continue;
            int const ctx = (c == 2 ? 3 : 0) + (leftOk && m_ccIdc[c - 1][size_t(left)] ? 1 : 0) +
                            (aboveOk && m_ccIdc[c - 1][size_t(above)] ? 1 : 0);
            int v = int(bin(C_CCALF + ctx));
            if (v) {
                AdaptationParameterSet const* aps =
                    m_aps ? m_aps(0, c == 1 ? m_sh.alfCcCbApsId : m_sh.alfCcCrApsId) : nullptr;
                if (!aps)
                    fail("ALF APS of the cross-component filters missing");
                int const count = aps->alf.ccNumFilters[c - 1];
                if (count < 1)
                    fail("ALF APS without cross-component filters");
                while (v != count && bypass())
                    ++v;
            }
            m_ccIdc[c - 1][size_t(m_curCtu)] = uint8_t(v);
            fp.ccAlfIdc[c - 1] = v;
        }
        if (m_sink)
            m_sink->ctu(fp);
        if (m_sps.dualTreeIntra && m_chroma && m_intraSlice) {
            dualTreeImplicitSplit(x0, y0, m_ctb, 0);
        } else {
            Node n;
            n.x = x0;
            n.y = y0;
            n.w = n.h = m_ctb;
            n.tree = 2;
            codingTree(n);
        }
    }

    void dualTreeImplicitSplit(int x0, int y0, int size, int cqtDepth)
    {
        if (size > 64) {
            if (m_pps.cuQpDeltaEnabled && 2 * cqtDepth <= m_qpSubdiv)
                startQuantGroup(x0, y0);
            if (m_sh.cuChromaQpOffsetEnabled && 2 * cqtDepth <= m_chromaQpSubdiv)
                startChromaQpOffsetGroup();
            int const half = size / 2;
            for (int k = 0; k < 4; ++k) {
                int const x = x0 + (k & 1) * half, y = y0 + (k >> 1) * half;
                if (x < m_picW && y < m_picH)
                    dualTreeImplicitSplit(x, y, half, cqtDepth + 1);
            }
            return;
        }
        for (int tree = 0; tree < 2; ++tree) {
            Node n;
            n.x = x0;
            n.y = y0;
            n.w = n.h = size;
            n.qt = cqtDepth;
            n.subdiv = 2 * cqtDepth;
            n.tree = tree;
            n.depth = cqtDepth;
            for (int d = 0; d < cqtDepth; ++d)
                n.path[d] = QT_SPLIT;
            codingTree(n);
        }
    }

    // --- partitioning ---
    bool allowBt(Node const& n, bool ver) const
    {
        int const t = n.tree == 1 ? 1 : 0;
        bool const chroma = t == 1;
        int const cw = chroma ? n.w / 2 : n.w, ch = chroma ? n.h / 2 : n.h;
        int const cbSize = ver ? n.w : n.h;
        if (cbSize <= m_minCb || n.w > m_maxBt[t] || n.h > m_maxBt[t] || n.mtt >= m_maxMtt[t] + n.depthOffset)
            return false;
        if (chroma && (cw * ch <= 16 || (cw == 4 && ver)))
            return false;
        if (ver && n.y + n.h > m_picH)
            return false;
        if (ver && n.h > 64 && n.x + n.w > m_picW)
            return false;
        if (!ver && n.w > 64 && n.y + n.h > m_picH)
            return false;
        if (n.x + n.w > m_picW && n.y + n.h > m_picH && n.w > m_minQt[t])
            return false;
        if (!ver && n.x + n.w > m_picW && n.y + n.h <= m_picH)
            return false;
        if (n.mtt > 0 && n.partIdx == 1 && n.parentSplit == (ver ? TT_VER : TT_HOR))
            return false;
        if (ver && n.w <= 64 && n.h > 64)
            return false;
        if (n.modeType == kModeInter && n.w * n.h == 32)
            return false; // no 4x4 inter blocks
        if (!ver && n.w > 64 && n.h <= 64)
            return false;
        return true;
    }
    bool allowTt(Node const& n, bool ver) const
    {
        int const t = n.tree == 1 ? 1 : 0;
        bool const chroma = t == 1;
        int const cw = chroma ? n.w / 2 : n.w, ch = chroma ? n.h / 2 : n.h;
        int const cbSize = ver ? n.w : n.h;
        int const maxTt = std::min(64, m_maxTt[t]);
        if (cbSize <= 2 * m_minCb || n.w > maxTt || n.h > maxTt || n.mtt >= m_maxMtt[t] + n.depthOffset)
            return false;
        if (n.x + n.w > m_picW || n.y + n.h > m_picH)
            return false;
        if (n.modeType == kModeInter && n.w * n.h == 64)
            return false;
        if (chroma && (cw * ch <= 32 || (cw == 8 && ver)))
            return false;
        return true;
    }
    bool allowQt(Node const& n) const
    {
        bool const chroma = n.tree == 1;
        if (n.w <= m_minQt[chroma ? 1 : 0] || n.mtt != 0)
            return false;
        if (chroma && n.w / 2 <= 4)
            return false;
        return true;
    }

    void codingTree(Node n)
    {
        bool const qt = allowQt(n), bh = allowBt(n, false), bv = allowBt(n, true), th = allowTt(n, false),
                   tv = allowTt(n, true);
        bool const any = qt || bh || bv || th || tv;
        bool const inside = n.x + n.w <= m_picW && n.y + n.h <= m_picH;
        if (n.tree != 1 && m_pps.cuQpDeltaEnabled && n.qgOnY && n.subdiv <= m_qpSubdiv)
            startQuantGroup(n.x, n.y);
        if (n.tree != 0 && m_sh.cuChromaQpOffsetEnabled && n.qgOnC && n.subdiv <= m_chromaQpSubdiv)
            startChromaQpOffsetGroup();
        int const grid = n.tree == 1 ? 1 : 0;
        CuRec const* left = cuAt(grid, n.x - 1, n.y);
        CuRec const* above = cuAt(grid, n.x, n.y - 1);
        bool split = any;
        if (any && inside) {
            int const numSplit = (qt ? 2 : 0) + bh + bv + th + tv;
            int const ctx = (left && left->h < n.h) + (above && above->w < n.w) + 3 * ((numSplit - 1) / 2);
            split = bin(C_SPLIT + ctx);
        } else if (!any && !inside) {
            fail("a block crosses the picture boundary but cannot be split");
        }
        if (!split) {
            codingUnit(n);
            return;
        }
        bool const mttAllowed = bh || bv || th || tv;
        bool isQt = qt && !mttAllowed;
        if (qt && mttAllowed) {
            int const ctx = (left && left->qt > n.qt) + (above && above->qt > n.qt) + (n.qt >= 2 ? 3 : 0);
            isQt = bin(C_SPLIT_QT + ctx);
        }
        uint8_t mode = QT_SPLIT;
        if (!isQt) {
            int const numHor = bh + th, numVer = bv + tv;
            bool ver = numHor == 0;
            if (numHor && numVer) {
                int ctx = 0;
                if (numVer == numHor) {
                    if (left && above) {
                        int const dA = n.w / above->w, dL = n.h / left->h;
                        ctx = dA == dL ? 0 : dA < dL ? 1 : 2;
                    }
                } else {
                    ctx = numVer < numHor ? 3 : 4;
                }
                ver = bin(C_SPLIT_HV + ctx);
            }
            bool binary = ver ? bv : bh;
            if ((ver && bv && tv) || (!ver && bh && th))
                binary = bin(C_SPLIT_12 + 2 * ver + (n.mtt <= 1 ? 1 : 0));
            mode = ver ? (binary ? BT_VER : TT_VER) : (binary ? BT_HOR : TT_HOR);
        }
        if (n.depth + 1 >= int(sizeof(n.path)))
            fail("coding tree too deep");
        Node c = n;
        c.depth = n.depth + 1;
        c.path[n.depth] = mode;
        c.parentSplit = mode;
        // Single tree: splits that would make chroma blocks smaller than 16 samples or 2 wide
        // keep the chroma of this node in one block, coded after the luma of its children, all
        // intra. In inter slices a split that makes luma blocks of 32 samples or more may
        // instead keep the children in the single tree, all inter (non_inter_flag 0). Without
        // chroma the children stay in the single tree.
        bool localDual = false;
        if (n.tree == 2 && !n.localDual && n.modeType == kModeAll && m_chroma) {
            int const area = n.w * n.h;
            bool const qtOrTt = mode == QT_SPLIT || mode == TT_HOR || mode == TT_VER;
            bool const narrow = (n.w == 8 && mode == BT_VER) || (n.w == 16 && mode == TT_VER);
            bool const intraOnly = area == (qtOrTt ? 64 : 32);
            localDual = intraOnly || area / (qtOrTt ? 16 : 8) < 16 || narrow;
            if (localDual && !intraOnly && !m_intraSlice) {
                CuRec const* l = cuAt(0, n.x - 1, n.y);
                CuRec const* a = cuAt(0, n.x, n.y - 1);
                localDual = bin(C_MODE_CONS + ((l && l->intra) || (a && a->intra) ? 1 : 0));
                if (!localDual)
                    c.modeType = kModeInter;
            }
            if (localDual) {
                c.tree = 0;
                c.localDual = true;
                c.modeType = kModeIntra;
            }
        }
        auto child = [&](int x, int y, int w, int h, int subdivAdd, int partIdx) {
            if (x >= m_picW || y >= m_picH)
                return;
            Node k = c;
            k.x = x;
            k.y = y;
            k.w = w;
            k.h = h;
            k.subdiv = n.subdiv + subdivAdd;
            k.partIdx = partIdx;
            codingTree(k);
        };
        switch (mode) {
        case QT_SPLIT:
            c.qt = n.qt + 1;
            c.mtt = 0;
            c.depthOffset = 0;
            for (int k = 0; k < 4; ++k)
                child(n.x + (k & 1) * n.w / 2, n.y + (k >> 1) * n.h / 2, n.w / 2, n.h / 2, 2, 0);
            break;
        case BT_VER:
            c.depthOffset += n.x + n.w > m_picW ? 1 : 0;
            c.mtt = n.mtt + 1;
            child(n.x, n.y, n.w / 2, n.h, 1, 0);
            child(n.x + n.w / 2, n.y, n.w / 2, n.h, 1, 1);
            break;
        case BT_HOR:
            c.depthOffset += n.y + n.h > m_picH ? 1 : 0;
            c.mtt = n.mtt + 1;
            child(n.x, n.y, n.w, n.h / 2, 1, 0);
            child(n.x, n.y + n.h / 2, n.w, n.h / 2, 1, 1);
            break;
        case TT_VER:
            c.mtt = n.mtt + 1;
            c.qgOnY = n.qgOnY && n.subdiv + 2 <= m_qpSubdiv;
            c.qgOnC = n.qgOnC && n.subdiv + 2 <= m_chromaQpSubdiv;
            child(n.x, n.y, n.w / 4, n.h, 2, 0);
            child(n.x + n.w / 4, n.y, n.w / 2, n.h, 1, 1);
            child(n.x + 3 * n.w / 4, n.y, n.w / 4, n.h, 2, 2);
            break;
        case TT_HOR:
            c.mtt = n.mtt + 1;
            c.qgOnY = n.qgOnY && n.subdiv + 2 <= m_qpSubdiv;
            c.qgOnC = n.qgOnC && n.subdiv + 2 <= m_chromaQpSubdiv;
            child(n.x, n.y, n.w, n.h / 4, 2, 0);
            child(n.x, n.y + n.h / 4, n.w, n.h / 2, 1, 1);
            child(n.x, n.y + 3 * n.h / 4, n.w, n.h / 4, 2, 2);
            break;
        default: break;
        }
        if (localDual) {
            Node chroma = n;
            chroma.tree = 1;
            chroma.localDual = true;
            codingUnit(chroma);
        }
    }

    bool cclmAllowed(Node const& n) const
    {
        if (m_ctb <= 32 || !m_sps.dualTreeIntra || !m_intraSlice)
            return true;
        int const d64 = m_ctb == 128 ? 1 : 0;
        auto splitAt = [](int depth, uint8_t const* path, int d) { return d < depth ? path[d] : uint8_t(NO_SPLIT); };
        const uint8_t s1 = splitAt(n.depth, n.path, d64), s2 = splitAt(n.depth, n.path, d64 + 1);
        bool allowed =
            s1 == QT_SPLIT || (s1 == BT_HOR && s2 == BT_VER) || s1 == NO_SPLIT || (s1 == BT_HOR && s2 == NO_SPLIT);
        if (!allowed)
            return false;
        CuRec const* luma = nullptr;
        int const idx = m_grid[0][size_t(n.y >> 2) * size_t(m_gridW) + size_t(n.x >> 2)];
        if (idx >= 0)
            luma = &m_cus[size_t(idx)];
        if (!luma)
            return false;
        if (luma->w < 64 || luma->h < 64)
            return splitAt(luma->depth, luma->path, d64) == QT_SPLIT;
        return !luma->isp;
    }

    // --- coding unit ---
    struct CuState
    {
        bool lfnstDcOnly = true, lfnstZeroOut = true, mtsDcOnly = true, mtsZeroOut = true;
        bool firstTs[3] = {}, firstCbf[3] = {};
        bool firstTu = true, chromaSeen = false;
    };

    void codingUnit(Node const& n)
    {
        CuRec cu;
        cu.x = n.x;
        cu.y = n.y;
        cu.w = n.w;
        cu.h = n.h;
        cu.qt = uint8_t(n.qt);
        cu.depth = uint8_t(n.depth);
        std::copy(std::begin(n.path), std::end(n.path), cu.path);
        CuState st;
        resetOut();
        m_out.tree = n.tree;
        m_out.x = n.x;
        m_out.y = n.y;
        m_out.width = n.w;
        m_out.height = n.h;
        m_out.qtDepth = n.qt;
        int const log2W = Log2(n.w), log2H = Log2(n.h);
        bool const hasLuma = n.tree != 1, hasChroma = n.tree != 0 && m_chroma, single = n.tree == 2;
        m_bdpcm = m_bdpcmC = false;
        m_notIntra = false;
        // The skip flag, the prediction mode and the block copy flag, where present; the
        // prediction of chroma tree units is intra. Intra slices have the skip flag only with
        // block copy on (for every luma unit; larger than 64x64 it must be 0).
        bool intra = true;
        if (hasLuma && (!m_intraSlice || m_sps.ibc)) {
            CuRec const* l = cuAt(0, n.x - 1, n.y);
            CuRec const* a = cuAt(0, n.x, n.y - 1);
            bool const intraOnly = (n.w == 4 && n.h == 4) || n.modeType == kModeIntra;
            if (!intraOnly || m_sps.ibc)
                cu.skip = bin(C_SKIP + (l && l->skip) + (a && a->skip));
            if (!m_intraSlice) {
                if (!cu.skip && !(n.w == 4 && n.h == 4) && n.modeType == kModeAll)
                    intra = bin(C_PRED_MODE + ((l && l->intra) || (a && a->intra) ? 1 : 0));
                else
                    intra = intraOnly;
            }
            bool const ibcCoded = (m_intraSlice ? !cu.skip : !intra || (intraOnly && !cu.skip)) && n.w <= 64 &&
                                  n.h <= 64 && n.modeType != kModeInter && m_sps.ibc;
            if (ibcCoded)
                cu.ibc = bin(C_IBC + (l && l->ibc) + (a && a->ibc));
            else
                cu.ibc = cu.skip && (m_intraSlice || intraOnly);
            if (cu.skip && m_intraSlice && (n.w > 64 || n.h > 64))
                fail("skipped unit larger than 64x64 in an intra slice");
        }
        if (cu.ibc || !intra) {
            cu.intra = false;
            m_notIntra = true;
            m_out.inter.skip = cu.skip;
            if (cu.ibc) {
                m_out.ibc = true;
                m_out.predMode = CuPredMode::Ibc;
                intraBlockCopy(n, cu, st);
            } else {
                m_out.predMode = CuPredMode::Inter;
                interUnit(n, cu, st);
            }
            setCuQp(cu, n);
            record(cu, 0);
            if (m_sink)
                m_sink->codingUnit(m_out);
            return;
        }
        if (hasLuma) {
            bool bdpcm = false;
            if (m_sps.bdpcm && n.w <= m_maxTs && n.h <= m_maxTs) {
                bdpcm = bin(C_BDPCM + 0);
                if (bdpcm)
                    m_out.bdpcmVertical = bin(C_BDPCM + 1);
            }
            m_out.bdpcm = bdpcm;
            int mrl = 0;
            if (!bdpcm) {
                if (m_sps.mip) {
                    CuRec const* l = cuAt(0, n.x - 1, n.y);
                    CuRec const* a = cuAt(0, n.x, n.y - 1);
                    int const ctx = std::abs(log2W - log2H) > 1 ? 3 : (l && l->mip) + (a && a->mip);
                    cu.mip = bin(C_MIP + ctx);
                }
                if (cu.mip) {
                    m_out.mip = true;
                    m_out.mipTransposed = bypass();
                    int const numModes = (n.w == 4 && n.h == 4)                             ? 16
                                         : (n.w == 4 || n.h == 4 || (n.w == 8 && n.h == 8)) ? 8
                                                                                            : 6;
                    m_out.mipMode = int(truncBinary(uint32_t(numModes)));
                } else {
                    if (m_sps.mrl && (n.y % m_ctb) > 0 && bin(C_MRL + 0))
                        mrl = 1 + int(bin(C_MRL + 1));
                    if (m_sps.isp && mrl == 0 && n.w <= m_maxTb && n.h <= m_maxTb && n.w * n.h > 16 && bin(C_ISP + 0))
                        cu.isp = uint8_t(1 + bin(C_ISP + 1));
                    // Most probable modes from the left (bottom-most) and above (right-most)
                    // neighbours; the above one only within the CTU row.
                    auto neighbourMode = [](CuRec const* c) {
                        return c && c->intra && !c->mip ? c->mode : int(kPlanar);
                    };
                    int const modeA = neighbourMode(cuAt(0, n.x - 1, n.y + n.h - 1));
                    int const modeB = (n.y - 1) < ((n.y >> m_log2Ctb) << m_log2Ctb)
                                          ? int(kPlanar)
                                          : neighbourMode(cuAt(0, n.x + n.w - 1, n.y - 1));
                    int mpmList[6];
                    MostProbableModes(modeA, modeB, mpmList);
                    bool const mpm = mrl != 0 || bin(C_MPM);
                    if (mpm) {
                        bool const notPlanar = mrl != 0 || bin(C_NOT_PLANAR + (cu.isp ? 0 : 1));
                        int idx = 0;
                        if (notPlanar) {
                            idx = 1;
                            while (idx < 5 && bypass())
                                ++idx;
                        }
                        cu.mode = mpmList[idx];
                    } else {
                        int mode = int(truncBinary(61));
                        std::sort(mpmList, mpmList + 6);
                        for (int k = 0; k < 6; ++k)
                            mode += mode >= mpmList[k] ? 1 : 0;
                        cu.mode = mode;
                    }
                }
            } else {
                cu.mode = m_out.bdpcmVertical ? kVer : kHor;
            }
            m_out.refLine = mrl == 2 ? 3 : mrl;
            m_out.isp = cu.isp;
            m_out.lumaMode = cu.mode;
            m_bdpcm = bdpcm;
        }
        if (hasChroma) {
            bool bdpcmC = false;
            bool vertical = false;
            if (m_sps.bdpcm && n.w / 2 <= m_maxTs && n.h / 2 <= m_maxTs) {
                bdpcmC = bin(C_BDPCM + 2);
                if (bdpcmC)
                    vertical = bin(C_BDPCM + 3);
            }
            m_out.bdpcmChroma = bdpcmC;
            m_out.bdpcmChromaVertical = vertical;
            if (bdpcmC) {
                m_out.chromaMode = vertical ? kVer : kHor;
            } else {
                // The luma mode at the centre of the block (planar for MIP).
                int dm = kPlanar;
                if (single) {
                    dm = cu.mip ? int(kPlanar) : cu.mode;
                } else {
                    int const cx = std::min(n.x + n.w / 2, m_picW - 1), cy = std::min(n.y + n.h / 2, m_picH - 1);
                    int const li = m_grid[0][size_t(cy >> 2) * size_t(m_gridW) + size_t(cx >> 2)];
                    if (li >= 0 && m_cus[size_t(li)].ibc)
                        dm = kDc;
                    else if (li >= 0 && !m_cus[size_t(li)].mip)
                        dm = m_cus[size_t(li)].mode;
                }
                bool cclm = false;
                if (m_sps.cclm && cclmAllowed(n)) {
                    cclm = bin(C_CCLM_FLAG);
                    if (cclm)
                        m_out.chromaMode = bin(C_CCLM_IDX) ? (bypass() ? kModeTCclm : kModeLCclm) : kModeLtCclm;
                }
                if (!cclm) {
                    if (bin(C_CHROMA_MODE)) {
                        static int const kModes[4] = {kPlanar, kVer, kHor, kDc};
                        int const mode = kModes[bypassBins(2)];
                        m_out.chromaMode = mode == dm ? 66 : mode;
                    } else {
                        m_out.chromaMode = dm;
                    }
                }
            }
            m_bdpcmC = bdpcmC;
        }
        int const numParts = cu.isp ? ((n.w == 4 && n.h == 8) || (n.w == 8 && n.h == 4) ? 2 : 4) : 1;
        // Transform tree: sub-partitions, or implicit splits of blocks above the largest transform.
        if (cu.isp) {
            bool inferCbf = true, prevCbf = false;
            for (int p = 0; p < numParts; ++p) {
                int const tw = cu.isp == 2 ? n.w / numParts : n.w, th = cu.isp == 1 ? n.h / numParts : n.h;
                transformUnit(n, n.x + (cu.isp == 2 ? p * tw : 0), n.y + (cu.isp == 1 ? p * th : 0), tw, th, st, p,
                              numParts, inferCbf, prevCbf);
            }
        } else {
            bool inferCbf = false, prevCbf = false;
            transformTree(n, n.x, n.y, n.w, n.h, st, inferCbf, prevCbf);
        }
        // LFNST and MTS
        int const lfnstW = n.tree == 1 ? n.w / 2 : cu.isp == 2 ? n.w / numParts : n.w;
        int const lfnstH = n.tree == 1 ? n.h / 2 : cu.isp == 1 ? n.h / numParts : n.h;
        bool const notTs = (!hasLuma || !st.firstCbf[0] || !st.firstTs[0]) &&
                           (!hasChroma || ((!st.firstCbf[1] || !st.firstTs[1]) && (!st.firstCbf[2] || !st.firstTs[2])));
        if (m_sps.lfnst && std::min(lfnstW, lfnstH) >= 4 && notTs &&
            (n.tree == 1 || !cu.mip || std::min(lfnstW, lfnstH) >= 16) && std::max(n.w, n.h) <= m_maxTb &&
            (cu.isp || !st.lfnstDcOnly) && st.lfnstZeroOut) {
            m_out.lfnstIdx = int(bin(C_LFNST + (single ? 0 : 1)));
            if (m_out.lfnstIdx)
                m_out.lfnstIdx += int(bin(C_LFNST + 2));
        }
        if (hasLuma && !cu.isp && m_sps.explicitMtsIntra)
            mtsIdx(n, st);
        setCuQp(cu, n);
        record(cu, n.tree == 1 ? 1 : 0);
        if (m_sink)
            m_sink->codingUnit(m_out);
    }

    // The QPs of the finished coding unit: QpY of a luma or single-tree unit, or for a chroma
    // tree unit the QpY of the luma unit at its centre; the chroma QP offsets in force.
    void setCuQp(CuRec& cu, Node const& n)
    {
        if (n.tree != 1) {
            cu.qp = m_pps.cuQpDeltaEnabled ? cuQpY() : m_sliceQp;
            m_lastQpY = cu.qp;
            m_firstQg = false;
        } else {
            CuRec const* l = cuAt(0, std::min(n.x + n.w / 2, m_picW - 1), std::min(n.y + n.h / 2, m_picH - 1));
            cu.qp = l ? l->qp : m_sliceQp;
        }
        m_out.qpY = cu.qp;
        std::copy(std::begin(m_cuChromaQpOffset), std::end(m_cuChromaQpOffset), m_out.chromaQpOffset);
    }

    // A coding unit predicted by block copy from the current picture: merge index or vector
    // difference, then (unless skipped) the residual.
    void intraBlockCopy(Node const& n, CuRec const& cu, CuState& st)
    {
        int const numMerge = m_sps.maxNumIbcMergeCand;
        if (cu.skip) {
            m_out.ibcMerge = true;
            m_out.ibcCandIdx = truncUnary(numMerge - 1, C_MERGE_IDX);
            return;
        }
        bool const merge = bin(C_MERGE_FLAG);
        m_out.ibcMerge = merge;
        if (merge) {
            m_out.ibcCandIdx = truncUnary(numMerge - 1, C_MERGE_IDX);
        } else {
            mvdCoding(m_out.ibcMvd);
            if (numMerge > 1)
                m_out.ibcCandIdx = int(bin(C_MVP));
            // Whole samples, or with the precision flag four samples.
            if (m_sps.amvr && (m_out.ibcMvd[0] || m_out.ibcMvd[1]) && bin(C_AMVR + 1))
                m_out.ibcAmvrShift = 6;
        }
        bool const coded = merge || bin(C_ROOT_CBF);
        if (!coded)
            return;
        bool inferCbf = false, prevCbf = false;
        transformTree(n, n.x, n.y, n.w, n.h, st, inferCbf, prevCbf);
    }

    // A truncated unary value up to `cMax` whose first bin has the context `ctx`, the others
    // bypass coded.
    int truncUnary(int cMax, int ctx)
    {
        if (cMax <= 0 || !bin(ctx))
            return 0;
        int v = 1;
        while (v < cMax && bypass())
            ++v;
        return v;
    }

    // mvd_coding: the two components of a motion or block vector difference.
    void mvdCoding(int mvd[2])
    {
        unsigned g0[2], g1[2] = {};
        g0[0] = bin(C_MVD + 0);
        g0[1] = bin(C_MVD + 0);
        for (int k = 0; k < 2; ++k)
            if (g0[k])
                g1[k] = bin(C_MVD + 1);
        for (int k = 0; k < 2; ++k) {
            mvd[k] = 0;
            if (g0[k]) {
                int const abs = g1[k] ? int(remainder(1, 0, 17)) + 2 : 1; // abs_mvd_minus2: EG1
                mvd[k] = bypass() ? -abs : abs;
            }
        }
    }

    // mts_idx of a luma unit whose residual allows it (no LFNST, no transform skip, up to 32x32,
    // coefficients beyond DC only in the top-left 16x16).
    void mtsIdx(Node const& n, CuState const& st)
    {
        if (m_out.lfnstIdx != 0 || st.firstTs[0] || std::max(n.w, n.h) > 32 || !st.mtsZeroOut || st.mtsDcOnly)
            return;
        if (bin(C_MTS + 0)) {
            m_out.mtsIdx = 1;
            for (int k = 1; k < 4 && bin(C_MTS + k); ++k)
                ++m_out.mtsIdx;
        }
    }

    // An inter coding unit: merge data or the motion vector differences, then the residual
    // (cu_coded_flag, SBT, the transform tree and the inter MTS index).
    void interUnit(Node const& n, CuRec& cu, CuState& st)
    {
        InterUnitData& d = m_out.inter;
        bool const merge = cu.skip || bin(C_MERGE_FLAG);
        if (merge)
            mergeData(n, cu, d);
        else
            motionVectorData(n, cu, d);
        d.cuCoded = !cu.skip && (merge || bin(C_ROOT_CBF));
        if (!d.cuCoded)
            return;
        if (m_sps.sbt && d.merge != MergeKind::Ciip && n.w <= m_maxTb && n.h <= m_maxTb) {
            bool const verH = n.w >= 8, verQ = n.w >= 16, horH = n.h >= 8, horQ = n.h >= 16;
            if (verH || horH)
                d.sbt = bin(C_SBT + (n.w * n.h <= 256 ? 1 : 0));
            if (d.sbt) {
                if ((verH || horH) && (verQ || horQ))
                    d.sbtQuad = bin(C_SBT_QUAD);
                if ((d.sbtQuad && verQ && horQ) || (!d.sbtQuad && verH && horH))
                    d.sbtHorizontal = bin(C_SBT_HOR + (n.w == n.h ? 0 : n.w < n.h ? 1 : 2));
                else
                    d.sbtHorizontal = d.sbtQuad ? horQ : horH;
                d.sbtPos = int(bin(C_SBT_POS));
            }
        }
        bool inferCbf = false, prevCbf = false;
        if (d.sbt) {
            // Two transform units: the first a quarter, a half or three quarters of the unit;
            // only the one at sbtPos has a residual.
            int const fourths = d.sbtQuad ? (d.sbtPos ? 3 : 1) : 2;
            m_sbtSkip[0] = d.sbtPos == 1;
            m_sbtSkip[1] = d.sbtPos == 0;
            if (d.sbtHorizontal) {
                int const h0 = n.h * fourths / 4;
                transformUnit(n, n.x, n.y, n.w, h0, st, 0, 1, inferCbf, prevCbf, 0);
                transformUnit(n, n.x, n.y + h0, n.w, n.h - h0, st, 0, 1, inferCbf, prevCbf, 1);
            } else {
                int const w0 = n.w * fourths / 4;
                transformUnit(n, n.x, n.y, w0, n.h, st, 0, 1, inferCbf, prevCbf, 0);
                transformUnit(n, n.x + w0, n.y, n.w - w0, n.h, st, 0, 1, inferCbf, prevCbf, 1);
            }
            m_sbtSkip[0] = m_sbtSkip[1] = false;
        } else {
            transformTree(n, n.x, n.y, n.w, n.h, st, inferCbf, prevCbf);
            if (m_sps.explicitMtsInter)
                mtsIdx(n, st);
        }
    }

    // merge_data of an inter unit: subblock, regular, MMVD, CIIP or GPM merge.
    void mergeData(Node const& n, CuRec& cu, InterUnitData& d)
    {
        CuRec const* l = cuAt(0, n.x - 1, n.y);
        CuRec const* a = cuAt(0, n.x, n.y - 1);
        if (m_maxSubblockMerge > 0 && n.w >= 8 && n.h >= 8 &&
            bin(C_SUBBLOCK_MERGE + (l && l->affine) + (a && a->affine))) {
            d.merge = MergeKind::Subblock;
            d.affine = cu.affine = true;
            d.mergeIdx = truncUnary(m_maxSubblockMerge - 1, C_AFF_MERGE_IDX);
            return;
        }
        int const maxMerge = m_sps.maxNumMergeCand;
        bool const below128 = n.w < 128 && n.h < 128;
        bool const ciipAllowed = m_sps.ciip && !cu.skip && n.w * n.h >= 64 && below128;
        bool const gpmAllowed =
            m_sps.gpm && m_sh.sliceType == 0 && n.w >= 8 && n.h >= 8 && n.w < 8 * n.h && n.h < 8 * n.w && below128;
        bool regular = true;
        if (ciipAllowed || gpmAllowed)
            regular = bin(C_REG_MERGE + (cu.skip ? 0 : 1));
        if (regular) {
            if (m_sps.mmvd && bin(C_MMVD_FLAG)) {
                d.merge = MergeKind::Mmvd;
                if (maxMerge > 1)
                    d.mmvdCandFlag = int(bin(C_MMVD_IDX));
                d.mmvdDistanceIdx = truncUnary(7, C_MMVD_STEP);
                d.mmvdDirectionIdx = int(bypassBins(2));
            } else {
                d.merge = MergeKind::Regular;
                d.mergeIdx = truncUnary(maxMerge - 1, C_MERGE_IDX);
            }
            return;
        }
        bool const ciip = ciipAllowed && gpmAllowed ? bin(C_CIIP) != 0 : ciipAllowed;
        if (ciip) {
            d.merge = MergeKind::Ciip;
            d.mergeIdx = truncUnary(maxMerge - 1, C_MERGE_IDX);
            return;
        }
        d.merge = MergeKind::Gpm;
        int const maxGpm = m_sps.maxNumGpmCand;
        if (maxGpm < 2)
            fail("geometric partitioning without two merge candidates");
        d.gpmSplitIdx = int(bypassBins(6));
        d.gpmCand[0] = truncUnary(maxGpm - 1, C_MERGE_IDX);
        int const second = maxGpm > 2 ? truncUnary(maxGpm - 2, C_MERGE_IDX) : 0;
        d.gpmCand[1] = second + (second >= d.gpmCand[0] ? 1 : 0);
    }

    // The motion of a unit that is not merged: lists, affine model, reference indices, vector
    // differences and predictor flags, the precision (AMVR) and the bi-prediction weights.
    void motionVectorData(Node const& n, CuRec& cu, InterUnitData& d)
    {
        PictureHeaderParams const& ph = m_sh.ph;
        if (m_sh.sliceType == 0) {
            if (n.w + n.h > 12 && bin(C_INTER_DIR + 7 - ((1 + Log2(n.w) + Log2(n.h)) >> 1)))
                d.interPredIdc = kPredBi;
            else
                d.interPredIdc = bin(C_INTER_DIR + 5) ? kPredL1 : kPredL0;
        }
        if (m_sps.affine && n.w >= 16 && n.h >= 16) {
            CuRec const* l = cuAt(0, n.x - 1, n.y);
            CuRec const* a = cuAt(0, n.x, n.y - 1);
            d.affine = cu.affine = bin(C_AFFINE + (l && l->affine) + (a && a->affine));
            if (d.affine && m_sps.affine6Param)
                d.affine6 = bin(C_AFFINE_TYPE);
        }
        bool const bi = d.interPredIdc == kPredBi;
        if (m_sps.smvd && !ph.mvdL1Zero && bi && !d.affine && m_refIdxSym[0] >= 0 && m_refIdxSym[1] >= 0)
            d.symMvd = bin(C_SMVD);
        int const numCp = d.affine ? (d.affine6 ? 3 : 2) : 1;
        for (int l = 0; l < 2; ++l) {
            if (d.interPredIdc == (l == 0 ? kPredL1 : kPredL0))
                continue;
            if (d.symMvd)
                d.refIdx[l] = m_refIdxSym[l];
            else {
                // ref_idx_lX: truncated unary, two context coded bins.
                int const cMax = m_numRefIdx[l] - 1;
                int v = 0;
                while (v < cMax && (v < 2 ? bin(C_REF_IDX + v) : bypass()))
                    ++v;
                d.refIdx[l] = v;
            }
            if (l == 1 && ph.mvdL1Zero && bi) {
                // No list-1 differences.
            } else if (l == 1 && d.symMvd) {
                d.mvd[1][0][0] = -d.mvd[0][0][0];
                d.mvd[1][0][1] = -d.mvd[0][0][1];
            } else {
                for (int c = 0; c < numCp; ++c)
                    mvdCoding(d.mvd[l][c]);
            }
            d.mvpFlag[l] = bin(C_MVP);
        }
        bool nonZero = false;
        for (auto const& list : d.mvd)
            for (auto const& cp : list)
                nonZero = nonZero || cp[0] != 0 || cp[1] != 0;
        d.amvrShift = 2;
        if (nonZero && (d.affine ? m_sps.affineAmvr : m_sps.amvr) && bin(C_AMVR + (d.affine ? 2 : 0))) {
            if (d.affine)
                d.amvrShift = bin(C_AMVR + 3) ? 4 : 0;
            else
                d.amvrShift = !bin(C_AMVR + 4) ? 3 : bin(C_AMVR + 1) ? 6 : 4;
        }
        d.halfPelFilter = !d.affine && d.amvrShift == 3;
        for (auto& list : d.mvd)
            for (auto& cp : list)
                for (int& v : cp)
                    v = int(uint32_t(v) << d.amvrShift);
        if (m_sps.bcw && bi && !m_sh.weights.weighted(0, d.refIdx[0]) && !m_sh.weights.weighted(1, d.refIdx[1]) &&
            n.w * n.h >= 256)
            d.bcwIdx = truncUnary(m_noBackwardPred ? 4 : 2, C_BCW);
    }

    void transformTree(Node const& n, int x, int y, int w, int h, CuState& st, bool& inferCbf, bool& prevCbf)
    {
        if (w > m_maxTb || h > m_maxTb) {
            bool const verFirst = w > m_maxTb && w > h;
            int const tw = verFirst ? w / 2 : w, th = verFirst ? h : h / 2;
            transformTree(n, x, y, tw, th, st, inferCbf, prevCbf);
            transformTree(n, verFirst ? x + tw : x, verFirst ? y : y + th, tw, th, st, inferCbf, prevCbf);
            return;
        }
        transformUnit(n, x, y, w, h, st, 0, 1, inferCbf, prevCbf);
    }

    // A transform unit of any tree; with ISP `part` of `numParts` sub-partitions (the chroma of a
    // single tree goes with the last one, at the size of the whole coding unit). With SBT
    // `subTu` is the unit's index; the one without residual codes nothing.
    void transformUnit(Node const& n, int x, int y, int w, int h, CuState& st, int part, int numParts, bool& inferCbf,
                       bool& prevCbf, int subTu = 0)
    {
        if (m_sbtSkip[subTu])
            return;
        bool const isp = numParts > 1;
        bool const hasLuma = n.tree != 1;
        bool const chromaHere = n.tree != 0 && m_chroma && (!isp || part == numParts - 1);
        int const cx = isp ? n.x / 2 : x / 2, cy = isp ? n.y / 2 : y / 2;
        int const cw = isp ? n.w / 2 : w / 2, ch = isp ? n.h / 2 : h / 2;
        bool cb = false, cr = false;
        if (chromaHere) {
            cb = bin(C_CBF_CB + (m_bdpcmC ? 1 : 0));
            cr = bin(C_CBF_CR + (m_bdpcmC ? 2 : (cb ? 1 : 0)));
        }
        bool cbfY = false;
        if (hasLuma) {
            if (isp) {
                cbfY = true;
                if (part < numParts - 1 || !inferCbf)
                    cbfY = bin(C_CBF_Y + 2 + (prevCbf ? 1 : 0));
                inferCbf = inferCbf && !cbfY;
                prevCbf = cbfY;
            } else if (m_notIntra && !(chromaHere && (cb || cr)) && n.w <= m_maxTb && n.h <= m_maxTb) {
                cbfY = true; // a coded block copy with no chroma residual has luma residual
            } else {
                cbfY = bin(C_CBF_Y + (m_bdpcm ? 1 : 0));
            }
        }
        if (hasLuma && m_pps.cuQpDeltaEnabled && !m_qpDeltaCoded &&
            (n.w > 64 || n.h > 64 || cbfY || (chromaHere && (cb || cr)))) {
            int v = 0;
            if (bin(C_DQP + 0)) {
                v = 1;
                while (v < 5 && bin(C_DQP + 1))
                    ++v;
            }
            if (v >= 5) {
                int k = 0;
                while (bypass())
                    if (++k > 31)
                        fail("cu_qp_delta_abs out of range");
                v += int(((1u << k) - 1) + bypassBins(k));
            }
            m_cuQpDeltaVal = v > 0 && bypass() ? -v : v;
            int const off = 6 * (m_sps.bitDepth - 8);
            if (m_cuQpDeltaVal < -(32 + off / 2) || m_cuQpDeltaVal > 31 + off / 2)
                fail("cu_qp_delta out of range");
            m_qpDeltaCoded = true;
        }
        // The chroma QP offsets come with the first chroma residual of their group, or with the
        // first transform unit of a coding unit larger than 64.
        if (n.tree != 0 && (n.w > 64 || n.h > 64 || (chromaHere && (cb || cr))) && m_sh.cuChromaQpOffsetEnabled &&
            !m_chromaQpOffsetCoded) {
            std::fill(std::begin(m_cuChromaQpOffset), std::end(m_cuChromaQpOffset), 0);
            if (bin(C_CQP_FLAG)) {
                if (m_pps.cbQpOffsetList.empty())
                    fail("chroma QP offset without an offset list");
                size_t i = 0;
                while (m_pps.cbQpOffsetList.size() > 1 && i + 1 < m_pps.cbQpOffsetList.size() && bin(C_CQP_IDX))
                    ++i;
                m_cuChromaQpOffset[0] = m_pps.cbQpOffsetList[i];
                m_cuChromaQpOffset[1] = i < m_pps.crQpOffsetList.size() ? m_pps.crQpOffsetList[i] : 0;
                m_cuChromaQpOffset[2] = i < m_pps.jointCbCrQpOffsetList.size() ? m_pps.jointCbCrQpOffsetList[i] : 0;
            }
            m_chromaQpOffsetCoded = true;
        }
        bool joint = false;
        if (chromaHere && m_sps.jointCbCr && (m_notIntra ? (cb && cr) : (cb || cr)))
            joint = bin(C_JCCR + (2 * cb + cr - 1));
        bool tsY = false, ts[2] = {};
        if (cbfY) {
            tsY = m_bdpcm;
            if (m_sps.transformSkip && !m_bdpcm && w <= m_maxTs && h <= m_maxTs && !isp && !m_out.inter.sbt)
                tsY = bin(C_MTS + 4);
            TransformBlock& b = newBlock(0, x, y, w, h, tsY);
            if (!tsY || m_sh.tsResidualCodingDisabled)
                residual(Log2(w), Log2(h), 0, tsY, st, b);
            else
                residualTs(Log2(w), Log2(h), 0, m_bdpcm, b);
        }
        for (int c = 1; c <= 2 && chromaHere; ++c) {
            bool const coded = c == 1 ? cb : cr && !(cb && joint);
            if (!coded)
                continue;
            bool t = m_bdpcmC;
            if (m_sps.transformSkip && !m_bdpcmC && cw <= m_maxTs && ch <= m_maxTs && !m_out.inter.sbt)
                t = bin(C_MTS + 5);
            ts[c - 1] = t;
            TransformBlock& b = newBlock(c, cx, cy, cw, ch, t);
            b.jointCbCr = joint ? 2 * cb + cr : 0;
            if (!t || m_sh.tsResidualCodingDisabled)
                residual(Log2(cw), Log2(ch), c, t, st, b);
            else
                residualTs(Log2(cw), Log2(ch), c, m_bdpcmC, b);
        }
        if (st.firstTu) {
            st.firstCbf[0] = cbfY;
            st.firstTs[0] = tsY;
            st.firstTu = false;
        }
        if (chromaHere && !st.chromaSeen) {
            st.firstCbf[1] = cb;
            st.firstCbf[2] = cr;
            st.firstTs[1] = ts[0];
            st.firstTs[2] = ts[1];
            st.chromaSeen = true;
        }
    }

    // Starts the next coding unit: m_out cleared, its blocks' level buffers kept for reuse.
    void resetOut()
    {
        std::vector<TransformBlock> blocks;
        blocks.swap(m_out.blocks);
        for (TransformBlock& b : blocks)
            m_levelPool.push_back(std::move(b.levels));
        blocks.clear();
        m_out = CodingUnit();
        m_out.blocks.swap(blocks);
    }

    TransformBlock& newBlock(int cIdx, int x, int y, int w, int h, bool ts)
    {
        m_out.blocks.emplace_back();
        TransformBlock& b = m_out.blocks.back();
        if (!m_levelPool.empty()) {
            b.levels = std::move(m_levelPool.back());
            m_levelPool.pop_back();
        }
        b.cIdx = cIdx;
        b.x = x;
        b.y = y;
        b.width = w;
        b.height = h;
        b.transformSkip = ts;
        b.levels.assign(size_t(w) * size_t(h), 0);
        return b;
    }

    // --- residual coding ---
    void residual(int log2W, int log2H, int cIdx, bool ts, CuState& st, TransformBlock& out)
    {
        bool const luma = cIdx == 0;
        // Coefficients only in the top-left 32x32, or with SBT of a 32-sample luma side 16.
        bool const sbtZo = luma && m_sps.mts && m_out.inter.sbt;
        int const log2ZoW = sbtZo && log2W == 5 && log2H < 6 ? 4 : std::min(log2W, 5);
        int const log2ZoH = sbtZo && log2H == 5 && log2W < 6 ? 4 : std::min(log2H, 5);
        int const maxPx = log2ZoW > 0 ? (log2ZoW << 1) - 1 : 0, maxPy = log2ZoH > 0 ? (log2ZoH << 1) - 1 : 0;
        int const offX = luma ? kPrefixCtx[log2W] : 0, offY = luma ? kPrefixCtx[log2H] : 0;
        int const shiftX = luma ? (log2W + 1) >> 2 : std::min(std::max((1 << log2W) >> 3, 0), 2);
        int const shiftY = luma ? (log2H + 1) >> 2 : std::min(std::max((1 << log2H) >> 3, 0), 2);
        int px = 0, py = 0;
        while (px < maxPx && bin((luma ? C_LASTX_L : C_LASTX_C) + offX + (px >> shiftX)))
            ++px;
        while (py < maxPy && bin((luma ? C_LASTY_L : C_LASTY_C) + offY + (py >> shiftY)))
            ++py;
        int const lastX = px > 3 ? kMinInGroup[px] + int(bypassBins((px - 2) >> 1)) : px;
        int const lastY = py > 3 ? kMinInGroup[py] + int(bypassBins((py - 2) >> 1)) : py;

        int const w = 1 << log2ZoW, h = 1 << log2ZoH;
        if (lastX >= w || lastY >= h)
            fail("last significant coefficient outside the block");
        int log2SbW = std::min(log2ZoW, log2ZoH) < 2 ? 1 : 2, log2SbH = log2SbW;
        if (log2ZoW + log2ZoH > 3) {
            if (log2ZoW < 2) {
                log2SbW = log2ZoW;
                log2SbH = 4 - log2SbW;
            } else if (log2ZoH < 2) {
                log2SbH = log2ZoH;
                log2SbW = 4 - log2SbH;
            }
        }
        log2SbW = std::min(log2SbW, log2ZoW);
        log2SbH = std::min(log2SbH, log2ZoH);
        int const numSb = 1 << (log2SbW + log2SbH);
        int const sbCols = w >> log2SbW, sbRows = h >> log2SbH;
        auto const& sbScan = DiagScan(log2ZoW - log2SbW, log2ZoH - log2SbH);
        auto const& inScan = DiagScan(log2SbW, log2SbH);
        int lastSubBlock = sbCols * sbRows - 1, lastScanPos = numSb;
        for (;;) {
            if (lastScanPos == 0) {
                lastScanPos = numSb;
                if (--lastSubBlock < 0)
                    fail("last significant coefficient not found");
            }
            --lastScanPos;
            int const xC = (sbScan[size_t(lastSubBlock)].first << log2SbW) + inScan[size_t(lastScanPos)].first;
            int const yC = (sbScan[size_t(lastSubBlock)].second << log2SbH) + inScan[size_t(lastScanPos)].second;
            if (xC == lastX && yC == lastY)
                break;
        }
        if (lastSubBlock == 0 && log2ZoW >= 2 && log2ZoH >= 2 && !ts && lastScanPos > 0)
            st.lfnstDcOnly = false;
        if ((lastSubBlock > 0 && log2ZoW >= 2 && log2ZoH >= 2) ||
            (lastScanPos > 7 && (log2ZoW == 2 || log2ZoW == 3) && log2ZoW == log2ZoH))
            st.lfnstZeroOut = false;
        if ((lastSubBlock > 0 || lastScanPos > 0) && luma)
            st.mtsDcOnly = false;

        // The levels of the first pass and the absolute levels so far, in rows of the coded
        // region with two zero columns right and two zero rows below: the template of a
        // position reads its right and lower neighbours without bounds checks. Only the part
        // a block of this size uses is cleared.
        int const stride = w + 2;
        size_t const area = size_t(stride) * size_t(h + 2);
        std::memset(m_pass1.data(), 0, area);
        std::memset(m_level.data(), 0, area * sizeof(int32_t));
        uint8_t* const pass1 = m_pass1.data();
        int32_t* const level = m_level.data();
        std::array<uint8_t, 64> sbCoded{};
        int remBins = ((1 << (log2ZoW + log2ZoH)) * 7) >> 2;
        int qState = 0;
        bool const dq = m_sh.depQuant;
        int const sigBase[3] = {luma ? C_SIG_L0 : C_SIG_C0, luma ? C_SIG_L1 : C_SIG_C1, luma ? C_SIG_L2 : C_SIG_C2};
        auto at = [stride](int x, int y) { return size_t(y) * size_t(stride) + size_t(x); };
        auto tmplPass1 = [&](int x, int y, int& sum, int& num) {
            uint8_t const* const p = pass1 + at(x, y);
            int const a = p[1], b = p[2], c = p[stride], d = p[2 * stride], e = p[stride + 1];
            sum = a + b + c + d + e;
            num = (a != 0) + (b != 0) + (c != 0) + (d != 0) + (e != 0);
        };
        auto tmplLevel = [&](int x, int y, int base) {
            int32_t const* const p = level + at(x, y);
            int const sum = p[1] + p[2] + p[stride] + p[2 * stride] + p[stride + 1];
            return std::min(std::max(sum - 5 * base, 0), 31);
        };
        for (int i = lastSubBlock; i >= 0; --i) {
            int const xS = sbScan[size_t(i)].first, yS = sbScan[size_t(i)].second;
            bool inferSbDc = false;
            bool coded = true;
            if (i < lastSubBlock && i > 0) {
                int const csbf = (xS + 1 < sbCols ? sbCoded[size_t(yS * sbCols + xS + 1)] : 0) +
                                 (yS + 1 < sbRows ? sbCoded[size_t((yS + 1) * sbCols + xS)] : 0);
                coded = bin((luma ? C_SBF_L : C_SBF_C) + std::min(csbf, 1));
                inferSbDc = true;
            }
            sbCoded[size_t(yS * sbCols + xS)] = coded;
            if (coded && (xS > 3 || yS > 3) && luma)
                st.mtsZeroOut = false;
            int const firstPosMode0 = i == lastSubBlock ? lastScanPos : numSb - 1;
            int firstPosMode1 = firstPosMode0;
            uint8_t gt3[16] = {};
            uint8_t stateAt[16] = {};
            for (int n = firstPosMode0; n >= 0 && remBins >= 4; --n) {
                int const xC = (xS << log2SbW) + inScan[size_t(n)].first,
                          yC = (yS << log2SbH) + inScan[size_t(n)].second;
                bool const isLast = xC == lastX && yC == lastY;
                int sum = 0, num = 0;
                tmplPass1(xC, yC, sum, num);
                int const d = xC + yC;
                bool sig;
                if (coded && (n > 0 || !inferSbDc) && !isLast) {
                    int const ctx = std::min((sum + 1) >> 1, 3) + (luma ? (d < 2   ? 8
                                                                           : d < 5 ? 4
                                                                                   : 0)
                                                                        : (d < 2 ? 4 : 0));
                    sig = bin(sigBase[std::max(0, qState - 1)] + ctx);
                    --remBins;
                    if (sig)
                        inferSbDc = false;
                } else {
                    sig = isLast || (coded && n == 0 && inferSbDc);
                }
                int p1 = 0;
                if (sig) {
                    int off = 0;
                    if (!isLast)
                        off = std::min(sum - num, 4) + 1 +
                              (luma ? (d == 0   ? 15
                                       : d < 3  ? 10
                                       : d < 10 ? 5
                                                : 0)
                                    : (d == 0 ? 5 : 0));
                    unsigned const g1 = bin((luma ? C_GT1_L : C_GT1_C) + off);
                    --remBins;
                    unsigned par = 0, g3 = 0;
                    if (g1) {
                        par = bin((luma ? C_PAR_L : C_PAR_C) + off);
                        g3 = bin((luma ? C_GT3_L : C_GT3_C) + off);
                        remBins -= 2;
                    }
                    p1 = 1 + int(g1 + par + 2 * g3);
                    gt3[n] = uint8_t(g3);
                }
                pass1[at(xC, yC)] = uint8_t(p1);
                stateAt[n] = uint8_t(qState);
                if (dq)
                    qState = kQStateNext[qState][p1 & 1];
                firstPosMode1 = n - 1;
            }
            for (int n = firstPosMode0; n > firstPosMode1; --n) {
                int const xC = (xS << log2SbW) + inScan[size_t(n)].first,
                          yC = (yS << log2SbH) + inScan[size_t(n)].second;
                int v = pass1[at(xC, yC)];
                if (gt3[n])
                    v += 2 * int(remainder(kRiceParam[tmplLevel(xC, yC, 4)]));
                level[at(xC, yC)] = v;
            }
            for (int n = firstPosMode1; n >= 0; --n) {
                int const xC = (xS << log2SbW) + inScan[size_t(n)].first,
                          yC = (yS << log2SbH) + inScan[size_t(n)].second;
                int v = 0;
                if (coded) {
                    int const rice = kRiceParam[tmplLevel(xC, yC, 0)];
                    int const zeroPos = (qState < 2 ? 1 : 2) << rice;
                    int const r = int(remainder(rice));
                    v = r == zeroPos ? 0 : r < zeroPos ? r + 1 : r;
                }
                level[at(xC, yC)] = v;
                stateAt[n] = uint8_t(qState);
                if (dq)
                    qState = kQStateNext[qState][v & 1];
            }
            int firstSig = numSb, lastSig = -1;
            for (int n = numSb - 1; n >= 0; --n) {
                int const xC = (xS << log2SbW) + inScan[size_t(n)].first,
                          yC = (yS << log2SbH) + inScan[size_t(n)].second;
                if (level[at(xC, yC)] > 0) {
                    if (lastSig < 0)
                        lastSig = n;
                    firstSig = n;
                }
            }
            bool const signHidden = !dq && m_sh.signDataHiding && lastSig - firstSig > 3;
            int sumAbs = 0;
            for (int n = numSb - 1; n >= 0; --n) {
                int const xC = (xS << log2SbW) + inScan[size_t(n)].first,
                          yC = (yS << log2SbH) + inScan[size_t(n)].second;
                int const a = level[at(xC, yC)];
                if (a <= 0)
                    continue;
                bool negative = false;
                if (!signHidden || n != firstSig)
                    negative = bypass();
                int v = dq ? 2 * a - (stateAt[n] > 1 ? 1 : 0) : a;
                if (signHidden) {
                    sumAbs += a;
                    if (n == firstSig)
                        negative = (sumAbs & 1) != 0;
                }
                out.levels[size_t(yC) * size_t(out.width) + size_t(xC)] = negative ? -v : v;
            }
        }
    }

    void residualTs(int log2W, int log2H, int cIdx, bool bdpcm, TransformBlock& out)
    {
        (void)cIdx;
        int const w = 1 << log2W, h = 1 << log2H;
        int log2SbW = std::min(log2W, log2H) < 2 ? 1 : 2, log2SbH = log2SbW;
        if (log2W + log2H > 3) {
            if (log2W < 2) {
                log2SbW = log2W;
                log2SbH = 4 - log2SbW;
            } else if (log2H < 2) {
                log2SbH = log2H;
                log2SbW = 4 - log2SbH;
            }
        }
        log2SbW = std::min(log2SbW, log2W);
        log2SbH = std::min(log2SbH, log2H);
        int const numSb = 1 << (log2SbW + log2SbH);
        int const sbCols = w >> log2SbW, sbRows = h >> log2SbH;
        auto const& sbScan = DiagScan(log2W - log2SbW, log2H - log2SbH);
        auto const& inScan = DiagScan(log2SbW, log2SbH);
        int const lastSubBlock = sbCols * sbRows - 1;
        if (out.levels.size() != size_t(w) * size_t(h) || sbCols * sbRows > 256)
            fail("transform skip block of an unexpected size");
        std::vector<int32_t>& coeff = out.levels; // zeros from newBlock()
        std::array<uint8_t, 256> sbCoded{};
        auto at = [w](int x, int y) { return size_t(y) * size_t(w) + size_t(x); };
        int remCcbs = ((1 << (log2W + log2H)) * 7) >> 2;
        bool inferSbCbf = true;
        for (int i = 0; i <= lastSubBlock; ++i) {
            int const xS = sbScan[size_t(i)].first, yS = sbScan[size_t(i)].second;
            bool coded = true;
            if (i != lastSubBlock || !inferSbCbf) {
                int const ctx = (xS > 0 ? sbCoded[size_t(yS * sbCols + xS - 1)] : 0) +
                                (yS > 0 ? sbCoded[size_t((yS - 1) * sbCols + xS)] : 0);
                coded = bin(C_TS_SBF + ctx);
            }
            sbCoded[size_t(yS * sbCols + xS)] = coded;
            if (coded && i < lastSubBlock)
                inferSbCbf = false;
            if (!coded)
                continue;
            auto pos = [&](int n, int& xC, int& yC) {
                xC = (xS << log2SbW) + inScan[size_t(n)].first;
                yC = (yS << log2SbH) + inScan[size_t(n)].second;
            };
            bool inferSig = true;
            int lastPass1 = -1;
            uint8_t gt1[16] = {};
            for (int n = 0; n < numSb && remCcbs >= 4; ++n) {
                int xC, yC;
                pos(n, xC, yC);
                lastPass1 = n;
                int const leftV = xC > 0 ? coeff[at(xC - 1, yC)] : 0, aboveV = yC > 0 ? coeff[at(xC, yC - 1)] : 0;
                bool sig;
                if (n != numSb - 1 || !inferSig) {
                    sig = bin(C_TS_SIG + (leftV != 0) + (aboveV != 0));
                    --remCcbs;
                    if (sig)
                        inferSig = false;
                } else {
                    sig = true;
                }
                if (!sig)
                    continue;
                int signCtx;
                if ((leftV == 0 && aboveV == 0) || (int64_t(leftV) * aboveV < 0))
                    signCtx = 0;
                else if (leftV >= 0 && aboveV >= 0)
                    signCtx = 1;
                else
                    signCtx = 2;
                unsigned const sign = bin(C_TS_SIGN + signCtx + (bdpcm ? 3 : 0));
                --remCcbs;
                unsigned const g1 = bin(C_TS_LRG1 + (bdpcm ? 3 : (leftV != 0) + (aboveV != 0)));
                --remCcbs;
                unsigned par = 0;
                if (g1) {
                    par = bin(C_TS_PAR);
                    --remCcbs;
                }
                gt1[n] = uint8_t(g1);
                int const lvl = 1 + int(g1 + par);
                coeff[at(xC, yC)] = sign ? -lvl : lvl;
            }
            int lastPass2 = -1;
            for (int n = 0; n < numSb && remCcbs >= 4; ++n) {
                int xC, yC;
                pos(n, xC, yC);
                int& c = coeff[at(xC, yC)];
                int lvl = std::abs(c);
                bool prev = gt1[n];
                for (int j = 1; j < 5 && prev; ++j) {
                    prev = bin(C_TS_GTX + j);
                    --remCcbs;
                    lvl += 2 * int(prev);
                }
                c = c < 0 ? -lvl : lvl;
                lastPass2 = n;
            }
            for (int n = 0; n < numSb; ++n) {
                int xC, yC;
                pos(n, xC, yC);
                int& c = coeff[at(xC, yC)];
                int const lvl = std::abs(c);
                bool const need =
                    (n <= lastPass2 && lvl >= 10) || (n > lastPass2 && n <= lastPass1 && lvl >= 2) || n > lastPass1;
                if (need) {
                    int const rem = int(remainder(1));
                    if (n <= lastPass1) {
                        int const v = lvl + 2 * rem;
                        c = c < 0 ? -v : v;
                    } else {
                        c = rem;
                        if (rem && bypass())
                            c = -rem;
                    }
                }
                // Levels of the context-coded passes are mapped against the larger of the left
                // and above neighbours (not with BDPCM).
                if (!bdpcm && n <= lastPass1 && c != 0) {
                    int const a = std::abs(c);
                    int const pred = std::max(xC > 0 ? std::abs(coeff[at(xC - 1, yC)]) : 0,
                                              yC > 0 ? std::abs(coeff[at(xC, yC - 1)]) : 0);
                    int const mapped = (a == 1 && pred > 0) ? pred : a - (a <= pred ? 1 : 0);
                    c = c < 0 ? -mapped : mapped;
                }
            }
        }
    }

    SeqParameterSet const& m_sps;
    PicParameterSet const& m_pps;
    SliceHeaderParams const& m_sh;
    ApsLookup m_aps;
    SliceDataSink* m_sink = nullptr;
    RefDistances const* m_refs = nullptr;
    std::vector<CtuFilterParams> m_ctuParams;
    IntraCodingUnit m_out; // the coding unit being decoded
    std::vector<std::vector<int32_t>> m_levelPool; // level buffers of earlier units' blocks
    // The residual's first-pass and absolute levels (a 32x32 region with its border).
    std::array<uint8_t, 34 * 34> m_pass1{};
    std::array<int32_t, 34 * 34> m_level{};
    CabacReader m_cabac;
    std::vector<ContextModel> m_ctx;
    int m_log2Ctb = 7, m_ctb = 128, m_picW = 0, m_picH = 0, m_minCb = 4, m_maxTb = 64, m_maxTs = 4;
    int m_minQt[2] = {}, m_maxBt[2] = {}, m_maxTt[2] = {}, m_maxMtt[2] = {};
    int m_sliceQp = 26;
    int m_gridW = 0, m_gridH = 0;
    std::vector<int> m_grid[2];
    std::vector<CuRec> m_cus;
    std::vector<uint8_t> m_ctuDone;
    std::vector<int> m_ctuTile;
    std::vector<uint8_t> m_alfFlag[3], m_ccIdc[2];
    int m_curCtu = 0;
    bool m_qpDeltaCoded = false, m_chromaQpOffsetCoded = false;
    bool m_chroma = true;  // chroma planes present (4:2:0); none in 4:0:0
    bool m_firstQg = true; // the next quantization group predicts from the slice QP
    int m_qgPred = 26, m_lastQpY = 26, m_cuQpDeltaVal = 0;
    int m_cuChromaQpOffset[3] = {};
    bool m_bdpcm = false, m_bdpcmC = false;
    bool m_notIntra = false; // the coding unit is predicted by block copy or inter prediction
    bool m_sbtSkip[2] = {};  // SBT: the transform unit of each index has no residual
    bool m_intraSlice = true;
    int m_qpSubdiv = 0, m_chromaQpSubdiv = 0; // CuQpDeltaSubdiv, CuChromaQpOffsetSubdiv limits
    int m_maxSubblockMerge = 0, m_numRefIdx[2] = {}, m_refIdxSym[2] = {-1, -1};
    bool m_noBackwardPred = false;
};

} // namespace

void MostProbableModes(int a, int b, int mpm[6])
{
    auto m = [](int v) { return 2 + (v % 64); };
    if (a == b && a > kDc) {
        int const list[6] = {kPlanar, a, m(a + 61), m(a - 1), m(a + 60), m(a)};
        std::copy(list, list + 6, mpm);
    } else if (a != b && a > kDc && b > kDc) {
        int const mn = std::min(a, b), mx = std::max(a, b);
        mpm[0] = kPlanar;
        mpm[1] = a;
        mpm[2] = b;
        if (mx - mn == 1) {
            mpm[3] = m(mn + 61);
            mpm[4] = m(mx - 1);
            mpm[5] = m(mn + 60);
        } else if (mx - mn >= 62) {
            mpm[3] = m(mn - 1);
            mpm[4] = m(mx + 61);
            mpm[5] = m(mn);
        } else if (mx - mn == 2) {
            mpm[3] = m(mn - 1);
            mpm[4] = m(mn + 61);
            mpm[5] = m(mx - 1);
        } else {
            mpm[3] = m(mn + 61);
            mpm[4] = m(mn - 1);
            mpm[5] = m(mx + 61);
        }
    } else if (a != b && (a > kDc || b > kDc)) {
        int const mx = std::max(a, b);
        int const list[6] = {kPlanar, mx, m(mx + 61), m(mx - 1), m(mx + 60), m(mx)};
        std::copy(list, list + 6, mpm);
    } else {
        int const list[6] = {kPlanar, kDc, kVer, kHor, kVer - 4, kVer + 4};
        std::copy(list, list + 6, mpm);
    }
}

std::vector<ContextModel> InitialContexts(int initType, int sliceQp)
{
    std::vector<ContextModel> ctx(sTable.shift.size());
    auto const& init = sTable.init[std::min(std::max(initType, 0), 2)];
    for (size_t i = 0; i < ctx.size(); ++i)
        ctx[i].init(init[i], sTable.shift[i], sliceQp);
    return ctx;
}

int ContextOffset(std::string const& name)
{
    for (auto const& n : sTable.names)
        if (n.first == name)
            return n.second;
    return -1;
}

RefDistances HeaderRefDistances(SliceHeaderParams const& sh, SeqParameterSet const& sps)
{
    RefDistances r;
    for (int l = 0; l < 2; ++l) {
        if (sh.sliceType == 2 || (l == 1 && sh.sliceType != 0))
            continue;
        RefPicListStruct const& rpl = sh.rpl.list(l, sps);
        int const n = std::min(sh.numRefIdxActive[l], rpl.numRefEntries);
        int dist = 0;
        for (int i = 0; i < n; ++i) {
            bool const st = size_t(i) < rpl.shortTerm.size() && rpl.shortTerm[size_t(i)];
            if (st)
                dist -= rpl.deltaPocSt[size_t(i)]; // delta: POC of the entry minus that of the one before
            r.dist[l].push_back(st ? dist : 1);
            r.longTerm[l].push_back(!st);
        }
    }
    return r;
}

void SymmetricMvdRefIdx(RefDistances const& refs, int refIdxSym[2])
{
    // The nearest short-term reference of list l on the given side (before: distance > 0).
    auto nearest = [&](int l, bool before) {
        int best = -1;
        for (size_t i = 0; i < refs.dist[l].size(); ++i) {
            int const d = refs.dist[l][i];
            if ((i < refs.longTerm[l].size() && refs.longTerm[l][i]) || (before ? d <= 0 : d >= 0))
                continue;
            if (best < 0 || std::abs(d) < std::abs(refs.dist[l][size_t(best)]))
                best = int(i);
        }
        return best;
    };
    refIdxSym[0] = nearest(0, true);
    refIdxSym[1] = nearest(1, false);
    if (refIdxSym[0] < 0 || refIdxSym[1] < 0) {
        refIdxSym[0] = nearest(0, false);
        refIdxSym[1] = nearest(1, true);
    }
    if (refIdxSym[0] < 0 || refIdxSym[1] < 0)
        refIdxSym[0] = refIdxSym[1] = -1;
}

int PredictQpY(QgNeighbours const& q)
{
    if (q.firstInTileRow && q.above != kNoQp)
        return q.above;
    int const a = q.left != kNoQp ? q.left : q.prev;
    int const b = q.above != kNoQp && q.aboveInCtu ? q.above : q.prev;
    return (a + b + 1) >> 1;
}

void ReleaseParserBuffers()
{
    std::vector<ParserBuffers> leaving;
    std::lock_guard<std::mutex> lock(gBuffersLock);
    leaving.swap(gFreeBuffers);
}

SliceParseResult ParseSliceData(uint8_t const* data, size_t size, SeqParameterSet const& sps,
                                PicParameterSet const& pps, SliceHeaderParams const& sh, ApsLookup const& aps,
                                SliceDataSink* sink, RefDistances const* refs)
{
    Parser p(sps, pps, sh, aps, sink, refs);
    return p.run(data, size);
}

} // namespace vvcslice
