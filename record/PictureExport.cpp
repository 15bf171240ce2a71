#include "record/PictureExport.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "record/FrameBuilder.h"
#include "record/RecordFormat.h"
#include "ui/Exception.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

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

void Factory(TComPtr<IWICImagingFactory>& factory) {
  EnsureCom();
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(factory.Receive())),
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

// Puts a graphic control extension with the frame's delay before each image
// of a GIF that has none, and a loop-forever extension after the screen's
// colour table: Wine's GIF encoder writes neither. Walks the blocks as the
// format lays them out; anything else is left as it was.
std::vector<uint8_t> AddGifDelays(const std::vector<uint8_t>& gif, const std::vector<int>& delays) {
  if (gif.size() < 13 || std::memcmp(gif.data(), "GIF8", 4) != 0) throw Exception("WIC wrote no GIF");
  size_t pos = 13;
  if (gif[10] & 0x80) pos += size_t(3) << ((gif[10] & 7) + 1);
  std::vector<uint8_t> out(gif.begin(), gif.begin() + ptrdiff_t(pos));
  const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P',
                          'E',  '2',  '.',  '0', 3,   1,   0,   0,   0};
  out.insert(out.end(), loop, loop + sizeof loop);
  auto copySubBlocks = [&](size_t& p) {
    while (p < gif.size()) {
      const size_t n = gif[p];
      out.insert(out.end(), gif.begin() + ptrdiff_t(p),
                 gif.begin() + ptrdiff_t(std::min(gif.size(), p + 1 + n)));
      p += 1 + n;
      if (n == 0) return;
    }
    throw Exception("WIC wrote a GIF cut short");
  };
  size_t image = 0;
  bool hasControl = false;
  while (pos < gif.size()) {
    const uint8_t kind = gif[pos];
    if (kind == 0x3B) {
      out.push_back(kind);
      return out;
    }
    if (kind == 0x21) {
      hasControl = hasControl || (pos + 1 < gif.size() && gif[pos + 1] == 0xF9);
      out.push_back(gif[pos]);
      out.push_back(gif[pos + 1]);
      pos += 2;
      copySubBlocks(pos);
    } else if (kind == 0x2C) {
      if (!hasControl) {
        const int d = image < delays.size() ? delays[image] : 0;
        const uint8_t control[] = {0x21, 0xF9, 4, 0x04, uint8_t(d), uint8_t(d >> 8), 0, 0};
        out.insert(out.end(), control, control + sizeof control);
      }
      hasControl = false;
      ++image;
      size_t end = pos + 10;
      if (end > gif.size()) break;
      if (gif[pos + 9] & 0x80) end += size_t(3) << ((gif[pos + 9] & 7) + 1);
      end += 1;  // the LZW code size
      if (end > gif.size()) break;
      out.insert(out.end(), gif.begin() + ptrdiff_t(pos), gif.begin() + ptrdiff_t(end));
      pos = end;
      copySubBlocks(pos);
    } else {
      break;
    }
  }
  throw Exception("WIC wrote a GIF this program cannot follow");
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& fileName) {
  FILE* f = _wfopen(fileName.c_str(), L"rb");
  if (!f) throw Exception("Cannot open file");
  std::vector<uint8_t> bytes;
  uint8_t buffer[1 << 16];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
  fclose(f);
  return bytes;
}

void WriteFileBytes(const std::wstring& fileName, const std::vector<uint8_t>& bytes) {
  FILE* f = _wfopen(fileName.c_str(), L"wb");
  if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    if (f) fclose(f);
    throw Exception("Cannot write file");
  }
  fclose(f);
}

// The file appears under its name only once it is whole.
void Publish(const std::wstring& part, const std::wstring& fileName) {
  if (!MoveFileExW(part.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(part.c_str());
    throw Exception("Cannot write file (error " + std::to_string(GetLastError()) + ")");
  }
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
  GetDIBits(TWindowDC(nullptr).Get(), bitmap, 0, UINT(height), out.Data.data(), &bi, DIB_RGB_COLORS);
  for (auto& p : out.Data) p &= 0xFFFFFF;
  return out;
}

void SavePng(const TPixels& pixels, const std::wstring& fileName, const std::vector<TPngText>& texts,
             bool* wicWroteTexts) {
  const std::wstring part = fileName + L".part";
  TComPtr<IWICImagingFactory> factory;
  Factory(factory);
  bool wic = !texts.empty();
  {
    TComPtr<IWICStream> stream;
    Check(factory->CreateStream(stream.Receive()), "creating a stream");
    Check(stream->InitializeFromFilename(part.c_str(), GENERIC_WRITE), "creating the file");
    TComPtr<IWICBitmapEncoder> encoder;
    Check(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Receive()),
          "creating the PNG encoder");
    Check(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "starting the PNG encoder");
    TComPtr<IWICBitmapFrameEncode> frame;
    TComPtr<IPropertyBag2> options;
    Check(encoder->CreateNewFrame(frame.Receive(), options.Receive()), "creating the frame");
    Check(frame->Initialize(options.Get()), "starting the frame");
    Check(frame->SetSize(UINT(pixels.Width), UINT(pixels.Height)), "sizing the frame");
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    Check(frame->SetPixelFormat(&format), "choosing the pixel format");
    if (format != GUID_WICPixelFormat24bppBGR) throw Exception("WIC: the PNG encoder refuses 24-bit pixels");
    TComPtr<IWICMetadataQueryWriter> writer;
    if (wic && SUCCEEDED(frame->GetMetadataQueryWriter(writer.Receive()))) {
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
  if (!wic && !texts.empty()) InsertTextChunks(part, texts);
  Publish(part, fileName);
  if (wicWroteTexts) *wicWroteTexts = wic;
}

TPixels LoadPng(const std::wstring& fileName, std::vector<TPngText>* texts) {
  TComPtr<IWICImagingFactory> factory;
  Factory(factory);
  TComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromFilename(fileName.c_str(), nullptr, GENERIC_READ,
                                           WICDecodeMetadataCacheOnLoad, decoder.Receive()),
        "opening the picture");
  TComPtr<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, frame.Receive()), "reading the frame");
  UINT w = 0, h = 0;
  Check(frame->GetSize(&w, &h), "reading the size");
  TComPtr<IWICBitmapSource> converted;
  Check(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.Get(), converted.Receive()),
        "converting the pixels");
  TPixels out{int(w), int(h), std::vector<uint32_t>(size_t(w) * h)};
  Check(converted->CopyPixels(nullptr, w * 4, w * 4 * h, reinterpret_cast<BYTE*>(out.Data.data())),
        "copying the pixels");
  for (auto& p : out.Data) p &= 0xFFFFFF;
  if (texts) {
    std::vector<TPngText> found;
    TComPtr<IWICMetadataQueryReader> reader;
    if (SUCCEEDED(frame->GetMetadataQueryReader(reader.Receive())))
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

void SaveGif(const std::vector<TPixels>& frames, const std::vector<int>& delays, const std::wstring& fileName,
             bool* wicWroteDelays) {
  const std::wstring part = fileName + L".part";
  TComPtr<IWICImagingFactory> factory;
  Factory(factory);
  bool wic = true;
  {  // the file is closed at the end of this block
    TComPtr<IWICStream> stream;
    Check(factory->CreateStream(stream.Receive()), "creating a stream");
    Check(stream->InitializeFromFilename(part.c_str(), GENERIC_WRITE), "creating the file");
    TComPtr<IWICBitmapEncoder> encoder;
    Check(factory->CreateEncoder(GUID_ContainerFormatGif, nullptr, encoder.Receive()),
          "creating the GIF encoder");
    Check(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "starting the GIF encoder");
    TComPtr<IWICPalette> palette;
    Check(factory->CreatePalette(palette.Receive()), "creating the palette");
    WICColor colours[2] = {0xFF000000, 0xFFFFFFFF};
    Check(palette->InitializeCustom(colours, 2), "filling the palette");
    for (size_t i = 0; i < frames.size(); ++i) {
      const TPixels& p = frames[i];
      TComPtr<IWICBitmapFrameEncode> frame;
      TComPtr<IPropertyBag2> options;
      Check(encoder->CreateNewFrame(frame.Receive(), options.Receive()), "creating a frame");
      Check(frame->Initialize(options.Get()), "starting a frame");
      Check(frame->SetSize(UINT(p.Width), UINT(p.Height)), "sizing a frame");
      WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
      Check(frame->SetPixelFormat(&format), "choosing the pixel format");
      if (format != GUID_WICPixelFormat8bppIndexed)
        throw Exception("WIC: the GIF encoder refuses 8-bit pixels");
      Check(frame->SetPalette(palette.Get()), "setting the palette");
      TComPtr<IWICMetadataQueryWriter> writer;
      PROPVARIANT delay{};
      delay.vt = VT_UI2;
      delay.uiVal = USHORT(i < delays.size() ? delays[i] : 0);
      wic = wic && SUCCEEDED(frame->GetMetadataQueryWriter(writer.Receive())) &&
            SUCCEEDED(writer->SetMetadataByName(L"/grctlext/Delay", &delay));
      std::vector<uint8_t> rows(size_t(p.Width) * p.Height);
      for (size_t k = 0; k < rows.size(); ++k) rows[k] = p.Data[k] & 0x800000 ? 1 : 0;
      Check(frame->WritePixels(UINT(p.Height), UINT(p.Width), UINT(rows.size()), rows.data()),
            "writing a frame");
      Check(frame->Commit(), "finishing a frame");
    }
    Check(encoder->Commit(), "finishing the file");
  }
  if (!wic) WriteFileBytes(part, AddGifDelays(ReadFileBytes(part), delays));
  Publish(part, fileName);
  if (wicWroteDelays) *wicWroteDelays = wic;
}

std::vector<TPixels> LoadGif(const std::wstring& fileName, std::vector<int>* delays) {
  TComPtr<IWICImagingFactory> factory;
  Factory(factory);
  TComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromFilename(fileName.c_str(), nullptr, GENERIC_READ,
                                           WICDecodeMetadataCacheOnLoad, decoder.Receive()),
        "opening the GIF");
  UINT count = 0;
  Check(decoder->GetFrameCount(&count), "counting the frames");
  std::vector<TPixels> out;
  if (delays) delays->clear();
  for (UINT i = 0; i < count; ++i) {
    TComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(i, frame.Receive()), "reading a frame");
    UINT w = 0, h = 0;
    Check(frame->GetSize(&w, &h), "reading a size");
    TComPtr<IWICBitmapSource> converted;
    Check(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.Get(), converted.Receive()),
          "converting a frame");
    TPixels p{int(w), int(h), std::vector<uint32_t>(size_t(w) * h)};
    Check(converted->CopyPixels(nullptr, w * 4, w * 4 * h, reinterpret_cast<BYTE*>(p.Data.data())),
          "copying a frame");
    for (auto& v : p.Data) v &= 0xFFFFFF;
    out.push_back(std::move(p));
    if (delays) {
      int d = 0;
      TComPtr<IWICMetadataQueryReader> reader;
      PROPVARIANT value;
      PropVariantInit(&value);
      if (SUCCEEDED(frame->GetMetadataQueryReader(reader.Receive())) &&
          SUCCEEDED(reader->GetMetadataByName(L"/grctlext/Delay", &value)) && value.vt == VT_UI2)
        d = value.uiVal;
      PropVariantClear(&value);
      delays->push_back(d);
    }
  }
  return out;
}

int64_t RecordingFrames(const std::vector<uint8_t>& recording, std::vector<TPixels>& frames,
                        std::vector<int>& delays, int64_t fromMicros, int64_t toMicros) {
  frames.clear();
  delays.clear();
  TRecordingReader reader(recording);
  TRecordedReport r;
  TFrameBuilder builder;
  std::vector<int64_t> starts;
  while (reader.Next(r)) {
    if (r.ReportID != 0 || !builder.Add(r.Data.data(), r.Size)) continue;
    if (!frames.empty() && frames.back().Data == builder.Pixels()) continue;
    // A frame replaced before the range begins is never seen in it.
    if (!starts.empty() && r.TimeMicros <= fromMicros) {
      frames.pop_back();
      starts.pop_back();
    }
    if (r.TimeMicros >= toMicros) break;
    frames.push_back({kPictureWidth, kPictureHeight, builder.Pixels()});
    starts.push_back(r.TimeMicros);
  }
  const int64_t last = std::min(toMicros, reader.LastTimeMicros());
  for (size_t i = 0; i < starts.size(); ++i) {
    const int64_t start = std::max(starts[i], fromMicros);
    const int64_t end = i + 1 < starts.size() ? starts[i + 1] : last;
    delays.push_back(int(std::max<int64_t>(1, (end - start + 5000) / 10000)));
  }
  return reader.LastTimeMicros();
}

}  // namespace ts
