#include "log/log_folder.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <functional>

#include "log_test_support.h"

namespace {

namespace fs = std::filesystem;
using logtest::eventsIn;
using logtest::fallbackFolder;
using logtest::preferredFolder;
using logtest::productFolder;
using logtest::vendorFolder;
using testsupport::readFile;
using testsupport::writeFile;

std::wstring probeName() { return L".access-" + std::to_wstring(GetCurrentProcessId()); }

bool holdsProbe(const fs::path& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().wstring().rfind(L".access-", 0) == 0) {
      return true;
    }
  }
  return false;
}

// Whether the handle is open on the folder that the path names now.
bool refersTo(HANDLE handle, const fs::path& folder) {
  const UniqueHandleKernel current(CreateFileW(
      folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION held{};
  BY_HANDLE_FILE_INFORMATION now{};
  return current.valid() && GetFileInformationByHandle(handle, &held) &&
         GetFileInformationByHandle(current.get(), &now) &&
         held.dwVolumeSerialNumber == now.dwVolumeSerialNumber &&
         held.nFileIndexHigh == now.nFileIndexHigh && held.nFileIndexLow == now.nFileIndexLow;
}

// A folder made the way the downloader makes it, then let go.
void madeByAnEarlierRun() { ASSERT_EQ(resolveLogFolder().path, preferredFolder()); }

class LogFolder : public ::testing::Test {
 protected:
  logtest::CleanLogPlaces clean_;
};

TEST_F(LogFolder, PreferredFolderIsMadeOrTakenHeldAndLeftWithoutProbe) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::vector<std::string> eventsKept;
  };
  const std::vector<Case> cases = {
      {"no shared parents", [] { logtest::removeEntry(vendorFolder()); }, {}},
      {"parents only", [] { fs::create_directories(productFolder()); }, {}},
      {"folder made by an earlier run",
       [] {
         madeByAnEarlierRun();
         writeFile(preferredFolder() / L"client.jsonl", "{\"event\":\"earlier\"}\n");
       },
       {"earlier"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::CleanLogPlaces clean;
    c.prepare();

    const ResolvedLogFolder resolved = resolveLogFolder();
    EXPECT_EQ(resolved.path, preferredFolder());
    EXPECT_TRUE(refersTo(resolved.hold.get(), preferredFolder()));
    EXPECT_TRUE(logtest::isHeld(preferredFolder()));
    EXPECT_FALSE(logtest::isReparsePoint(preferredFolder()));
    EXPECT_FALSE(holdsProbe(preferredFolder()));
    EXPECT_FALSE(fs::exists(fallbackFolder()));
    EXPECT_EQ(eventsIn(preferredFolder() / L"client.jsonl"), c.eventsKept);
  }
}

TEST_F(LogFolder, HeldFolderCanBeNeitherRenamedNorRemoved) {
  const fs::path aside = preferredFolder().parent_path() / L"aside";
  const logtest::RemovedAtEnd removeAside(aside);
  {
    const ResolvedLogFolder resolved = resolveLogFolder();
    ASSERT_EQ(resolved.path, preferredFolder());

    const BOOL moved = MoveFileExW(preferredFolder().c_str(), aside.c_str(), 0);
    const DWORD moveError = GetLastError();
    EXPECT_FALSE(moved);
    EXPECT_EQ(moveError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const BOOL removed = RemoveDirectoryW(preferredFolder().c_str());
    const DWORD removeError = GetLastError();
    EXPECT_FALSE(removed);
    EXPECT_EQ(removeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(fs::is_directory(preferredFolder()));
  }
  // Let go, the same folder moves: it was the hold that refused.
  EXPECT_TRUE(MoveFileExW(preferredFolder().c_str(), aside.c_str(), 0)) << GetLastError();
}

TEST_F(LogFolder, UnusablePreferredFolderSendsTheLogToLocalAppData) {
  fs::path target;
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::function<void()> check;
  };
  const auto nothingThroughTheLink = [&] {
    EXPECT_TRUE(fs::is_empty(target)) << "something was made through the link";
  };
  const std::vector<Case> cases = {
      {"junction",
       [&] {
         fs::create_directories(productFolder());
         logtest::plantLink(preferredFolder(), target);
       },
       nothingThroughTheLink},
      {"junction for the vendor folder",
       [&] {
         logtest::removeEntry(vendorFolder());
         logtest::plantLink(vendorFolder(), target);
       },
       nothingThroughTheLink},
      {"junction for the product folder",
       [&] {
         fs::create_directories(vendorFolder());
         logtest::removeEntry(productFolder());
         logtest::plantLink(productFolder(), target);
       },
       nothingThroughTheLink},
      // Made with what ProgramData passes on, which lets other users read.
      {"folder made earlier with inherited permissions",
       [] { writeFile(preferredFolder() / L"client.jsonl", "{\"event\":\"planted\"}\n"); },
       [] {
         EXPECT_EQ(readFile(preferredFolder() / L"client.jsonl"), "{\"event\":\"planted\"}\n");
       }},
      {"plain file", [] { writeFile(preferredFolder(), "not a folder"); },
       [] { EXPECT_EQ(readFile(preferredFolder()), "not a folder"); }},
      {"probe name taken",
       [] {
         madeByAnEarlierRun();
         writeFile(preferredFolder() / probeName(), "someone's");
       },
       [] { EXPECT_EQ(readFile(preferredFolder() / probeName()), "someone's"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::CleanLogPlaces clean;
    target = testsupport::freshTestFolder("log-folder-link-target");
    c.prepare();

    const ResolvedLogFolder resolved = resolveLogFolder();
    EXPECT_EQ(resolved.path, fallbackFolder());
    EXPECT_FALSE(resolved.hold.valid());
    EXPECT_TRUE(fs::is_directory(fallbackFolder()));
    c.check();
  }
}

// Wine does not keep the DACL given to CreateDirectoryW, so what counts is
// what resolution hands over.
TEST_F(LogFolder, CreationIsHandedTheProtectedDescriptor) {
  std::vector<testsupport::HandedFolderCreation> calls;
  const ResolvedLogFolder resolved = resolveLogFolder(testsupport::recordingCreateFolder(calls));

  EXPECT_EQ(resolved.path, preferredFolder());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(fs::path(calls[0].path), preferredFolder());
  ASSERT_TRUE(calls[0].attributesGiven);
  EXPECT_EQ(calls[0].length, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_EQ(calls[0].inheritHandle, FALSE);
  EXPECT_EQ(calls[0].descriptor, folderSecurityDescriptor(currentUserSid()));
}

TEST_F(LogFolder, TroubleWhileTheFolderIsMadeSendsTheLogToLocalAppData) {
  const fs::path aside = productFolder().parent_path() / L"Velmora-aside";
  const logtest::RemovedAtEnd removeAside(aside);
  struct Case {
    const char* what;
    CreateFolderCall create;
  };
  const std::vector<Case> cases = {
      {"creation refused",
       [](const wchar_t*, SECURITY_ATTRIBUTES*) {
         SetLastError(ERROR_ACCESS_DENIED);
         return FALSE;
       }},
      // The parents are looked at again once the folder is held.
      {"product folder swapped for a link meanwhile",
       [&](const wchar_t* path, SECURITY_ATTRIBUTES* attributes) {
         const BOOL created = CreateDirectoryW(path, attributes);
         const DWORD error = GetLastError();
         logtest::moveThroughLinux(productFolder(), aside);
         logtest::plantLink(productFolder(), aside);
         SetLastError(error);
         return created;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::CleanLogPlaces clean;
    fs::create_directories(productFolder());

    EXPECT_EQ(resolveLogFolder(c.create).path, fallbackFolder());
  }
}

TEST_F(LogFolder, FailureOfBothPlacesLeavesResolution) {
  writeFile(preferredFolder(), "not a folder");
  writeFile(fallbackFolder(), "not a folder either");

  EXPECT_THROW(resolveLogFolder(), fs::filesystem_error);
}

TEST_F(LogFolder, ProcessRetriesAfterFailedResolutionAndKeepsTheFirstSuccess) {
  writeFile(preferredFolder(), "not a folder");
  writeFile(fallbackFolder(), "not a folder either");
  logtest::EventWriter writer("log-folder-retry", {L"lost", L"kept", L"cached"});

  writer.writeNext();
  EXPECT_EQ(readFile(preferredFolder()), "not a folder");
  EXPECT_EQ(readFile(fallbackFolder()), "not a folder either");

  logtest::removeEntry(preferredFolder());
  logtest::removeEntry(fallbackFolder());
  writer.writeNext();
  EXPECT_EQ(eventsIn(preferredFolder() / L"client.jsonl"), std::vector<std::string>{"kept"});

  // Were the process to resolve again, a probe name that is taken would send
  // the log to the fallback folder.
  const DWORD pid =
      logtest::readRecords(preferredFolder() / L"client.jsonl").at(0).at("pid").get<DWORD>();
  writeFile(preferredFolder() / (L".access-" + std::to_wstring(pid)), "");
  writer.writeNext();
  EXPECT_EQ(writer.finish(), 0u);
  EXPECT_EQ(eventsIn(preferredFolder() / L"client.jsonl"),
            (std::vector<std::string>{"kept", "cached"}));
  EXPECT_FALSE(fs::exists(fallbackFolder() / L"client.jsonl"));
}

// Another user who owns the shared parents may try to move the log folder
// between two events. Windows refuses while the writer holds it; what goes
// past the hold (here the Linux side) costs the event, never a record in a
// place of the mover's choosing.
TEST_F(LogFolder, FolderIsResolvedOnceAndHeldForTheProcess) {
  const fs::path aside = preferredFolder().parent_path() / L"aside";
  const fs::path productAside = productFolder().parent_path() / L"Velmora-aside";
  fs::path target;
  struct Case {
    const char* what;
    std::function<void()> change;
    fs::path firstLog;
    std::vector<std::string> eventsThere;
  };
  const std::vector<Case> cases = {
      {"rename refused",
       [&] {
         const BOOL moved = MoveFileExW(preferredFolder().c_str(), aside.c_str(), 0);
         const DWORD error = GetLastError();
         EXPECT_FALSE(moved);
         EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
       },
       preferredFolder() / L"client.jsonl",
       {"first", "second"}},
      {"folder removed past the hold",
       [] { logtest::removeThroughLinux(preferredFolder()); },
       preferredFolder() / L"client.jsonl",
       {}},
      {"folder swapped for a junction past the hold",
       [&] {
         logtest::moveThroughLinux(preferredFolder(), aside);
         logtest::plantLink(preferredFolder(), target);
       },
       aside / L"client.jsonl",
       {"first"}},
      {"product folder swapped for a junction past the hold",
       [&] {
         logtest::moveThroughLinux(productFolder(), productAside);
         fs::create_directories(target / preferredFolder().filename());
         logtest::plantLink(productFolder(), target);
       },
       productAside / preferredFolder().filename() / L"client.jsonl",
       {"first"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::CleanLogPlaces clean;
    const logtest::RemovedAtEnd removeAside(aside);
    const logtest::RemovedAtEnd removeProductAside(productAside);
    target = testsupport::freshTestFolder("log-folder-once-target");
    logtest::EventWriter writer("log-folder-once", {L"first", L"second"});
    writer.writeNext();
    ASSERT_EQ(eventsIn(preferredFolder() / L"client.jsonl"), std::vector<std::string>{"first"});

    c.change();
    writer.writeNext();
    EXPECT_EQ(writer.finish(), 0u);
    EXPECT_EQ(eventsIn(c.firstLog), c.eventsThere);
    EXPECT_EQ(eventsIn(target / L"client.jsonl"), std::vector<std::string>{});
    EXPECT_EQ(eventsIn(target / preferredFolder().filename() / L"client.jsonl"),
              std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(fallbackFolder() / L"client.jsonl"));
  }
}

TEST_F(LogFolder, LaterProcessUsesTheFolderAnEarlierOneMade) {
  logtest::EventWriter earlier("log-folder-earlier", {L"downloader_started"});
  earlier.writeNext();
  EXPECT_EQ(earlier.finish(), 0u);
  logtest::EventWriter later("log-folder-later", {L"downloader_started"});
  later.writeNext();
  EXPECT_EQ(later.finish(), 0u);

  const std::vector<nlohmann::json> records =
      logtest::readRecords(preferredFolder() / L"client.jsonl");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].at("pid"), records[1].at("pid"));
  EXPECT_FALSE(holdsProbe(preferredFolder()));
  EXPECT_FALSE(fs::exists(fallbackFolder()));
}

// SIDs in SDDL form; none needs to exist on this machine.
constexpr const wchar_t* user = L"S-1-5-21-1111-2222-3333-1001";
constexpr const wchar_t* otherUser = L"S-1-5-21-1111-2222-3333-1002";

std::wstring ownEntries() {
  return L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + std::wstring(user) + L")";
}

TEST(PrivateFolderSecurity, OnlyTheUsersFolderClosedToOthersPasses) {
  const std::wstring owner = L"O:" + std::wstring(user);
  const std::wstring other = otherUser;
  struct Case {
    const char* what;
    std::wstring descriptor;
    std::wstring defaultOwner;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"own folder, protected, the three entries", owner + L"D:P" + ownEntries(), user, true},
      {"own folder as Wine reads it back", owner + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + user + L")",
       user, true},
      {"owned by another user", L"O:" + other + L"D:P" + ownEntries(), user, false},
      {"owned by Administrators, the token's default owner", L"O:BAD:P" + ownEntries(),
       L"S-1-5-32-544", true},
      {"owned by Administrators, not the token's default owner", L"O:BAD:P" + ownEntries(), user,
       false},
      {"no owner", L"D:P" + ownEntries(), user, false},
      {"explicit entry for Everyone", owner + L"D:P" + ownEntries() + L"(A;OICI;0x1200a9;;;WD)",
       user, false},
      {"inherited entry for Users", owner + L"D:AI" + ownEntries() + L"(A;OICIID;0x1200a9;;;BU)",
       user, false},
      {"entry for the files inside only",
       owner + L"D:P" + ownEntries() + L"(A;OICIIO;FA;;;" + other + L")", user, false},
      // A deny entry only takes access away.
      {"deny entry for Everyone", owner + L"D:P(D;OICI;FA;;;WD)" + ownEntries(), user, true},
      {"inherited deny entry for another user",
       owner + L"D:AI" + ownEntries() + L"(D;OICIID;FA;;;" + other + L")", user, true},
      {"empty DACL", owner + L"D:P", user, true},
      {"no DACL", owner, user, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.descriptor.c_str(), SDDL_REVISION_1, descriptor.put(), nullptr))
        << GetLastError();
    UniqueLocalMemory<PSID> userSid;
    UniqueLocalMemory<PSID> defaultOwnerSid;
    ASSERT_TRUE(ConvertStringSidToSidW(user, userSid.put()));
    ASSERT_TRUE(ConvertStringSidToSidW(c.defaultOwner.c_str(), defaultOwnerSid.put()));

    EXPECT_EQ(isPrivateFolderSecurity(descriptor.get(), userSid.get(), defaultOwnerSid.get()),
              c.passes);
  }
}

// Built by hand: Wine reads "D:NO_ACCESS_CONTROL" as an empty DACL.
TEST(PrivateFolderSecurity, NullDaclLetsEveryoneInAndFails) {
  UniqueLocalMemory<PSID> userSid;
  ASSERT_TRUE(ConvertStringSidToSidW(user, userSid.put()));
  SECURITY_DESCRIPTOR descriptor{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, userSid.get(), FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));

  EXPECT_FALSE(isPrivateFolderSecurity(&descriptor, userSid.get(), userSid.get()));
}

}  // namespace
