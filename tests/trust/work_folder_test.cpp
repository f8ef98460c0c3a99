#include "trust/work_folder.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "test_support.h"
#include "trust_test_helpers.h"

namespace fs = std::filesystem;
using trusttest::failureOf;
using trusttest::isEnsureFailure;

namespace {

constexpr const wchar_t* installerName = L"NorvantaWinSetup.exe";

bool isUpperHex(const std::wstring& text) {
  return text.find_first_not_of(L"0123456789ABCDEF") == std::wstring::npos;
}

std::vector<BYTE> tokenUserSid() {
  HANDLE raw = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw));
  UniqueHandleKernel token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  EXPECT_TRUE(GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size));
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

std::vector<BYTE> wellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = SECURITY_MAX_SID_SIZE;
  EXPECT_TRUE(CreateWellKnownSid(type, nullptr, sid.data(), &size));
  sid.resize(size);
  return sid;
}

TEST(NewGuidText, IsThirtyTwoUpperHexDigitsAndFreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string text = newGuidText();
    EXPECT_EQ(text.size(), 32u) << text;
    EXPECT_TRUE(isUpperHex(utf8ToWide(text))) << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 20u);
}

TEST(CurrentUserSid, NamesTheProcessTokensUser) {
  const std::wstring text = currentUserSid();
  ASSERT_EQ(text.rfind(L"S-1-", 0), 0u) << wideToUtf8(text);
  UniqueLocalMemory<PSID> sid;
  ASSERT_TRUE(ConvertStringSidToSidW(text.c_str(), sid.put()));
  std::vector<BYTE> expected = tokenUserSid();
  EXPECT_TRUE(EqualSid(sid.get(), expected.data()));
}

TEST(FolderSecurityDescriptor, IsProtectedWithThreeFullAccessInheritableEntries) {
  const std::wstring sid = currentUserSid();
  const std::wstring text = folderSecurityDescriptor(sid);
  EXPECT_EQ(text, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")");

  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                   descriptor.put(), nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  EXPECT_TRUE(control & SE_DACL_PRESENT);

  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
  EXPECT_EQ(owner, nullptr);
  PSID group = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor.get(), &group, &defaulted));
  EXPECT_EQ(group, nullptr);

  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 3);
  const std::vector<BYTE> expected[] = {wellKnownSid(WinLocalSystemSid),
                                        wellKnownSid(WinBuiltinAdministratorsSid), tokenUserSid()};
  for (DWORD index = 0; index < 3; ++index) {
    SCOPED_TRACE(index);
    void* raw = nullptr;
    ASSERT_TRUE(GetAce(dacl, index, &raw));
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_TRUE(
        EqualSid(const_cast<DWORD*>(&ace->SidStart), const_cast<BYTE*>(expected[index].data())));
  }
}

TEST(WorkFolder, IsAFreshEmptyFolderInTheTempDirectory) {
  WorkFolder first;
  WorkFolder second;
  for (const WorkFolder* folder : {&first, &second}) {
    const std::wstring name = folder->path().filename().wstring();
    SCOPED_TRACE(wideToUtf8(name));
    EXPECT_EQ(name.size(), 54u);
    EXPECT_EQ(name.rfind(L"NorvantaWinDownloader-", 0), 0u);
    EXPECT_TRUE(isUpperHex(name.substr(22)));
    EXPECT_EQ(folder->path().parent_path() / L"", fs::temp_directory_path() / L"");
    EXPECT_TRUE(fs::is_directory(folder->path()));
    EXPECT_TRUE(fs::is_empty(folder->path()));
  }
  EXPECT_NE(first.path(), second.path());
}

// Wine does not keep the DACL given to CreateDirectoryW, so what counts is
// what the constructor hands over.
TEST(WorkFolder, HandsTheProtectedDescriptorToCreateDirectory) {
  std::vector<testsupport::HandedFolderCreation> calls;
  fs::path made;
  {
    WorkFolder folder(testsupport::recordingCreateFolder(calls));
    made = folder.path();
    EXPECT_TRUE(fs::is_directory(made));
  }
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(fs::path(calls[0].path), made);
  ASSERT_TRUE(calls[0].attributesGiven);
  EXPECT_EQ(calls[0].length, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_EQ(calls[0].inheritHandle, FALSE);
  EXPECT_EQ(calls[0].descriptor, folderSecurityDescriptor(currentUserSid()));
  EXPECT_FALSE(fs::exists(made));
}

TEST(WorkFolder, IsRemovedWithTheInstallerAfterNormalAndFailingUse) {
  fs::path normal;
  {
    WorkFolder folder;
    normal = folder.path();
    testsupport::writeFile(normal / installerName, "installer");
  }
  EXPECT_FALSE(fs::exists(normal));

  fs::path failing;
  const std::string what = failureOf([&] {
    WorkFolder folder;
    failing = folder.path();
    testsupport::writeFile(failing / installerName, "installer");
    throw std::runtime_error("run failed");
  });
  EXPECT_EQ(what, "run failed");
  EXPECT_FALSE(failing.empty());
  EXPECT_FALSE(fs::exists(failing));
}

TEST(WorkFolder, AnotherFileKeepsTheFolderButNotTheInstaller) {
  fs::path path;
  {
    WorkFolder folder;
    path = folder.path();
    testsupport::writeFile(path / installerName, "installer");
    testsupport::writeFile(path / L"left-over.txt", "other");
  }
  EXPECT_TRUE(fs::exists(path / L"left-over.txt"));
  EXPECT_FALSE(fs::exists(path / installerName));
  fs::remove_all(path);
}

TEST(WorkFolder, MissingTempDirectoryFailsWithTheLibraryErrorAndCreatesNothing) {
  const fs::path missing = testsupport::freshTestFolder("work-folder-no-temp") / L"missing";
  const std::wstring variable = missing.wstring();
  testsupport::ScopedEnvironment temp({L"TMP=" + variable, L"TEMP=" + variable});
  bool filesystemError = false;
  std::string what;
  try {
    WorkFolder folder;
  } catch (const fs::filesystem_error& error) {
    filesystemError = true;
    what = error.what();
  }
  EXPECT_TRUE(filesystemError);
  EXPECT_NE(what.find("temp_directory_path"), std::string::npos) << what;
  EXPECT_FALSE(fs::exists(missing));
}

// Stops the folder from taking new entries for as long as the object lives.
// The Linux command may still run when its process handle reports the end,
// so both directions poll for the effect.
class ImmutableFolder {
 public:
  explicit ImmutableFolder(fs::path folder) : folder_(std::move(folder)) {
    locked_ = set(L"+i", false);
  }
  ~ImmutableFolder() { set(L"-i", true); }
  bool locked() const { return locked_; }

 private:
  bool set(const std::wstring& flag, bool acceptsEntries) {
    trusttest::runUnixCommand(L"Z:\\usr\\bin\\chattr " + flag + L" " +
                              utf8ToWide(testsupport::unixPath(folder_)));
    const fs::path probe = folder_ / L"probe";
    return testsupport::waitUntil([&] {
      const bool created = CreateDirectoryW(probe.c_str(), nullptr) != FALSE;
      if (created) {
        RemoveDirectoryW(probe.c_str());
      }
      return created == acceptsEntries;
    });
  }
  fs::path folder_;
  bool locked_ = false;
};

TEST(WorkFolder, TempDirectoryRefusingNewFoldersFailsWithAccessDenied) {
  const fs::path temp = testsupport::freshTestFolder("work-folder-locked-temp");
  testsupport::ScopedEnvironment variables({L"TMP=" + temp.wstring(), L"TEMP=" + temp.wstring()});
  ImmutableFolder locked(temp);
  ASSERT_TRUE(locked.locked()) << "chattr had no effect";
  const std::string what = failureOf([] { WorkFolder folder; });
  EXPECT_EQ(what, "ダウンロード用フォルダを作成できません。 (5)");
}

}  // namespace
