#include "media_types.h"

#include <QFileInfo>

#ifndef _WIN32
#include <QImageReader>
#include <QSet>

extern "C" {
#include <libavformat/avformat.h>
}
#endif

namespace media_types {

#ifdef _WIN32
const QStringList &videoSuffixes()
{
    static const QStringList list = {"mp4", "avi", "wmv", "mkv", "mov"};
    return list;
}

const QStringList &imageSuffixes()
{
    static const QStringList list = {"jpg", "jpeg", "png", "bmp", "gif"};
    return list;
}

static const char kAllFiles[] = "All files (*.*)";
#else
const QStringList &imageSuffixes()
{
    static const QStringList list = [] {
        QStringList suffixes;
        for (const QByteArray &format : QImageReader::supportedImageFormats())
            suffixes << QString::fromLatin1(format).toLower();
        suffixes.removeDuplicates();
        suffixes.sort();
        return suffixes;
    }();
    return list;
}

const QStringList &videoSuffixes()
{
    static const QStringList list = [] {
        // Still-image and text demuxers are left out: those files are
        // images (Qt reads them) or not video at all.
        const QSet<QString> skipped = {"image2", "tty", "srt", "ass", "webvtt", "lrc", "sami", "microdvd", "jacosub"};
        const QStringList images = imageSuffixes();
        // Containers whose demuxers find them by content, not by name.
        QSet<QString> found = {"mp4", "avi", "wmv", "mkv", "mov", "webm", "m4v", "mpg", "mpeg", "ts", "m2ts", "mts",
                               "flv", "ogv", "ogg", "3gp", "3g2", "vob", "mxf"};
        void *opaque = nullptr;
        while (const AVInputFormat *format = av_demuxer_iterate(&opaque)) {
            const QString name = QString::fromLatin1(format->name);
            if (!format->extensions || skipped.contains(name) || name.endsWith("_pipe"))
                continue;
            for (const QString &suffix : QString::fromLatin1(format->extensions).split(',', Qt::SkipEmptyParts)) {
                if (!images.contains(suffix.trimmed().toLower()))
                    found.insert(suffix.trimmed().toLower());
            }
        }
        QStringList suffixes(found.begin(), found.end());
        suffixes.sort();
        return suffixes;
    }();
    return list;
}

// "*.*" would hide files without an extension outside Windows.
static const char kAllFiles[] = "All files (*)";
#endif

bool isVideo(const QString &path)
{
    return videoSuffixes().contains(QFileInfo(path).suffix().toLower());
}

QString dialogFilter()
{
    auto patterns = [](const QStringList &suffixes) {
        QStringList out;
        for (const QString &s : suffixes)
            out << "*." + s;
        return out.join(' ');
    };
    const QString video = patterns(videoSuffixes()), image = patterns(imageSuffixes());
    return QString("All supported files (%1 %2);;Videos (%1);;Images (%2);;%3").arg(video, image, kAllFiles);
}

} // namespace media_types
