#pragma once

// What the VVC decoder tests share: the committed streams' paths as the decoders take them, a
// fixture that writes the streams it opens into a folder of its own, and a stream-parameters
// record that belongs to another file.

#include "test_support.h"
#include "vvc_platform/vvc_test_streams.h"

#include "decoders/ze_nox_decoder.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vvctest {

inline QString StreamFile(char const* name)
{
    return QString::fromStdString(StreamPath(name));
}

class StreamFileTest : public ::testing::Test
{
protected:
    // Writes the bytes as the file `name` of the test's folder; its path.
    QString file(QString const& name, std::vector<uint8_t> const& bytes)
    {
        const QString path = QDir(m_dir.path()).filePath(name);
        EXPECT_TRUE(WriteAll(path, bytes));
        return path;
    }

    QTemporaryDir m_dir;
};

// A trusted record stored for another file of the name: 176x144 4:2:0, 4 pictures, a size none
// of the written streams has.
inline ze::nox::core::StreamParams StaleRecord()
{
    ze::nox::core::StreamParams p;
    p.valid = true;
    p.type = ze::nox::core::ZE_STREAM_TYPE_VVC;
    p.width = 176;
    p.height = 144;
    p.pixFmt = AV_PIX_FMT_YUV420P;
    p.frames = 4;
    return p;
}

} // namespace vvctest
