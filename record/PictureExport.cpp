#include "record/PictureExport.h"

#include <objbase.h>
#include <wincodec.h>

#include <cstdio>
#include <cstring>

#include "record/RecordFormat.h"
#include "ui/Exception.h"

namespace ts {
namespace {

template <class T>
class TCom {
 public:
  TCom() = default;
  ~TCom() {
    if (p_) p_->Release();
  }
  TCom(const TCom&) = delete;
  TCom& operator=(const TCom&) = delete;
  T** operator&() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

void Check(HRESULT hr, const char* step) {
  if (FAILED(hr)) {
    char text[96];
    std::snprintf(text, sizeof text, "WIC: %s failed (0x%08lX)", step, static_cast<unsigned long>(hr));
    throw Exception(text);
  }
}

// WIC needs COM on the calling thread; an apartment someone else chose is fine.
void EnsureCom() {
  static thread_local bool done = [] {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
  }();
  (void)done;
}

void Factory(TCom<IWICImagingFactory>& factory) {
  EnsureCom();
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(&factory)),
        "creating the imaging factory");
}

std::wstring TextPath(const std::string& key) {
  return L"/tEXt/{str=" + std::wstring(key.begin(), key.end()) + L"}";
}

void Put32BE(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// Adds tEXt chunks just before IEND, which ends every PNG in its last 12 bytes.
void InsertTextChunks(const std::wstring& fileName, const std::vector<TPngText>& texts) {
  FILE* f = _wfopen(fileName.c_str(), L"rb");
  if (!f) throw Exception("Cannot open file for the text fields");
  std::vector<uint8_t> png;
  uint8_t buffer[1 << 16];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) png.insert(png.end(), buffer, buffer + n);
  fclose(f);
  if (png.size() < 20 || std::memcmp(png.data() + png.size() - 8, "IEND", 4) != 0)
    throw Exception("WIC wrote a PNG that does not end with IEND");
  std::vector<uint8_t> chunks;
  for (const TPngText& t : texts) {
    std::vector<uint8_t> body{'t', 'E', 'X', 't'};
    body.insert(body.end(), t.Key.begin(), t.Key.end());
    body.push_back(0);
    body.insert(body.end(), t.Value.begin(), t.Value.end());
    Put32BE(chunks, uint32_t(body.size() - 4));
    chunks.insert(chunks.end(), body.begin(), body.end());
    Put32BE(chunks, Crc32(body.data(), body.size()));
  }
  png.insert(png.end() - 12, chunks.begin(), chunks.end());
  f = _wfopen(fileName.c_str(), L"wb");
  if (!f || fwrite(png.data(), 1, png.size(), f) != png.size()) {
    if (f) fclose(f);
    throw Exception("Cannot write the text fields");
  }
  fclose(f);
}

}  // namespace

TPixels PixelsOf(HBITMAP bitmap, int width, int height) {
  TPixels out{width, height, std::vector<uint32_t>(size_t(width) * height)};
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, bitmap, 0, UINT(height), out.Data.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  for (auto& p : out.Data) p &= 0xFFFFFF;
  return out;
}

void SavePng(const TPixels& pixels, const std::wstring& fileName, const std::vector<TPngText>& texts,
             bool* wicWroteTexts) {
  TCom<IWICImagingFactory> factory;
  Factory(factory);
  bool wic = !texts.empty();
  {
    TCom<IWICStream> stream;
    Check(factory->CreateStream(&stream), "creating a stream");
    Check(stream->InitializeFromFilename(fileName.c_str(), GENERIC_WRITE), "creating the file");
    TCom<IWICBitmapEncoder> encoder;
    Check(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "creating the PNG encoder");
    Check(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache), "starting the PNG encoder");
    TCom<IWICBitmapFrameEncode> frame;
    TCom<IPropertyBag2> options;
    Check(encoder->CreateNewFrame(&frame, &options), "creating the frame");
    Check(frame->Initialize(options.get()), "starting the frame");
    Check(frame->SetSize(UINT(pixels.Width), UINT(pixels.Height)), "sizing the frame");
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    Check(frame->SetPixelFormat(&format), "choosing the pixel format");
    if (format != GUID_WICPixelFormat24bppBGR) throw Exception("WIC: the PNG encoder refuses 24-bit pixels");
    TCom<IWICMetadataQueryWriter> writer;
    if (wic && SUCCEEDED(frame->GetMetadataQueryWriter(&writer))) {
      for (const TPngText& t : texts) {
        PROPVARIANT value{};
        value.vt = VT_LPSTR;
        value.pszVal = const_cast<char*>(t.Value.c_str());
        wic = wic && SUCCEEDED(writer->SetMetadataByName(TextPath(t.Key).c_str(), &value));
      }
    } else {
      wic = false;
    }
    const UINT stride = (UINT(pixels.Width) * 3 + 3) & ~3u;
    std::vector<uint8_t> rows(size_t(stride) * pixels.Height);
    for (int y = 0; y < pixels.Height; ++y)
      for (int x = 0; x < pixels.Width; ++x) {
        const uint32_t p = pixels.Data[size_t(y) * pixels.Width + x];
        uint8_t* q = rows.data() + size_t(y) * stride + size_t(x) * 3;
        q[0] = uint8_t(p);
        q[1] = uint8_t(p >> 8);
        q[2] = uint8_t(p >> 16);
      }
    Check(frame->WritePixels(UINT(pixels.Height), stride, UINT(rows.size()), rows.data()),
          "writing the pixels");
    Check(frame->Commit(), "finishing the frame");
    Check(encoder->Commit(), "finishing the file");
  }
  if (!wic && !texts.empty()) InsertTextChunks(fileName, texts);
  if (wicWroteTexts) *wicWroteTexts = wic;
}

TPixels LoadPng(const std::wstring& fileName, std::vector<TPngText>* texts) {
  TCom<IWICImagingFactory> factory;
  Factory(factory);
  TCom<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromFilename(fileName.c_str(), nullptr, GENERIC_READ,
                                           WICDecodeMetadataCacheOnLoad, &decoder),
        "opening the picture");
  TCom<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, &frame), "reading the frame");
  UINT w = 0, h = 0;
  Check(frame->GetSize(&w, &h), "reading the size");
  TCom<IWICBitmapSource> converted;
  Check(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.get(), &converted),
        "converting the pixels");
  TPixels out{int(w), int(h), std::vector<uint32_t>(size_t(w) * h)};
  Check(converted->CopyPixels(nullptr, w * 4, w * 4 * h, reinterpret_cast<BYTE*>(out.Data.data())),
        "copying the pixels");
  for (auto& p : out.Data) p &= 0xFFFFFF;
  if (texts) {
    std::vector<TPngText> found;
    TCom<IWICMetadataQueryReader> reader;
    if (SUCCEEDED(frame->GetMetadataQueryReader(&reader)))
      for (const TPngText& t : *texts)
        // Each tEXt chunk is a block of its own: the n-th is "/[n]tEXt".
        for (int n = 0; n < 16; ++n) {
          const std::wstring path = (n ? L"/[" + std::to_wstring(n) + L"]tEXt" : std::wstring(L"/tEXt")) +
                                    TextPath(t.Key).substr(5);
          PROPVARIANT value;
          PropVariantInit(&value);
          const bool got = SUCCEEDED(reader->GetMetadataByName(path.c_str(), &value));
          if (got && value.vt == VT_LPSTR && value.pszVal) found.push_back({t.Key, value.pszVal});
          PropVariantClear(&value);
          if (got) break;
        }
    *texts = found;
  }
  return out;
}

}  // namespace ts
