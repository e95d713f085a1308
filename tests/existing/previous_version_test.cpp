#include "existing/previous_version.h"
#include "app/removal_offer.h"
#include "existing/restart_copy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/installer_ends.h"
#include "app/messages.h"
#include "app/safe_start.h"
#include "tests/existing/installed_product.h"
#include "win/application.h"
#include "workflow/setup_signature.h"
#include "tests/support/security.h"
#include "win/file_trust.h"

namespace {

struct BoxCall {
  int count = 0;
  std::wstring text;
  std::wstring caption;
  UINT type = 0;
};
BoxCall g_box;
int g_answer = IDCANCEL;

int AnsweringBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
  ++g_box.count;
  g_box.text = text;
  g_box.caption = caption;
  g_box.type = type;
  return g_answer;
}

class TestApplication : public win::Application {
 protected:
  bool InitInstance() override { return false; }
};

std::wstring OwnPath() {
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// The restart entry names, in quotes, a byte-identical copy of this program in a restart
// copy's folder. (The copy goes again here.)
void ExpectRestartCopy(const std::wstring& value) {
  ASSERT_GE(value.size(), 2u);
  EXPECT_EQ(value.front(), L'"');
  EXPECT_EQ(value.back(), L'"');
  const std::wstring copy = value.substr(1, value.size() - 2);
  EXPECT_TRUE(IsRestartCopyPath(copy.c_str()));
  EXPECT_EQ(copy.substr(copy.rfind(L'\\')), OwnPath().substr(OwnPath().rfind(L'\\')));
  EXPECT_EQ(test::ReadFileBytes(copy), test::ReadFileBytes(OwnPath()));
  EXPECT_TRUE(::DeleteFileW(copy.c_str()));
  EXPECT_TRUE(::RemoveDirectoryW(copy.substr(0, copy.rfind(L'\\')).c_str()));
  ::RemoveDirectoryW(RestartCopyRoot().c_str());
}

// What a stand-in uninstaller recorded: its command line and working directory.
struct Record {
  std::wstring command_line;
  std::wstring directory;
};

bool WaitForRecord(const std::wstring& program, Record* record, DWORD timeout_ms = 15000) {
  const std::wstring log = program + L".log";
  for (DWORD waited = 0; waited <= timeout_ms; waited += 50) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(log);
    if (!bytes.empty()) {
      std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
      const size_t first = text.find(L'\n');
      record->command_line = text.substr(0, first);
      record->directory = text.substr(first + 1, text.find(L'\n', first + 1) - first - 1);
      return true;
    }
    ::Sleep(50);
  }
  return false;
}

class RemovalOffer : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.Run(::GetModuleHandleW(nullptr));
    previous_box_ = win::SetMessageBoxForTesting(AnsweringBox);
    g_box = {};
    run_once_.Delete(kRunOnceValue);
    UiLanguage.store(kLanguageEnglish);
  }
  void TearDown() override {
    win::SetMessageBoxForTesting(previous_box_);
    std::wstring entry;  // a copy that a test registered and left
    if (run_once_.Read(&entry) && entry.size() > 2) RemoveRestartCopy(entry.substr(1, entry.size() - 2).c_str());
    run_once_.Delete(kRunOnceValue);
    UiLanguage.store(kLanguageVietnamese);
  }

  // RunOnce itself is never removed: only our value in it.
  struct RunOnceValue {
    void Delete(const wchar_t* name) const {
      HKEY key;
      if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key, name);
        ::RegCloseKey(key);
      }
    }
    bool Read(std::wstring* text) const {
      wchar_t data[1024] = {};
      DWORD bytes = sizeof(data) - sizeof(wchar_t);
      DWORD type = 0;
      return ::RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, RRF_RT_ANY, &type, data,
                            &bytes) == ERROR_SUCCESS &&
             type == REG_SZ && (*text = data, true);
    }
  } run_once_;

  TestApplication app_;
  win::MessageBoxFunction previous_box_ = nullptr;
  test::InstalledProduct product_;
};

TEST_F(RemovalOffer, NothingInstalledShowsNothing) {
  EXPECT_EQ(0, OfferPreviousVersionRemoval());
  EXPECT_EQ(0, g_box.count);
}

TEST_F(RemovalOffer, AProgramWithoutVersionDataShowsNothing) {
  product_.InstallComplete();
  product_.PutProgram(L"Zuno.exe", L"fixture_no_version.exe");
  EXPECT_EQ(0, OfferPreviousVersionRemoval());
  EXPECT_EQ(0, g_box.count);
}

TEST_F(RemovalOffer, TheMessageNamesTheProductOrTheFallbackInEitherLanguage) {
  product_.InstallComplete();
  struct Case {
    int32_t language;
    const wchar_t* registered;
    std::wstring starts_with;
  };
  const Case cases[] = {
      {kLanguageEnglish, L"Zuno Prime Guard", L"Zuno Prime Guard has already been installed on your computer.\nTo install"},
      {kLanguageEnglish, nullptr, L"Zuno Antivirus Software has already been installed"},
      {kLanguageEnglish, L"", L"Zuno Antivirus Software has already been installed"},
      {kLanguageVietnamese, L"Zuno Prime Guard",
       L"M\xE1y t\xEDnh c\x1EE7" L"a b\x1EA1n \x111\xE3 \x111\x1B0\x1EE3" L"c c\xE0i s\x1EB5n Zuno Prime Guard.\n"},
      {kLanguageVietnamese, nullptr,
       L"M\xE1y t\xEDnh c\x1EE7" L"a b\x1EA1n \x111\xE3 \x111\x1B0\x1EE3" L"c c\xE0i s\x1EB5n Zuno Antivirus Software.\n"},
  };
  g_answer = IDCANCEL;
  for (const Case& c : cases) {
    UiLanguage.store(c.language);
    if (c.registered) {
      product_.RegisterName(c.registered);
    } else {
      product_.key().Delete(L"ProductName");
    }
    g_box = {};
    EXPECT_EQ(kRemovalNotStarted, OfferPreviousVersionRemoval());
    ASSERT_EQ(1, g_box.count);
    EXPECT_EQ(0u, g_box.text.find(c.starts_with)) << g_box.text;
    EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION), g_box.type);
    EXPECT_EQ(app_.Title(), g_box.caption);
  }
}

TEST_F(RemovalOffer, CancelWritesAndStartsNothing) {
  product_.InstallComplete();
  ::CopyFileW(test::Fixture(L"record_args.exe").c_str(), product_.Path(L"ZunoUnst.exe").c_str(), FALSE);
  g_answer = IDCANCEL;
  EXPECT_EQ(kRemovalNotStarted, OfferPreviousVersionRemoval());
  std::wstring value;
  EXPECT_FALSE(run_once_.Read(&value));
  Record record;
  EXPECT_FALSE(WaitForRecord(product_.Path(L"ZunoUnst.exe"), &record, 1500));
}

TEST_F(RemovalOffer, OkRegistersTheRestartAndRunsOnlyZunoUnstWithSlashSilent) {
  product_.InstallComplete();
  for (const wchar_t* name : {L"ZunoUnst.exe", L"ZunoFamilyUnst.exe"}) {
    ::CopyFileW(test::Fixture(L"record_args.exe").c_str(), product_.Path(name).c_str(), FALSE);
  }
  g_answer = IDOK;
  EXPECT_EQ(kRemovalStarted, OfferPreviousVersionRemoval());

  std::wstring value;
  ASSERT_TRUE(run_once_.Read(&value));
  ExpectRestartCopy(value);

  Record record;
  ASSERT_TRUE(WaitForRecord(product_.Path(L"ZunoUnst.exe"), &record));
  EXPECT_EQ(record.command_line, L"\"" + product_.Path(L"ZunoUnst.exe") + L"\" /Silent");
  EXPECT_EQ(0, _wcsicmp(product_.dir().c_str(), record.directory.c_str()));
  EXPECT_FALSE(WaitForRecord(product_.Path(L"ZunoFamilyUnst.exe"), &record, 1000));
}

TEST_F(RemovalOffer, WithoutZunoUnstTheFamilyUninstallerRunsWithSilentInTheInstallDir) {
  product_.InstallComplete();
  ::CopyFileW(test::Fixture(L"record_args.exe").c_str(), product_.Path(L"ZunoFamilyUnst.exe").c_str(), FALSE);
  g_answer = IDOK;
  EXPECT_EQ(kRemovalStarted, OfferPreviousVersionRemoval());
  Record record;
  ASSERT_TRUE(WaitForRecord(product_.Path(L"ZunoFamilyUnst.exe"), &record));
  EXPECT_EQ(L" Silent", record.command_line.substr(record.command_line.size() - 7));
  EXPECT_EQ(std::wstring::npos, record.command_line.find(L"/Silent"));
  EXPECT_EQ(0, _wcsicmp(product_.dir().c_str(), record.directory.c_str()));
}

// Nothing started, nothing to come back for: no new restart entry and no copy; the one an
// earlier offer registered stays as it was.
TEST_F(RemovalOffer, NoUninstallerThatCanStartWritesNoRestart) {
  product_.InstallComplete();
  const WideString earlier = MakeRestartCopy().path;
  ASSERT_TRUE(RegisterRunOnceRestart(earlier.c_str()));
  g_answer = IDOK;
  EXPECT_EQ(kRemovalNotStarted, OfferPreviousVersionRemoval());
  std::wstring value;
  ASSERT_TRUE(run_once_.Read(&value));
  EXPECT_EQ(value, L"\"" + std::wstring(earlier.c_str()) + L"\"");
  ExpectRestartCopy(value);
}

// The restart copies' folders there are now.
size_t CopyFolders() {
  WIN32_FIND_DATAW entry;
  size_t count = 0;
  HANDLE find = ::FindFirstFileW((std::wstring(RestartCopyRoot().c_str()) + L"\\R*.tmp").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do ++count;
  while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return count;
}

// This test program is not signed by the build's pinned key: from a share its copy is refused,
// as one the server changed would be. No entry, no copy; and where the DLL search is open, no
// copy to run from: message 44 and exit code 1150.
TEST_F(RemovalOffer, FromARemoteVolumeACopyThatFailsThePinIsNeitherRegisteredNorRun) {
  product_.InstallComplete();
  const size_t copies_before = CopyFolders();
  SetRestartCopyCheck(IsSignedByProductSigner);
  SetRemoteVolumeTestForTesting([](HANDLE) { return true; });
  g_answer = IDOK;
  EXPECT_EQ(kRemovalNotStarted, OfferPreviousVersionRemoval());
  std::wstring value;
  EXPECT_FALSE(run_once_.Read(&value)) << testing::PrintToString(value);
  const SafeStart start = StartWhereDllSearchIsSafe(false);
  SetRemoteVolumeTestForTesting(nullptr);
  SetRestartCopyCheck(nullptr);
  EXPECT_EQ(1150u, start.go_on ? 0u : start.exit_code);
  EXPECT_EQ(0u, g_box.text.find(L"This copy of Windows lacks an update that the installer needs.")) << g_box.count;
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), g_box.type);
  EXPECT_EQ(CopyFolders(), copies_before);  // no copy's folder stayed
}

// ---- Who may change the product's files, through staged descriptors --------------------------

// The descriptor staged for what ends in `tail` (null `sddl`: Administrators' with a null DACL,
// which Wine's SDDL reader cannot make); the rest read as Wine has them (the user's, all may).
struct Staged {
  std::wstring tail;
  const wchar_t* sddl = nullptr;
} g_staged;

win::UniqueLocalMemory NullDacl() {
  win::UniqueLocalMemory descriptor(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH + SECURITY_MAX_SID_SIZE));
  PSID admins = static_cast<BYTE*>(descriptor.get()) + SECURITY_DESCRIPTOR_MIN_LENGTH;
  DWORD size = SECURITY_MAX_SID_SIZE;
  EXPECT_TRUE(::InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) &&
              ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
              ::SetSecurityDescriptorOwner(descriptor.get(), admins, FALSE) &&
              ::SetSecurityDescriptorDacl(descriptor.get(), TRUE, nullptr, FALSE));
  return descriptor;
}
win::SecurityReader g_platform_reader = nullptr;

win::UniqueLocalMemory StagedSecurity(HANDLE file) {
  wchar_t path[2 * MAX_PATH] = {};
  const DWORD length = ::GetFinalPathNameByHandleW(file, path, 2 * MAX_PATH, FILE_NAME_NORMALIZED);
  const bool staged = length >= g_staged.tail.size() && length < 2 * MAX_PATH &&
                      _wcsicmp(path + length - g_staged.tail.size(), g_staged.tail.c_str()) == 0;
  if (!staged) return g_platform_reader(file);
  return g_staged.sddl == nullptr ? NullDacl() : test::Descriptor(g_staged.sddl);
}

// Users may change the folder, Authenticated Users a library, another owns the uninstaller, a
// library has a null DACL: nothing starts, message 43, exit code 1625, no restart entry. The
// program files' own (TrustedInstaller's, Users reading, CREATOR OWNER inside) starts it.
TEST_F(RemovalOffer, FilesThatOthersMayChangeStartNothing) {
  product_.InstallComplete();
  product_.RegisterName(L"Zuno Prime Guard");
  ::CopyFileW(test::Fixture(L"record_args.exe").c_str(), product_.Path(L"ZunoUnst.exe").c_str(), FALSE);
  const std::wstring folder = product_.dir().substr(product_.dir().rfind(L'\\'));
  const struct {
    std::wstring tail;
    const wchar_t* sddl;
    int removal;
  } cases[] = {
      {folder, L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", kRemovalRefused},
      {L"\\ThemePack.dll", L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FW;;;AU)", kRemovalRefused},
      {L"\\ZunoUnst.exe", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)", kRemovalRefused},
      {L"\\ZunoLanguageEn.dll", nullptr, kRemovalRefused},
      {folder,
       L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)"
       L"(A;OICI;0x1301bf;;;BA)(A;OICI;0x1200a9;;;BU)",
       kRemovalStarted},
  };
  g_platform_reader = win::SetSecurityReaderForTesting(StagedSecurity);
  g_answer = IDOK;
  for (const auto& c : cases) {
    g_staged = {c.tail, c.sddl};
    g_box = {};
    const int removal = OfferPreviousVersionRemoval();
    EXPECT_EQ(removal, c.removal) << testing::PrintToString(c.tail);
    std::wstring value;
    Record record;
    if (c.removal == kRemovalStarted) {
      EXPECT_TRUE(WaitForRecord(product_.Path(L"ZunoUnst.exe"), &record));
      ASSERT_TRUE(run_once_.Read(&value));
      ExpectRestartCopy(value);
      continue;
    }
    EXPECT_EQ(ExitCodeOf(RemovalResult(removal)), 1625u);
    ASSERT_EQ(g_box.count, 2);  // the offer, then what to do
    const std::wstring told = WideString::Format(GetMessageText(kMessageFilesUnprotected).c_str(), L"Zuno Prime Guard").c_str();
    EXPECT_EQ(g_box.text.rfind(told, 0), 0u) << testing::PrintToString(g_box.text);
    EXPECT_EQ(g_box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_FALSE(run_once_.Read(&value));
    EXPECT_FALSE(WaitForRecord(product_.Path(L"ZunoUnst.exe"), &record, 500));
  }
  win::SetSecurityReaderForTesting(nullptr);
}

TEST_F(RemovalOffer, RegisterRunOnceRestartStoresThePathAsAString) {
  ASSERT_TRUE(RegisterRunOnceRestart(L"C:\\Users\\ch\x1EEF\\ZunoOnlineSetup.exe"));
  std::wstring value;
  ASSERT_TRUE(run_once_.Read(&value));
  EXPECT_EQ(L"\"C:\\Users\\ch\x1EEF\\ZunoOnlineSetup.exe\"", value);
  EXPECT_FALSE(RegisterRunOnceRestart(nullptr));
}

// Under the program files, where no user may make a folder, in a folder named as the copies'.
TEST(RestartCopy, OnlyAFolderOfTheRootNamedAsTheCopiesAre) {
  const std::wstring root = RestartCopyRoot().c_str();
  EXPECT_NE(root.find(L"\\Program Files"), std::wstring::npos) << testing::PrintToString(root);
  const std::wstring name = L"0123456789abcdef0123456789ABCDEF.tmp";
  const struct {
    std::wstring path;
    bool copy;
  } cases[] = {
      {root + L"\\R" + name + L"\\ZunoOnlineSetup.exe", true},
      {root + L"\\0" + name + L"\\ZunoOnlineSetup.exe", false},
      {root + L"\\R" + name.substr(1) + L"\\ZunoOnlineSetup.exe", false},  // 31 digits
      {root + L"\\R" + name.substr(0, 31) + L"x.tmp\\ZunoOnlineSetup.exe", false},
      {root + L"\\R" + name + L"\\sub\\ZunoOnlineSetup.exe", false},
      {root + L"X\\R" + name + L"\\ZunoOnlineSetup.exe", false},
      {L"C:\\Users\\u\\Temp\\R" + name + L"\\ZunoOnlineSetup.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRestartCopyPath(c.path.c_str()), c.copy) << testing::PrintToString(c.path);
}

// ---- The real box, answered by a driver thread --------------------------------------------

struct BoxSearch {
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  wchar_t class_name[16] = {};
  wchar_t caption[MAX_PATH] = {};
  ::GetClassNameW(hwnd, class_name, 16);
  ::GetWindowTextW(hwnd, caption, MAX_PATH);
  if (pid == ::GetCurrentProcessId() && wcscmp(class_name, L"#32770") == 0 &&
      wcscmp(caption, search->caption) == 0 && ::IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Finds the box by its caption and presses `button` in it; reads the box's text first.
void PressWhenShown(const wchar_t* caption, int button, std::wstring* text, std::atomic<bool>* pressed) {
  for (int i = 0; i < 400 && !*pressed; ++i) {
    BoxSearch search = {caption, nullptr};
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      wchar_t buffer[1024] = {};
      ::GetDlgItemTextW(search.found, 0xFFFF, buffer, 1024);  // the static text of a message box
      *text = buffer;
      ::PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      *pressed = true;
      return;
    }
    ::Sleep(50);
  }
}

TEST_F(RemovalOffer, TheRealBoxAnsweredCancel) {
  win::SetMessageBoxForTesting(nullptr);
  product_.InstallComplete();
  product_.RegisterName(L"Zuno Prime Guard");
  std::wstring shown;
  std::atomic<bool> pressed{false};
  std::thread driver(PressWhenShown, app_.Title(), IDCANCEL, &shown, &pressed);
  EXPECT_EQ(kRemovalNotStarted, OfferPreviousVersionRemoval());
  driver.join();
  EXPECT_TRUE(pressed);
  EXPECT_EQ(0u, shown.find(L"Zuno Prime Guard has already been installed")) << shown;
  std::wstring value;
  EXPECT_FALSE(run_once_.Read(&value));
}

}  // namespace
