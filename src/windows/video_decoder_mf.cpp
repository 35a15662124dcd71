// Windows backend of VideoDecoder: a Media Foundation source reader on the
// first video stream, asked for RGB32, repacked into BGR24.
//
// Not every reader can convert to RGB32 itself (Wine's cannot, and neither
// can Windows without its video processing for some decoders). Then the
// reader is asked for NV12 or YUY2 and a video processor transform turns
// each sample into top-down RGB32, so callers see the same frames.
//
// Media Foundation is started by the process; the decoder never starts or
// stops it. The caller serialises all calls (FrameSender does).
#include "video_decoder.h"

#include "regular_file.h"
#include "rgb32_frame.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mftransform.h>
#include <propvarutil.h>
#include <wrl/client.h>

#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kVideoStream = DWORD(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr double kUnitsPerSecond = 10'000'000.0;
constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 31;

bool requestSubtype(IMFSourceReader *reader, const GUID &subtype)
{
    ComPtr<IMFMediaType> type;
    if (FAILED(MFCreateMediaType(&type)) || FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video))
        || FAILED(type->SetGUID(MF_MT_SUBTYPE, subtype)))
        return false;
    return SUCCEEDED(reader->SetCurrentMediaType(kVideoStream, nullptr, type.Get()));
}

// The first synchronous video processor that converts `subtype` to RGB32.
ComPtr<IMFTransform> findVideoProcessor(const GUID &subtype)
{
    const MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, subtype};
    const MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_RGB32};
    IMFActivate **activates = nullptr;
    UINT32 count = 0;
    ComPtr<IMFTransform> transform;
    if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_PROCESSOR,
                         MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT | MFT_ENUM_FLAG_SORTANDFILTER, &input, &output,
                         &activates, &count)))
        return transform;
    for (UINT32 i = 0; i < count; ++i) {
        if (!transform)
            activates[i]->ActivateObject(IID_PPV_ARGS(&transform));
        activates[i]->Release();
    }
    CoTaskMemFree(activates);
    return transform;
}

// RGB32 of the same picture as `input`; the stride is left to the
// processor, which writes top-down rows.
ComPtr<IMFMediaType> rgb32Like(IMFMediaType *input)
{
    ComPtr<IMFMediaType> type;
    if (FAILED(MFCreateMediaType(&type)) || FAILED(input->CopyAllItems(type.Get())))
        return nullptr;
    type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    type->DeleteItem(MF_MT_DEFAULT_STRIDE);
    type->DeleteItem(MF_MT_SAMPLE_SIZE);
    type->DeleteItem(MF_MT_COMPRESSED);
    type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
    type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    return type;
}

double durationOf(IMFSourceReader *reader)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    double seconds = 0.0;
    if (SUCCEEDED(reader->GetPresentationAttribute(DWORD(MF_SOURCE_READER_MEDIASOURCE), MF_PD_DURATION, &value))
        && value.vt == VT_UI8)
        seconds = double(value.uhVal.QuadPart) / kUnitsPerSecond;
    PropVariantClear(&value);
    return seconds;
}

} // namespace

struct VideoDecoder::Source {
    ComPtr<IMFSourceReader> reader;
    // Only when the reader cannot deliver RGB32 itself.
    ComPtr<IMFTransform> converter;
    // The converter's output, reused frame after frame, unless the converter
    // hands out samples of its own.
    ComPtr<IMFSample> convertedSample;
    std::vector<uint8_t> viewFrame; // what ReadFrame's view points into

    bool attachConverter();
    bool configureConverter();
    ComPtr<IMFMediaType> outputType();
    ComPtr<IMFSample> convert(IMFSample *sample, bool &needMoreInput);
    void seek(LONGLONG units);
};

bool VideoDecoder::Source::attachConverter()
{
    for (const GUID &subtype : {MFVideoFormat_NV12, MFVideoFormat_YUY2}) {
        if (!requestSubtype(reader.Get(), subtype))
            continue;
        converter = findVideoProcessor(subtype);
        if (converter && configureConverter())
            return true;
        converter.Reset();
    }
    return false;
}

// (Re)binds the converter to the reader's current type, after Open and
// whenever the decoder changes its output mid-stream.
bool VideoDecoder::Source::configureConverter()
{
    ComPtr<IMFMediaType> input;
    if (FAILED(reader->GetCurrentMediaType(kVideoStream, &input)))
        return false;
    const ComPtr<IMFMediaType> output = rgb32Like(input.Get());
    if (!output || FAILED(converter->SetInputType(0, input.Get(), 0))
        || FAILED(converter->SetOutputType(0, output.Get(), 0)))
        return false;

    convertedSample.Reset();
    MFT_OUTPUT_STREAM_INFO info{};
    if (FAILED(converter->GetOutputStreamInfo(0, &info)))
        return false;
    if (!(info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES)) {
        UINT32 w = 0, h = 0;
        MFGetAttributeSize(output.Get(), MF_MT_FRAME_SIZE, &w, &h);
        const uint64_t bytes = info.cbSize ? info.cbSize : uint64_t(w) * h * 4;
        ComPtr<IMFMediaBuffer> buffer;
        if (bytes == 0 || bytes >= kMaxFrameBytes * 2 || FAILED(MFCreateSample(&convertedSample))
            || FAILED(MFCreateMemoryBuffer(DWORD(bytes), &buffer)) || FAILED(convertedSample->AddBuffer(buffer.Get())))
            return false;
    }
    converter->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    converter->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    return true;
}

ComPtr<IMFMediaType> VideoDecoder::Source::outputType()
{
    ComPtr<IMFMediaType> type;
    const HRESULT hr = converter ? converter->GetOutputCurrentType(0, &type)
                                 : reader->GetCurrentMediaType(kVideoStream, &type);
    return SUCCEEDED(hr) ? type : nullptr;
}

// One reader sample through the converter. A transform may hold a sample
// back; then needMoreInput is set and the result is null.
ComPtr<IMFSample> VideoDecoder::Source::convert(IMFSample *sample, bool &needMoreInput)
{
    needMoreInput = false;
    if (FAILED(converter->ProcessInput(0, sample, 0)))
        return nullptr;
    MFT_OUTPUT_DATA_BUFFER output{};
    output.pSample = convertedSample.Get();
    DWORD status = 0;
    const HRESULT hr = converter->ProcessOutput(0, 1, &output, &status);
    if (output.pEvents)
        output.pEvents->Release();
    ComPtr<IMFSample> result;
    if (convertedSample)
        result = convertedSample;
    else
        result.Attach(output.pSample); // the transform's own sample, now ours
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT)
        needMoreInput = true;
    return SUCCEEDED(hr) ? result : nullptr;
}

void VideoDecoder::Source::seek(LONGLONG units)
{
    PROPVARIANT target;
    InitPropVariantFromInt64(units, &target);
    reader->SetCurrentPosition(GUID_NULL, target);
    PropVariantClear(&target);
    // Frames from before the seek must not come out after it.
    if (converter)
        converter->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
}

// Frame size and stride of the RGB32 pictures the reader (or the converter)
// delivers. Frames of 2^31 bytes or more are refused.
static bool readOutputType(VideoDecoder &decoder, const ComPtr<IMFMediaType> &type)
{
    if (!type)
        return false;
    UINT32 w = 0, h = 0;
    MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &w, &h);
    if (w == 0 || h == 0 || w > VideoDecoder::kMaxWidth || h > VideoDecoder::kMaxHeight)
        return false;
    decoder.width = w;
    decoder.height = h;
    UINT32 defaultStride = 0;
    decoder.stride = SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &defaultStride)) ? int32_t(defaultStride)
                                                                                      : int32_t(w * 4);
    return true;
}

VideoDecoder::VideoDecoder() = default;

VideoDecoder::~VideoDecoder()
{
    Close();
}

bool VideoDecoder::Open(const std::filesystem::path &path)
{
    Close();
    if (!regular_file::Is(path))
        return false;

    ComPtr<IMFAttributes> attributes;
    if (SUCCEEDED(MFCreateAttributes(&attributes, 1)))
        attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
    auto opened = std::make_unique<Source>();
    const HRESULT created = MFCreateSourceReaderFromURL(path.c_str(), attributes.Get(), &opened->reader);
    attributes.Reset();
    if (FAILED(created))
        return false;

    IMFSourceReader *reader = opened->reader.Get();
    reader->SetStreamSelection(DWORD(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    reader->SetStreamSelection(kVideoStream, TRUE);
    if (!requestSubtype(reader, MFVideoFormat_RGB32) && !opened->attachConverter())
        return false;

    source = opened.release();
    if (!readOutputType(*this, source->outputType())) {
        Close();
        return false;
    }
    duration = durationOf(reader);
    position = 0.0;
    return true;
}

void VideoDecoder::Close()
{
    delete source;
    source = nullptr;
    width = 0;
    height = 0;
    duration = 0.0;
    position = 0.0;
}

// Media Foundation hands out RGB32, so views are always BGR24.
bool VideoDecoder::ReadFrame(FrameView &view, bool)
{
    if (!source || !ReadFrame(source->viewFrame))
        return false;
    view = FrameView::Bgr(source->viewFrame.data(), int(width), int(height));
    return true;
}

bool VideoDecoder::ReadFrame(std::vector<uint8_t> &out)
{
    if (!source)
        return false;
    ComPtr<IMFSample> sample;
    for (;;) {
        DWORD flags = 0;
        LONGLONG timestamp = 0;
        sample.Reset();
        if (FAILED(source->reader->ReadSample(kVideoStream, 0, nullptr, &flags, &timestamp, &sample)))
            return false;
        if (timestamp >= 0)
            position = double(timestamp) / kUnitsPerSecond;
        if ((flags & MF_SOURCE_READERF_ENDOFSTREAM) || !sample)
            return false;
        if (flags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) {
            if (source->converter && !source->configureConverter())
                return false;
            if (!readOutputType(*this, source->outputType()))
                return false;
        }
        if (!source->converter)
            break;
        bool needMoreInput = false;
        sample = source->convert(sample.Get(), needMoreInput);
        if (sample)
            break;
        if (!needMoreInput)
            return false;
    }

    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer)))
        return false;
    BYTE *data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length)))
        return false;
    bool ok = true;
    if (height == 0)
        out.clear();
    else
        ok = rgb32_frame::ToBgr24(data, length, width, height, rgb32_frame::RowPitch(width, height, stride, length),
                                  out);
    buffer->Unlock();
    return ok;
}

void VideoDecoder::SeekToStart()
{
    if (!source)
        return;
    source->seek(0);
    position = 0.0;
}

void VideoDecoder::SeekTo(double seconds)
{
    if (!source)
        return;
    // Out-of-range targets are the reader's to refuse; only the conversion
    // itself must stay defined.
    const double units = seconds * kUnitsPerSecond;
    source->seek(units >= -9.2e18 && units <= 9.2e18 ? LONGLONG(units) : 0);
    position = seconds;
}
