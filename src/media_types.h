#pragma once

#include <QString>
#include <QStringList>

// File name suffixes (lower case, no dot) that the app opens as video and
// as still images. On Linux the video list is every container that the
// FFmpeg build in use can read; on Windows it is the Media Foundation five.
namespace media_types {

const QStringList &videoSuffixes();
const QStringList &imageSuffixes();
bool isVideo(const QString &path);
// Filter for the open dialog: all supported, videos, images, all files.
QString dialogFilter();

} // namespace media_types
