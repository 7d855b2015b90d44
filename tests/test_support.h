#pragma once

#include <QFileInfo>
#include <QString>

// Folder of the clips made by media/make_media.sh.
inline QString TestMediaPath(QString const& name)
{
    return QStringLiteral(SERAVIN_TEST_MEDIA_DIR "/") + name;
}

// A golden-value file of the VMAF reference set (tests/data/vmaf/golden).
inline QString VmafGoldenPath(QString const& name)
{
    return QStringLiteral(SERAVIN_VMAF_GOLDEN_DIR "/") + name;
}

// A reference clip of the VMAF golden set, as a golden file names it ("clips/A_....y4m"): the media
// fixture regenerates those clips, checked by MD5, into the test media folder.
inline QString VmafClipPath(QString const& name)
{
    return TestMediaPath(QFileInfo(name).fileName());
}
