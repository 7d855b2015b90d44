#include "VideoIOYuv.h"

bool VideoIOYuv::open(std::string const&, bool writeMode, int const[2], int const[2], int const[2],
                      unsigned char** planes, int const* planeSizes)
{
    close();
    if (!writeMode || !planes || !planeSizes || !planes[0] || planeSizes[0] <= 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        m_planes[i] = planes[i];
        m_planeSizes[i] = planeSizes[i];
    }
    m_open = true;
    return true;
}

void VideoIOYuv::close()
{
    m_open = false;
    for (int i = 0; i < 3; ++i) {
        m_planes[i] = nullptr;
        m_planeSizes[i] = 0;
    }
}

bool VideoIOYuv::write(PelUnitBuf const& pic, int, bool, int, int, int, int, ChromaFormat, bool)
{
    return m_open && !pic.empty();
}

bool VideoIOYuv::write(PelUnitBuf const& top, PelUnitBuf const& bottom, int, bool, int, int, int, int,
                       ChromaFormat, bool, bool)
{
    return m_open && !top.empty() && !bottom.empty();
}
