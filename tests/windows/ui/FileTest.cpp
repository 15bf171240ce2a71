// The file: writes the system takes piecemeal, the texts of each failing step,
// and a part file that replaces the old one whole or leaves it as it was.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ui/Cp1251.h"
#include "ui/File.h"

namespace ts {
namespace {

BOOL WINAPI WriteThree(HANDLE file, LPCVOID data, DWORD n, LPDWORD done, LPOVERLAPPED at) {
  return WriteFile(file, data, n < 3 ? n : 3, done, at);
}
BOOL WINAPI WriteNothing(HANDLE, LPCVOID, DWORD, LPDWORD done, LPOVERLAPPED) {
  *done = 0;
  return TRUE;
}
BOOL WINAPI RefuseWrite(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

std::wstring Folder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"ts4170-file\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::string Contents(const std::wstring& name) {
  TFile file;
  std::vector<uint8_t> bytes;
  if (!file.Open(name, TFileMode::Read) || !file.ReadAll(bytes)) return "<" + file.FailureCode() + ">";
  return std::string(bytes.begin(), bytes.end());
}

void Put(const std::wstring& name, const std::string& text) {
  TFile file;
  ASSERT_TRUE(file.Open(name, TFileMode::Create) && file.Write(text.data(), text.size()) && file.Close());
}

TEST(File, EachStepWritesWholeOrSaysWhatFailed) {
  const std::wstring name = Folder() + L"step.bin";
  const std::string text = "ТС4170 writes this in pieces";
  struct {
    const char* what;
    TWriteFileCall write;
    TFileStep failed;
    std::string code, user;  // the user's text up to the system's
  } cases[] = {
      {"pieces of three bytes add up", &WriteThree, TFileStep::None, "", ""},
      {"a write that takes nothing", &WriteNothing, TFileStep::Write, "Cannot write file (error 112)",
       "Не записывается файл "},
      {"a refused write", &RefuseWrite, TFileStep::Write, "Cannot write file (error 5)",
       "Не записывается файл "},
      {"a file in no folder", nullptr, TFileStep::Create, "Cannot create file (error 3)",
       "Не создаётся файл "},
      {"no such file", nullptr, TFileStep::Open, "Cannot open file (error 2)", "Не открывается файл "},
      {"reading past the end", nullptr, TFileStep::Read, "Cannot read file (error 38)", "Не читается файл "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put(name, "ab");
    TFile file(c.write ? c.write : &WriteFile);
    std::wstring target = name;
    bool ok;
    if (c.failed == TFileStep::Create || c.failed == TFileStep::Open) {
      target = Folder() + (c.failed == TFileStep::Open ? L"missing.bin" : L"none\\x.bin");
      ok = file.Open(target, c.failed == TFileStep::Open ? TFileMode::Read : TFileMode::Create);
    } else if (c.failed == TFileStep::Read) {
      uint8_t two[2];
      ok = file.Open(target, TFileMode::Read) && file.Read(1, two, 2);
    } else {
      ok = file.Open(target, TFileMode::Create) && file.Write(text.data(), text.size()) && file.Close();
    }
    EXPECT_EQ(ok, c.failed == TFileStep::None);
    EXPECT_EQ(file.FailedStep(), c.failed);
    EXPECT_EQ(file.FailureCode(), c.code);
    EXPECT_EQ(file.Failure().substr(0, c.user.size()), c.user);
    if (!c.user.empty()) {
      EXPECT_NE(file.Failure().find(Narrow(target) + ": "), std::string::npos) << file.Failure();
    }
    if (ok) {
      EXPECT_EQ(Contents(name), text);
    }
  }
  DeleteFileW(name.c_str());
}

TEST(File, APartReplacesTheFileWholeOrLeavesIt) {
  const std::wstring name = Folder() + L"part.bin";
  struct {
    const char* what;
    TWriteFileCall write;
    bool replace, byAnother;
    bool published;
    const char* code;
  } cases[] = {
      {"written and published", &WriteFile, true, false, true, ""},
      {"written by another under the part's name", &WriteFile, true, true, true, ""},
      {"a write fails", &RefuseWrite, true, false, false, "Cannot write file (error 5)"},
      {"the name is taken and may not be replaced", &WriteFile, false, false, false,
       "Cannot write file (error 183)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put(name, "old");
    bool ok;
    {
      TPartFile part(name, L".part", c.write);
      if (c.byAnother) {
        Put(part.Name(), "new");
        ok = part.Publish(c.replace);
      } else {
        ok = part.File().Open(part.Name(), TFileMode::Create) && part.File().Write("new", 3) &&
             part.Publish(c.replace);
      }
      EXPECT_EQ(part.File().FailureCode(), c.code);
    }
    EXPECT_EQ(ok, c.published);
    EXPECT_EQ(Contents(name), c.published ? "new" : "old");
    EXPECT_EQ(GetFileAttributesW((name + L".part").c_str()), INVALID_FILE_ATTRIBUTES) << "the part is left";
  }
  DeleteFileW(name.c_str());
}

}  // namespace
}  // namespace ts
