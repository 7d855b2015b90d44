#pragma once

#include <QString>

// Folder of the clips made by media/make_media.sh.
inline QString TestMediaPath(QString const& name)
{
    return QStringLiteral(SERAVIN_TEST_MEDIA_DIR "/") + name;
}

// Folder of the VMAF reference clips, golden values and models.
inline QString VmafDataPath(QString const& name)
{
    return QStringLiteral(SERAVIN_VMAF_DATA_DIR "/") + name;
}
