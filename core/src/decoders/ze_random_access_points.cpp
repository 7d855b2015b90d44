#include "decoders/ze_random_access_points.h"

#include <algorithm>

namespace ze::nox::core {

namespace {

constexpr int kMaxParameterSets = 64;
constexpr int kMaxParameterSetBytes = 1 << 16;

} // namespace

void ZeRandomAccessPointFinder::addPicture(Kind kind, int64_t pos)
{
    int const unit = m_pictures++;
    if (!m_ok)
        return;
    bool const irap = kind == Kind::Idr || kind == Kind::Cra || kind == Kind::Bla;
    bool const leading = kind == Kind::Rasl || kind == Kind::Radl;
    if ((!irap && !m_seenIrap) || (leading && !m_inLeading)) {
        m_ok = false;
        return;
    }
    if (irap) {
        endLeading();
        m_leadingDropped = kind == Kind::Bla || !m_seenIrap || m_afterEos;
        m_leadingOpen = kind == Kind::Cra && !m_leadingDropped;
        m_seenIrap = true;
        m_afterEos = false;
        m_inLeading = true;
        Point p;
        p.frame = m_outputs++;
        p.pos = pos;
        p.unit = unit;
        if (!m_parameterSets.empty()) {
            if (!m_prefix) {
                QByteArray prefix;
                for (QByteArray const& ps : m_parameterSets)
                    prefix += QByteArray::fromRawData("\0\0\0\1", 4) + ps;
                m_prefix = std::make_shared<QByteArray const>(prefix);
            }
            p.prefix = m_prefix;
        }
        m_points.push_back(std::move(p));
        return;
    }
    if (leading) {
        ++m_points.back().leading;
        if (kind == Kind::Rasl && m_leadingDropped)
            return; // dropped by a decode from the start as well
        m_rasl += kind == Kind::Rasl ? 1 : 0;
        ++m_outputs;
        return;
    }
    endLeading();
    ++m_outputs;
}

void ZeRandomAccessPointFinder::endLeading()
{
    if (m_inLeading && m_leadingOpen && !m_points.empty())
        m_points.back().frame += m_rasl;
    m_inLeading = false;
    m_leadingOpen = false;
    m_rasl = 0;
}

void ZeRandomAccessPointFinder::addParameterSet(uint8_t const* nal, int size)
{
    if (size > kMaxParameterSetBytes) {
        m_ok = false;
        return;
    }
    const QByteArray ps(reinterpret_cast<char const*>(nal), size);
    if (!m_parameterSets.empty() && m_parameterSets.back() == ps)
        return;
    m_parameterSets.erase(std::remove(m_parameterSets.begin(), m_parameterSets.end(), ps), m_parameterSets.end());
    m_parameterSets.push_back(ps);
    if (static_cast<int>(m_parameterSets.size()) > kMaxParameterSets)
        m_parameterSets.erase(m_parameterSets.begin());
    m_prefix.reset();
}

std::vector<ZeRandomAccessPointFinder::Point> ZeRandomAccessPointFinder::finish()
{
    endLeading();
    if (!m_ok)
        m_points.clear();
    return std::move(m_points);
}

} // namespace ze::nox::core
