// What the built executable carries: manifest, icon and version resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "trust/publisher_signature.h"

namespace {

class DownloaderImage : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(testsupport::downloaderPath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  std::string resource(LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const void* data = LockResource(loaded);
    return std::string(static_cast<const char*>(data), SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

TEST_F(DownloaderImage, EmbedsTheApplicationManifest) {
  const std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  for (const char* expected : {
           R"(name="Kavori.Velmora" version="2.0.0.0")",
           R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
           R"(publicKeyToken="6595b64144ccf1df")",
           R"(level="asInvoker" uiAccess="false")",
           ">true</dpiAware>",
           ">true</longPathAware>",
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
       }) {
    EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
  }
}

TEST_F(DownloaderImage, CarriesIconGroup101) {
  EXPECT_FALSE(resource(RT_GROUP_ICON, MAKEINTRESOURCEW(101)).empty());
  EXPECT_NE(LoadImageW(module_, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0), nullptr);
}

TEST(DownloaderVersion, StringsAndFixedPartMatch) {
  const std::wstring path = testsupport::downloaderPath().wstring();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string buffer(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (2u << 16) | 2611u);
  EXPECT_EQ(fixed->dwFileVersionLS, (26321u << 16) | 2238u);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  const std::pair<const wchar_t*, const wchar_t*> expected[] = {
      {L"FileDescription", L"NorvantaWin Downloader"}, {L"InternalName", L"NorvantaWinDownloader"},
      {L"ProductName", L"NorvantaWinDownloader"},      {L"FileVersion", L"2.2611.26321.2238"},
      {L"ProductVersion", L"2.2611.26321.2238"},
  };
  for (const auto& [name, value] : expected) {
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(buffer.data(), (std::wstring(block) + name).c_str(),
                               reinterpret_cast<void**>(&text), &length))
        << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(std::wstring(text), value);
  }
}

// What ships is signed by the publisher whose certificate the downloader
// itself pins; the build signs with the test publisher.
TEST(DownloaderSignature, IsThePinnedPublishers) {
  EXPECT_TRUE(verifyPublisherSignature(testsupport::downloaderPath()));
}

TEST(DownloaderImageHeader, IsAGuiSubsystemProgram) {
  const std::string image = testsupport::readFile(testsupport::downloaderPath());
  ASSERT_GT(image.size(), 0x200u);
  const auto peOffset = *reinterpret_cast<const DWORD*>(image.data() + 0x3C);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image.data() + peOffset);
  ASSERT_EQ(headers->Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(headers->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
#ifdef _WIN64
  EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#else
  EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
#endif
}

}  // namespace
