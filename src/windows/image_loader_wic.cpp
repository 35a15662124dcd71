// Windows backend of ImageLoader: the Windows Imaging Component decodes the
// first frame, converts it to 24-bit BGR and scales it if asked.
//
// Some converters cannot go from indexed pixels (GIF, palette PNG, 1-bit
// BMP) straight to 24bppBGR and only fail when the pixels are copied; those
// images are converted to 32bppBGRA instead and the alpha byte is dropped,
// which gives the same colours.
//
// Only regular files in the formats the window offers are decoded; WIC
// pulls pixels through the converter and scaler in strips, so a picture
// larger than the largest camera frame costs no more than the scaled frame.
//
// COM must be initialised on the calling thread; the loader never does it.
#include "image_loader.h"

#include "regular_file.h"
#include "rgb32_frame.h"

#include <algorithm>

#include <wincodec.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

bool acceptedFormat(IWICBitmapDecoder *decoder)
{
    GUID container{};
    if (FAILED(decoder->GetContainerFormat(&container)))
        return false;
    for (const GUID &accepted :
         {GUID_ContainerFormatBmp, GUID_ContainerFormatGif, GUID_ContainerFormatJpeg, GUID_ContainerFormatPng})
        if (container == accepted)
            return true;
    return false;
}

IWICImagingFactory *imagingFactory(void *factory)
{
    return static_cast<IWICImagingFactory *>(factory);
}

// Converts `frame` to `format` at the target size (scaling only when it
// differs from the frame's) and copies the rows, `bytesPerPixel` each, into
// `buffer`. A target of 0 means the frame's own size, fitted inside the
// largest camera frame, and is replaced by it.
bool copyConverted(IWICImagingFactory *factory, IWICBitmapFrameDecode *frame, const GUID &format,
                   uint32_t bytesPerPixel, UINT &targetWidth, UINT &targetHeight, std::vector<uint8_t> &buffer)
{
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(&converter))
        || FAILED(
            converter->Initialize(frame, format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return false;
    UINT ownWidth = 0, ownHeight = 0;
    if (FAILED(converter->GetSize(&ownWidth, &ownHeight)))
        return false;
    if (ownWidth == 0 || ownHeight == 0)
        return false;
    if (targetWidth == 0 || targetHeight == 0) {
        // Aspect ratio kept, rounded, at least one pixel.
        const double scale =
            std::min({1.0, double(ImageLoader::kMaxWidth) / ownWidth, double(ImageLoader::kMaxHeight) / ownHeight});
        targetWidth = std::max(1u, UINT(ownWidth * scale + 0.5));
        targetHeight = std::max(1u, UINT(ownHeight * scale + 0.5));
    }
    if (targetWidth == 0 || targetHeight == 0 || targetWidth > ImageLoader::kMaxWidth
        || targetHeight > ImageLoader::kMaxHeight)
        return false;

    ComPtr<IWICBitmapSource> pixelSource = converter;
    if (ownWidth != targetWidth || ownHeight != targetHeight) {
        ComPtr<IWICBitmapScaler> scaler;
        if (FAILED(factory->CreateBitmapScaler(&scaler))
            || FAILED(scaler->Initialize(converter.Get(), targetWidth, targetHeight, WICBitmapInterpolationModeCubic)))
            return false;
        pixelSource = scaler;
    }
    const UINT stride = targetWidth * bytesPerPixel;
    const uint64_t bytes = uint64_t(stride) * targetHeight;
    if (bytes > UINT_MAX)
        return false;
    buffer.resize(size_t(bytes));
    return SUCCEEDED(pixelSource->CopyPixels(nullptr, stride, UINT(bytes), buffer.data()));
}

} // namespace

ImageLoader::ImageLoader() = default;

ImageLoader::~ImageLoader()
{
    Release();
    if (factory)
        imagingFactory(factory)->Release();
    factory = nullptr;
    std::vector<uint8_t>().swap(pixels);
}

bool ImageLoader::Initialize()
{
    if (factory)
        return true;
    IWICImagingFactory *created = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created))))
        return false;
    factory = created;
    return true;
}

bool ImageLoader::LoadImageW(const std::filesystem::path &path, unsigned int targetWidth, unsigned int targetHeight)
{
    Release();
    if (!factory || !regular_file::Is(path))
        return false;
    IWICImagingFactory *wic = imagingFactory(factory);

    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                              &decoder))
        || !acceptedFormat(decoder.Get()) || FAILED(decoder->GetFrame(0, &frame)))
        return false;

    UINT w = targetWidth, h = targetHeight;
    bool ok = copyConverted(wic, frame.Get(), GUID_WICPixelFormat24bppBGR, 3, w, h, pixels);
    if (!ok) {
        std::vector<uint8_t> bgra;
        w = targetWidth;
        h = targetHeight;
        ok = copyConverted(wic, frame.Get(), GUID_WICPixelFormat32bppBGRA, 4, w, h, bgra)
            && rgb32_frame::ToBgr24(bgra.data(), uint32_t(bgra.size()), w, h, w * 4, pixels);
    }
    if (!ok) {
        pixels.clear();
        return false;
    }
    width = w;
    height = h;
    return true;
}
