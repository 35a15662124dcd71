// Loads the input as a still image, at its own size and at a camera size.
#include "image_loader.h"
#include "test_media.h"

#include <QtGlobal>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ImageLoader loader;
    static const bool ready = [] {
        // Qt's readers warn about every damaged file.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return loader.Initialize();
    }();
    const auto file = test_media::WriteFile("input", std::string(reinterpret_cast<const char *>(data), size));
    if (ready && loader.LoadImageW(file))
        loader.LoadImageW(file, 64, 48);
    return 0;
}
