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
        // Video containers, of which those that this FFmpeg build names
        // among its demuxers' extensions count; the MPEG family and WebM
        // and Ogg are found by content and have no extension of their own
        // there.
        const QStringList containers = {"3g2",  "3gp", "asf",  "avi", "divx", "dv",   "f4v",  "flv",  "h264",
                                        "hevc", "ivf", "m2ts", "m2v", "m4v",  "mj2",  "mjpg", "mk3d", "mkv",
                                        "mov",  "mp4", "mpeg", "mpg", "mts",  "mxf",  "nut",  "ogm",  "ogv",
                                        "qt",   "rm",  "rmvb", "ts",  "vob",  "webm", "wmv",  "wtv",  "y4m"};
        QSet<QString> known = {"mp4", "avi", "wmv",  "asf", "mkv", "mov", "webm", "mpg", "mpeg",
                               "m2v", "ts",  "m2ts", "mts", "vob", "ogv", "ogm",  "ivf"};
        void *opaque = nullptr;
        while (const AVInputFormat *format = av_demuxer_iterate(&opaque)) {
            for (const QString &suffix : QString::fromLatin1(format->extensions ? format->extensions : "").split(','))
                known.insert(suffix.trimmed().toLower());
        }
        QStringList suffixes;
        for (const QString &suffix : containers) {
            if (known.contains(suffix))
                suffixes << suffix;
        }
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
