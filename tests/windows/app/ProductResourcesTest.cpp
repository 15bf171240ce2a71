// The shipped programs' resources as Windows reads them: the version through the
// version API, the manifest parsed, the icon's sizes. TS_PRODUCT_DIRS names the
// folders of the shipped exes (one per architecture, separated by ';').

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>
#include <xmllite.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "res/Resources.h"
#include "ui/Cp1251.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

std::vector<std::wstring> ShippedExes() {
  std::vector<std::wstring> exes;
  const char* dirs = std::getenv("TS_PRODUCT_DIRS");
  std::string all = dirs ? dirs : "";
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    const std::wstring dir = Widen(all.substr(start, end - start));
    for (const wchar_t* name : {L"\\Virtual_TS4170.exe", L"\\TS4170_Simulator.exe"})
      exes.push_back(dir + name);
    start = end + 1;
  }
  return exes;
}

struct TModuleTraits {
  using TValue = HMODULE;
  static bool Valid(HMODULE h) { return h != nullptr; }
  static bool Free(HMODULE h) { return FreeLibrary(h) != 0; }
};
using TModule = TOwned<TModuleTraits>;

std::string Resource(HMODULE module, const wchar_t* type, int id) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!found) return {};
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

std::wstring VersionString(const std::vector<uint8_t>& info, const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\041904B0\\") + name;
  if (!VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !length)
    return {};
  return value;
}

// Every element of the manifest as path -> its attributes and text.
struct TElement {
  std::map<std::wstring, std::wstring> Attributes;
  std::wstring Text;
};
std::multimap<std::wstring, TElement> ParseManifest(HMODULE xmlLite, const std::string& xml) {
  std::multimap<std::wstring, TElement> elements;
  // The toolchain has no import library for the system's XML reader.
  const auto createReader = reinterpret_cast<decltype(&CreateXmlReader)>(
      reinterpret_cast<void*>(GetProcAddress(xmlLite, "CreateXmlReader")));
  TComPtr<IStream> stream(
      SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()), static_cast<UINT>(xml.size())));
  TComPtr<IXmlReader> reader;
  if (!createReader || !stream ||
      FAILED(createReader(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.Receive()), nullptr)) ||
      FAILED(reader->SetInput(stream.Get())))
    return elements;
  std::vector<std::wstring> path;
  std::multimap<std::wstring, TElement>::iterator current = elements.end();
  XmlNodeType node;
  HRESULT hr;
  while ((hr = reader->Read(&node)) == S_OK) {
    const wchar_t* name = nullptr;
    if (node == XmlNodeType_Element) {
      reader->GetLocalName(&name, nullptr);
      const bool empty = reader->IsEmptyElement();
      path.push_back(name);
      std::wstring key;
      for (const std::wstring& part : path) key += L"/" + part;
      TElement element;
      for (HRESULT a = reader->MoveToFirstAttribute(); a == S_OK; a = reader->MoveToNextAttribute()) {
        const wchar_t *attribute = nullptr, *value = nullptr;
        reader->GetLocalName(&attribute, nullptr);
        reader->GetValue(&value, nullptr);
        element.Attributes[attribute] = value;
      }
      current = elements.emplace(key, element);
      if (empty) path.pop_back();
    } else if (node == XmlNodeType_Text && current != elements.end()) {
      const wchar_t* value = nullptr;
      reader->GetValue(&value, nullptr);
      current->second.Text += value;
    } else if (node == XmlNodeType_EndElement) {
      path.pop_back();
    }
  }
  if (FAILED(hr)) elements.clear();
  return elements;
}

TEST(ProductResources, EveryShippedExeCarriesVersionManifestAndIcon) {
  const std::vector<std::wstring> exes = ShippedExes();
  if (exes.empty()) GTEST_SKIP() << "TS_PRODUCT_DIRS names no shipped programs";
  const TModule xmlLite(LoadLibraryW(L"xmllite.dll"));
  ASSERT_TRUE(xmlLite);
  // Each exe's icon images, so that the programs can be told apart by them.
  std::map<std::wstring, std::string> icons;
  for (const std::wstring& exe : exes) {
    SCOPED_TRACE(Narrow(exe));
    const std::wstring name = exe.substr(exe.rfind(L'\\') + 1);

    // The version, as Explorer's details and inventories read it.
    DWORD ignored = 0;
    std::vector<uint8_t> info(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    ASSERT_FALSE(info.empty()) << "no version information";
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    std::cout << Narrow(name) << ": version " << version << "\n";
    EXPECT_EQ(version, TS_VERSION);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(Narrow(VersionString(info, L"FileVersion")), TS_VERSION);
    EXPECT_EQ(Narrow(VersionString(info, L"ProductVersion")), TS_VERSION);
    EXPECT_EQ(VersionString(info, L"ProductName"), L"Virtual_TS4170");
    EXPECT_EQ(VersionString(info, L"OriginalFilename"), name);
    EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
    // Who made it, as an inventory lists it: a company, and its copyright.
    const std::wstring company = VersionString(info, L"CompanyName");
    EXPECT_FALSE(company.empty());
    EXPECT_NE(company, L"Virtual_TS4170");
    EXPECT_NE(VersionString(info, L"LegalCopyright").find(L"Copyright"), std::wstring::npos);
    EXPECT_NE(VersionString(info, L"LegalCopyright").find(company), std::wstring::npos);

    const TModule module(
        LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);

    // The icon group: the sizes Explorer, shortcuts and the taskbar ask for (0 is 256).
    const std::string group = Resource(module.Get(), RT_GROUP_ICON, TS_PROGRAM_ICON);
    ASSERT_GE(group.size(), 6u);
    const size_t count = static_cast<uint8_t>(group[4]) | static_cast<uint8_t>(group[5]) << 8;
    ASSERT_EQ(group.size(), 6 + 14 * count);
    std::set<int> sizes;
    for (size_t i = 0; i < count; ++i) {
      sizes.insert(static_cast<uint8_t>(group[6 + 14 * i]));
      const int id =
          static_cast<uint8_t>(group[6 + 14 * i + 12]) | static_cast<uint8_t>(group[6 + 14 * i + 13]) << 8;
      icons[exe] += Resource(module.Get(), RT_ICON, id);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 0}));

    // The manifest: visual styles, no elevation, the systems, the dpi awareness.
    const auto manifest = ParseManifest(xmlLite.Get(), Resource(module.Get(), RT_MANIFEST, 1));
    ASSERT_FALSE(manifest.empty()) << "no manifest, or not well-formed";
    const std::wstring dependency = L"/assembly/dependency/dependentAssembly/assemblyIdentity";
    ASSERT_EQ(manifest.count(dependency), 1u);
    const auto& controls = manifest.find(dependency)->second.Attributes;
    EXPECT_EQ(controls.at(L"name"), L"Microsoft.Windows.Common-Controls");
    EXPECT_EQ(controls.at(L"version"), L"6.0.0.0");
    EXPECT_EQ(controls.at(L"publicKeyToken"), L"6595b64144ccf1df");
    const std::wstring level = L"/assembly/trustInfo/security/requestedPrivileges/requestedExecutionLevel";
    ASSERT_EQ(manifest.count(level), 1u);
    EXPECT_EQ(manifest.find(level)->second.Attributes.at(L"level"), L"asInvoker");
    std::set<std::wstring> systems;
    auto [first, last] = manifest.equal_range(L"/assembly/compatibility/application/supportedOS");
    for (auto it = first; it != last; ++it) systems.insert(it->second.Attributes.at(L"Id"));
    EXPECT_EQ(systems,
              (std::set<std::wstring>{
                  L"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", L"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                  L"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}));
    // The simulator's window is laid out in fixed pixels: the system scales it.
    const std::wstring settings = L"/assembly/application/windowsSettings/";
    if (name == L"TS4170_Simulator.exe") {
      EXPECT_EQ(manifest.count(settings + L"dpiAwareness") + manifest.count(settings + L"dpiAware"), 0u);
      continue;
    }
    ASSERT_EQ(manifest.count(settings + L"dpiAwareness"), 1u);
    EXPECT_EQ(manifest.find(settings + L"dpiAwareness")->second.Text.rfind(L"PerMonitorV2", 0), 0u);
    ASSERT_EQ(manifest.count(settings + L"dpiAware"), 1u);
    EXPECT_EQ(manifest.find(settings + L"dpiAware")->second.Text, L"true/pm");
  }
  for (size_t i = 0; i + 1 < exes.size(); i += 2)
    EXPECT_TRUE(icons[exes[i]] != icons[exes[i + 1]]) << Narrow(exes[i + 1]) << " has the program's icon";
}

}  // namespace
}  // namespace ts
