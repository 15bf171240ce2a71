#include "record/PictureExport.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "record/RecordFormat.h"
#include "ui/Cp1251.h"
#include "ui/Exception.h"
#include "ui/File.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

// WIC needs COM on the calling thread; an apartment someone else chose is fine.
void EnsureCom() {
  static thread_local bool done = [] {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
  }();
  (void)done;
}

}  // namespace

void CheckImaging(HRESULT hr, const char* step) {
  if (FAILED(hr)) {
    char text[96];
    std::snprintf(text, sizeof text, "WIC: %s failed (0x%08lX)", step, static_cast<unsigned long>(hr));
    throw Exception(text);
  }
}

void ImagingFactory(TComPtr<IWICImagingFactory>& factory) {
  EnsureCom();
  CheckImaging(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Receive())),
               "creating the imaging factory");
}

namespace {

std::wstring TextPath(const std::string& key) {
  return L"/tEXt/{str=" + std::wstring(key.begin(), key.end()) + L"}";
}

void Put32BE(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

[[noreturn]] void FileFailed(const TFile& file) { throw Exception(file.FailureCode()); }

// Writes a file through a buffer, for the GIF's many small pieces.
class TFileOut {
 public:
  explicit TFileOut(TFile& file) : file_(file) {}
  void Put(const uint8_t* data, size_t n) {
    if (buffer_.size() + n > kBuffer) Drain();
    if (n >= kBuffer)
      Write(data, n);
    else
      buffer_.insert(buffer_.end(), data, data + n);
  }
  void Put(const std::vector<uint8_t>& bytes) { Put(bytes.data(), bytes.size()); }
  void Drain() {
    Write(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr size_t kBuffer = 1 << 16;
  void Write(const uint8_t* data, size_t n) {
    if (!file_.Write(data, n)) FileFailed(file_);
  }
  TFile& file_;
  std::vector<uint8_t> buffer_;
};

// Adds tEXt chunks just before IEND, which ends every PNG in its last 12 bytes.
void InsertTextChunks(const std::wstring& fileName, const std::vector<TPngText>& texts) {
  std::vector<uint8_t> png;
  if (TFile in; !in.Open(fileName, TFileMode::Read) || !in.ReadAll(png)) FileFailed(in);
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
  TFile out;
  if (!out.Open(fileName, TFileMode::Create) || !out.Write(png) || !out.Close()) FileFailed(out);
}

// LZW as GIF has it: codes of 3 to 12 bits, least significant bit first, in
// sub-blocks of up to 255 bytes; the table starts afresh when it is full. With
// two colours a string's next code is found by one look-up of its code and the
// pixel.
class TGifImageData {
 public:
  explicit TGifImageData(TFileOut& out) : out_(out) {}
  void Encode(const uint8_t* pixels, size_t count) {
    const uint8_t minimum = kMinimumCodeSize;
    out_.Put(&minimum, 1);
    Restart();
    Code(kClear);
    int prefix = count ? pixels[0] : -1;
    for (size_t i = 1; i < count; ++i) {
      int16_t& known = next_[size_t(prefix) * 2 + pixels[i]];
      if (known >= 0) {
        prefix = known;
        continue;
      }
      Code(prefix);
      prefix = pixels[i];
      if (codes_ < kMaxCodes) {
        known = int16_t(codes_++);
        if (codes_ > 1 << width_) ++width_;
      } else {
        Code(kClear);
        Restart();
      }
    }
    if (prefix >= 0) Code(prefix);
    // A reader adds a string for that last code, and may widen for the end's.
    if (codes_ >= 1 << width_ && width_ < 12) ++width_;
    Code(kEnd);
    if (bitCount_) Byte(uint8_t(bits_));
    if (!block_.empty()) Flush();
    const uint8_t terminator = 0;
    out_.Put(&terminator, 1);
  }

 private:
  static constexpr uint8_t kMinimumCodeSize = 2;  // the least a GIF allows
  static constexpr int kClear = 1 << kMinimumCodeSize, kEnd = kClear + 1, kMaxCodes = 4096;
  void Restart() {
    std::fill(next_.begin(), next_.end(), int16_t(-1));
    codes_ = kEnd + 1;
    width_ = kMinimumCodeSize + 1;
  }
  void Code(int code) {
    bits_ |= uint32_t(code) << bitCount_;
    for (bitCount_ += width_; bitCount_ >= 8; bitCount_ -= 8, bits_ >>= 8) Byte(uint8_t(bits_));
  }
  void Byte(uint8_t b) {
    block_.push_back(b);
    if (block_.size() == 255) Flush();
  }
  void Flush() {
    const uint8_t n = uint8_t(block_.size());
    out_.Put(&n, 1);
    out_.Put(block_);
    block_.clear();
  }
  TFileOut& out_;
  std::array<int16_t, kMaxCodes * 2> next_{};
  int codes_ = 0, width_ = 0;
  uint32_t bits_ = 0;
  int bitCount_ = 0;
  std::vector<uint8_t> block_;
};

}  // namespace

void SavePng(const TPixels& pixels, const std::wstring& fileName, const std::vector<TPngText>& texts,
             bool* wicWroteTexts, bool replace) {
  TPartFile file(fileName);
  const std::wstring& part = file.Name();
  TComPtr<IWICImagingFactory> factory;
  ImagingFactory(factory);
  bool wic = !texts.empty();
  {
    TComPtr<IWICStream> stream;
    CheckImaging(factory->CreateStream(stream.Receive()), "creating a stream");
    CheckImaging(stream->InitializeFromFilename(part.c_str(), GENERIC_WRITE), "creating the file");
    TComPtr<IWICBitmapEncoder> encoder;
    CheckImaging(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Receive()),
                 "creating the PNG encoder");
    CheckImaging(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "starting the PNG encoder");
    TComPtr<IWICBitmapFrameEncode> frame;
    TComPtr<IPropertyBag2> options;
    CheckImaging(encoder->CreateNewFrame(frame.Receive(), options.Receive()), "creating the frame");
    CheckImaging(frame->Initialize(options.Get()), "starting the frame");
    CheckImaging(frame->SetSize(UINT(pixels.Width), UINT(pixels.Height)), "sizing the frame");
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    CheckImaging(frame->SetPixelFormat(&format), "choosing the pixel format");
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
    CheckImaging(frame->WritePixels(UINT(pixels.Height), stride, UINT(rows.size()), rows.data()),
                 "writing the pixels");
    CheckImaging(frame->Commit(), "finishing the frame");
    CheckImaging(encoder->Commit(), "finishing the file");
  }
  if (!wic && !texts.empty()) InsertTextChunks(part, texts);
  if (!file.Publish(replace)) FileFailed(file.File());
  if (wicWroteTexts) *wicWroteTexts = wic;
}

TNumberedPngs::TNumberedPngs(const std::wstring& fileName) {
  const size_t dot = fileName.find_last_of(L'.'), slash = fileName.find_last_of(L"\\/");
  stem_ = dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash) ? fileName
                                                                                    : fileName.substr(0, dot);
}

TNumberedPngs::~TNumberedPngs() {
  for (const std::wstring& file : written_) DeleteFileW(file.c_str());
}

void TNumberedPngs::Add(const TPixels& pixels) {
  wchar_t number[24];
  swprintf(number, 24, L"_%05zu.png", ++count_);
  const std::wstring file = stem_ + number;
  // Said before the work of encoding; the publish refuses a name taken meanwhile.
  if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
    throw Exception("файл " + Narrow(file) +
                    " уже есть, а экспорт не заменяет файлов. Дайте другое имя или выберите другую папку.");
  SavePng(pixels, file, {}, nullptr, false);
  written_.push_back(file);
}

struct TGifWriter::TState {
  explicit TState(const std::wstring& fileName) : part(fileName), out(part.File()) {
    if (!part.File().Open(part.Name(), TFileMode::Create)) FileFailed(part.File());
  }
  TPartFile part;
  TFileOut out;
  int width = 0, height = 0;
  std::vector<uint8_t> indexes;
};

TGifWriter::TGifWriter(const std::wstring& fileName) : state_(std::make_unique<TState>(fileName)) {}

// The part closes its file and removes itself unless published.
TGifWriter::~TGifWriter() = default;

void TGifWriter::Add(const std::vector<uint32_t>& pixels, int width, int height, int64_t hundredths) {
  TState& s = *state_;
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF ||
      pixels.size() < size_t(width) * size_t(height) || (s.width && (width != s.width || height != s.height)))
    throw Exception("GIF: a frame of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels cannot be written");
  auto put16 = [](uint8_t* p, int v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  };
  if (!s.width) {
    s.width = width;
    s.height = height;
    // Black and white in a table of two; the animation repeats for ever.
    uint8_t head[13 + 6 + 19] = {'G', 'I', 'F', '8', '9', 'a', 0,    0,    0,    0,   0x80, 0,   0,
                                 0,   0,   0,   255, 255, 255, 0x21, 0xFF, 0x0B, 'N', 'E',  'T', 'S',
                                 'C', 'A', 'P', 'E', '2', '.', '0',  3,    1,    0,   0,    0};
    put16(head + 6, width);
    put16(head + 8, height);
    s.out.Put(head, sizeof head);
  }
  s.indexes.resize(size_t(width) * height);
  for (size_t k = 0; k < s.indexes.size(); ++k) s.indexes[k] = pixels[k] & 0x800000 ? 1 : 0;
  do {
    const uint16_t delay = uint16_t(std::clamp<int64_t>(hundredths, 0, 0xFFFF));
    hundredths -= delay;
    // Each frame is kept under the next, and covers the whole picture.
    uint8_t head[8 + 10] = {0x21, 0xF9, 4, 0x04, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put16(head + 4, delay);
    put16(head + 13, width);
    put16(head + 15, height);
    s.out.Put(head, sizeof head);
    TGifImageData(s.out).Encode(s.indexes.data(), s.indexes.size());
  } while (hundredths > 0);
}

void TGifWriter::Finish() {
  TState& s = *state_;
  const uint8_t trailer = 0x3B;
  s.out.Put(&trailer, 1);
  s.out.Drain();
  if (!s.part.Publish()) FileFailed(s.part.File());
}

}  // namespace ts
