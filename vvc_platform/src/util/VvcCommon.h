#pragma once

#include <cstdint>
#include <exception>
#include <sstream>
#include <string>

// Thrown on every conformance violation and malformed syntax.
class Exception : public std::exception
{
public:
    explicit Exception(std::string const& text) : m_text(text) {}
    char const* what() const noexcept override { return m_text.c_str(); }
    template <typename T>
    Exception& operator<<(T const& value)
    {
        std::ostringstream s;
        s << value;
        m_text += s.str();
        return *this;
    }

private:
    std::string m_text;
};

// Builds the check text: a line break, "ERROR: In function", the function, the place, a colon.
std::string CheckPrefix(char const* function, char const* file, int line);

#define VVC_THROW(text) throw Exception(CheckPrefix(__func__, __FILE__, __LINE__)) << text
#define VVC_CHECK(cond, text)                                                                                          \
    do {                                                                                                               \
        if (cond)                                                                                                      \
            VVC_THROW(text);                                                                                           \
    } while (0)

enum MsgLevel { SILENT = 0, ERROR = 1, WARNING = 2, INFO = 3, NOTICE = 4, VERBOSE = 5, DETAILS = 6 };

// Messages of a level not above this are printed: level 1 to standard error, others to standard
// output.
extern MsgLevel g_verbosity;
void msg(MsgLevel level, char const* fmt, ...);

enum ChromaFormat : int { CHROMA_400 = 0, CHROMA_420 = 1, CHROMA_422 = 2, CHROMA_444 = 3, NUM_CHROMA_FORMAT = 4 };

// Horizontal and vertical subsampling shifts of the chroma planes of a format.
inline int ChromaShiftX(ChromaFormat f) { return f == CHROMA_420 || f == CHROMA_422 ? 1 : 0; }
inline int ChromaShiftY(ChromaFormat f) { return f == CHROMA_420 ? 1 : 0; }

enum NalUnitType {
    NAL_UNIT_CODED_SLICE_TRAIL = 0,
    NAL_UNIT_CODED_SLICE_STSA = 1,
    NAL_UNIT_CODED_SLICE_RADL = 2,
    NAL_UNIT_CODED_SLICE_RASL = 3,
    NAL_UNIT_CODED_SLICE_IDR_W_RADL = 7,
    NAL_UNIT_CODED_SLICE_IDR_N_LP = 8,
    NAL_UNIT_CODED_SLICE_CRA = 9,
    NAL_UNIT_CODED_SLICE_GDR = 10,
    NAL_UNIT_RESERVED_IRAP_VCL_11 = 11,
    NAL_UNIT_OPI = 12,
    NAL_UNIT_DCI = 13,
    NAL_UNIT_VPS = 14,
    NAL_UNIT_SPS = 15,
    NAL_UNIT_PPS = 16,
    NAL_UNIT_PREFIX_APS = 17,
    NAL_UNIT_SUFFIX_APS = 18,
    NAL_UNIT_PH = 19,
    NAL_UNIT_ACCESS_UNIT_DELIMITER = 20,
    NAL_UNIT_EOS = 21,
    NAL_UNIT_EOB = 22,
    NAL_UNIT_PREFIX_SEI = 23,
    NAL_UNIT_SUFFIX_SEI = 24,
    NAL_UNIT_FD = 25,
    NAL_UNIT_INVALID = 32,
};

inline bool IsSliceNalType(int t)
{
    return (t >= 0 && t <= 3) || (t >= 7 && t <= 10);
}

constexpr int MAX_VPS_LAYERS = 64;

// Global tables of the library; reference counted by the caller.
void initROM();
void destroyROM();
bool IsRomInitialised();
