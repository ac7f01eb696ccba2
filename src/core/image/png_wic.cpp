// The PNG codec through the Windows Imaging Component, which every Windows
// since Vista carries (and Wine implements).
#include <objbase.h>
#include <wincodec.h>

#include <cstring>
#include <limits>

#include "image/png_codec.h"

namespace pictrove::png_codec {
namespace {

// Holds one reference to a COM object and drops it at the end of the scope.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (object_) object_->Release();
    }
    Interface* operator->() const { return object_; }
    Interface* get() const { return object_; }
    Interface** put() { return &object_; }
    void** putVoid() { return reinterpret_cast<void**>(&object_); }

private:
    Interface* object_ = nullptr;
};

// COM must be running on the calling thread, which may be any thread of the
// CLI's pool; a thread that already runs COM in another model keeps it.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (result_ >= 0) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool usable() const { return result_ >= 0 || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

bool createFactory(ComRef<IWICImagingFactory>& factory) {
    return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                            factory.putVoid()) >= 0;
}

bool fitsUint(std::size_t value) {
    return value <= std::numeric_limits<UINT>::max();
}

std::optional<std::vector<std::uint8_t>> decodeWith(IWICImagingFactory* factory, Bytes png,
                                                    std::uint32_t width, std::uint32_t height) {
    ComRef<IWICStream> stream;
    if (factory->CreateStream(stream.put()) < 0) return std::nullopt;
    // The stream only reads; the cast merely meets the call's signature.
    auto* bytes = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(png.data()));
    if (!fitsUint(png.size()) || stream->InitializeFromMemory(bytes, static_cast<DWORD>(png.size())) < 0) {
        return std::nullopt;
    }
    ComRef<IWICBitmapDecoder> decoder;
    if (factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, decoder.put()) < 0) return std::nullopt;
    if (decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand) < 0) return std::nullopt;
    ComRef<IWICBitmapFrameDecode> frame;
    if (decoder->GetFrame(0, frame.put()) < 0) return std::nullopt;
    UINT frameWidth = 0, frameHeight = 0;
    if (frame->GetSize(&frameWidth, &frameHeight) < 0 || frameWidth != width || frameHeight != height) {
        return std::nullopt;
    }
    ComRef<IWICBitmapSource> converted;
    if (WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.get(), converted.put()) < 0) {
        return std::nullopt;
    }
    const std::size_t stride = std::size_t{width} * 4;
    std::vector<std::uint8_t> pixels(stride * height);
    if (!fitsUint(pixels.size()) ||
        converted->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(pixels.size()),
                              pixels.data()) < 0) {
        return std::nullopt;
    }
    return pixels;
}

bool setFilter(IPropertyBag2* options, bool fast) {
    if (!fast) return true;
    // Differences from the left neighbour: cheap, and good for icon art.
    wchar_t name[] = L"FilterOption";
    PROPBAG2 option{};
    option.pstrName = name;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_UI1;
    value.bVal = WICPngFilterSub;
    return options->Write(1, &option, &value) >= 0;
}

bool writeFrame(IWICBitmapEncoder* encoder, const std::vector<std::uint8_t>& bgra, std::uint32_t width,
                std::uint32_t height, bool fast) {
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    if (encoder->CreateNewFrame(frame.put(), options.put()) < 0) return false;
    if (!setFilter(options.get(), fast) || frame->Initialize(options.get()) < 0) return false;
    if (frame->SetSize(width, height) < 0) return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (frame->SetPixelFormat(&format) < 0 || !IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA))
        return false;
    const std::size_t stride = std::size_t{width} * 4;
    auto* pixels = const_cast<BYTE*>(bgra.data());  // read only, as above
    if (!fitsUint(bgra.size()) ||
        frame->WritePixels(height, static_cast<UINT>(stride), static_cast<UINT>(bgra.size()), pixels) < 0) {
        return false;
    }
    return frame->Commit() >= 0;
}

std::optional<std::vector<std::uint8_t>> streamBytes(IStream* stream) {
    STATSTG status{};
    if (stream->Stat(&status, STATFLAG_NONAME) < 0) return std::nullopt;
    if (status.cbSize.QuadPart > std::numeric_limits<ULONG>::max()) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.cbSize.QuadPart));
    LARGE_INTEGER start{};
    ULONG read = 0;
    if (stream->Seek(start, STREAM_SEEK_SET, nullptr) < 0) return std::nullopt;
    if (stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read) < 0 || read != bytes.size()) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBgra(Bytes png, std::uint32_t width, std::uint32_t height) {
    const ComScope com;
    ComRef<IWICImagingFactory> factory;
    if (!com.usable() || !createFactory(factory)) return std::nullopt;
    return decodeWith(factory.get(), png, width, height);
}

bool decodes(Bytes png, std::uint32_t width, std::uint32_t height) {
    return decodeBgra(png, width, height).has_value();
}

std::optional<std::vector<std::uint8_t>> encodeBgra(std::vector<std::uint8_t> bgra, std::uint32_t width,
                                                    std::uint32_t height, bool fast) {
    const ComScope com;
    ComRef<IWICImagingFactory> factory;
    if (!com.usable() || !createFactory(factory)) return std::nullopt;
    ComRef<IStream> stream;
    if (CreateStreamOnHGlobal(nullptr, TRUE, stream.put()) < 0) return std::nullopt;
    ComRef<IWICBitmapEncoder> encoder;
    if (factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put()) < 0) return std::nullopt;
    if (encoder->Initialize(stream.get(), WICBitmapEncoderNoCache) < 0) return std::nullopt;
    if (!writeFrame(encoder.get(), bgra, width, height, fast) || encoder->Commit() < 0) return std::nullopt;
    return streamBytes(stream.get());
}

}  // namespace pictrove::png_codec
