#include "tests/windows/record/PictureDecode.h"

#include <wincodec.h>

namespace ts {
namespace {

TComPtr<IWICBitmapDecoder> Decoder(const std::wstring& fileName) {
  TComPtr<IWICImagingFactory> factory;
  ImagingFactory(factory);
  TComPtr<IWICBitmapDecoder> decoder;
  CheckImaging(factory->CreateDecoderFromFilename(fileName.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnLoad, decoder.Receive()),
               "opening the picture");
  return decoder;
}

TPixels FramePixels(IWICBitmapFrameDecode* frame) {
  UINT w = 0, h = 0;
  CheckImaging(frame->GetSize(&w, &h), "reading the size");
  TComPtr<IWICBitmapSource> converted;
  CheckImaging(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame, converted.Receive()),
               "converting the pixels");
  TPixels out{int(w), int(h), std::vector<uint32_t>(size_t(w) * h)};
  CheckImaging(converted->CopyPixels(nullptr, w * 4, w * 4 * h, reinterpret_cast<BYTE*>(out.Data.data())),
               "copying the pixels");
  for (auto& p : out.Data) p &= 0xFFFFFF;
  return out;
}

// The frame's metadata at `path`, when it is of type `vt`.
template <class F>
void Metadata(IWICBitmapFrameDecode* frame, const std::wstring& path, VARTYPE vt, F take) {
  TComPtr<IWICMetadataQueryReader> reader;
  if (FAILED(frame->GetMetadataQueryReader(reader.Receive()))) return;
  PROPVARIANT value;
  PropVariantInit(&value);
  if (SUCCEEDED(reader->GetMetadataByName(path.c_str(), &value)) && value.vt == vt) take(value);
  PropVariantClear(&value);
}

}  // namespace

TPixels LoadPng(const std::wstring& fileName, std::vector<TPngText>* texts) {
  TComPtr<IWICBitmapDecoder> decoder = Decoder(fileName);
  TComPtr<IWICBitmapFrameDecode> frame;
  CheckImaging(decoder->GetFrame(0, frame.Receive()), "reading the frame");
  TPixels out = FramePixels(frame.Get());
  if (texts) {
    std::vector<TPngText> found;
    for (const TPngText& t : *texts)
      // Each tEXt chunk is a block of its own: the n-th is "/[n]tEXt".
      for (int n = 0; n < 16 && (found.empty() || found.back().Key != t.Key); ++n)
        Metadata(frame.Get(),
                 (n ? L"/[" + std::to_wstring(n) + L"]tEXt" : std::wstring(L"/tEXt")) + L"/{str=" +
                     std::wstring(t.Key.begin(), t.Key.end()) + L"}",
                 VT_LPSTR, [&](const PROPVARIANT& v) {
                   if (v.pszVal) found.push_back({t.Key, v.pszVal});
                 });
    *texts = found;
  }
  return out;
}

std::vector<TPixels> LoadGif(const std::wstring& fileName, std::vector<int>* delays) {
  TComPtr<IWICBitmapDecoder> decoder = Decoder(fileName);
  UINT count = 0;
  CheckImaging(decoder->GetFrameCount(&count), "counting the frames");
  std::vector<TPixels> out;
  if (delays) delays->clear();
  for (UINT i = 0; i < count; ++i) {
    TComPtr<IWICBitmapFrameDecode> frame;
    CheckImaging(decoder->GetFrame(i, frame.Receive()), "reading a frame");
    out.push_back(FramePixels(frame.Get()));
    if (delays) {
      int d = 0;
      Metadata(frame.Get(), L"/grctlext/Delay", VT_UI2, [&](const PROPVARIANT& v) { d = v.uiVal; });
      delays->push_back(d);
    }
  }
  return out;
}

}  // namespace ts
