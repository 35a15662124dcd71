#include "command_line.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Options of QGuiApplication that take a value; they are passed on to the
// application object, so they must not be read as our file argument.
const QStringList kQtValueOptions = {
    "platform", "platformpluginpath", "platformtheme", "plugin",      "qmljsdebugger", "qwindowgeometry",
    "geometry", "qwindowtitle",       "title",         "qwindowicon", "icon",          "display",
    "style",    "stylesheet",         "session",       "name",        "dialogs"};
const QStringList kQtFlagOptions = {"reverse", "nograb", "dograb", "sync", "widgetcount", "testability"};

// Drops Qt's single-dash options (and their values) the way QApplication
// would, so the parser sees only ours.
QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (i > 0 && a.startsWith('-') && !a.startsWith("--")) {
            const QString name = a.mid(1);
            if (kQtValueOptions.contains(name)) {
                ++i;
                continue;
            }
            if (kQtFlagOptions.contains(name))
                continue;
        }
        kept << a;
    }
    return kept;
}

} // namespace

QSize parseResolution(const QString &text)
{
    const QRegularExpressionMatch m = QRegularExpression("^(\\d{2,5})x(\\d{2,5})$").match(text);
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

LaunchOptions parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Plays a video or still image into the Vidloom virtual camera.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption play("play", "Start streaming once FILE is loaded (the camera must be registered).");
    const QCommandLineOption resolution("resolution", "Camera size, for example 1280x720.", "WxH");
    const QCommandLineOption minimized("minimized", "Start hidden in the tray.");
    const QCommandLineOption headless("headless", "Stream FILE without a window until Ctrl+C or its end.");
    const QCommandLineOption noLoop("no-loop", "With --headless: end at the end of the video.");
    parser.addOptions({help, version, play, resolution, minimized, headless, noLoop});
    parser.addPositionalArgument("FILE", "Video or still image to open.", "[FILE]");

    LaunchOptions options;
    const bool parsed = parser.parse(withoutQtOptions(arguments));
    if (parser.isSet(help)) {
        options.action = LaunchOptions::Action::Help;
        options.text = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.action = LaunchOptions::Action::Version;
        options.text = "Vidloom 1.0\n";
        return options;
    }
    options.action = LaunchOptions::Action::Error;
    if (!parsed) {
        options.text = parser.errorText();
        return options;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        options.text = "Give at most one FILE.";
        return options;
    }
    if (parser.isSet(resolution)) {
        options.resolution = parseResolution(parser.value(resolution));
        if (!options.resolution.isValid()) {
            options.text =
                QString("Bad resolution \"%1\": expected WxH, such as 1280x720.").arg(parser.value(resolution));
            return options;
        }
    }
    if (!files.isEmpty())
        options.file = QDir::cleanPath(QFileInfo(files.first()).absoluteFilePath());
    options.play = parser.isSet(play);
    options.minimized = parser.isSet(minimized);
    options.loop = !parser.isSet(noLoop);
    if (parser.isSet(headless)) {
        if (options.file.isEmpty()) {
            options.text = "--headless needs a FILE.";
            return options;
        }
        options.action = LaunchOptions::Action::Headless;
        return options;
    }
    if (parser.isSet(noLoop)) {
        options.text = "--no-loop works with --headless only.";
        return options;
    }
    options.action = LaunchOptions::Action::Window;
    return options;
}
