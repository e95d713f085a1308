#include "workflow/startup_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "win/unique_handle.h"

namespace {

// ---- First argument ---------------------------------------------------------------------

TEST(FirstArgument, TakesTheSecondElementAsTheSplitDeliversIt) {
  struct Case {
    const wchar_t* command_line;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"ZunoOnlineSetup.exe", L""},
      {L"\"C:\\Program Files\\ZunoOnlineSetup.exe\"", L""},
      {L"ZunoOnlineSetup.exe /campaign", L"/campaign"},
      {L"ZunoOnlineSetup.exe first second", L"first"},
      {L"ZunoOnlineSetup.exe \"with blanks inside\" next", L"with blanks inside"},
      {L"ZunoOnlineSetup.exe \"\"", L""},
      {L"ZunoOnlineSetup.exe \"\" second", L""},
      {L"ZunoOnlineSetup.exe    spaced   ", L"spaced"},
      {L"ZunoOnlineSetup.exe a\\\"b", L"a\"b"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.expected, FirstArgumentOf(c.command_line).c_str()) << c.command_line;
  }
  EXPECT_TRUE(FirstArgumentOf(nullptr).empty());
}

TEST(FirstArgument, ReadsThisProcesssOwnCommandLine) {
  // The test runner starts this program with its own arguments, or none.
  EXPECT_STREQ(FirstArgumentOf(::GetCommandLineW()).c_str(), GetFirstArgument().c_str());
}

// ---- Administrators group ----------------------------------------------------------------

win::UniqueSid MakeSid(DWORD sub0, DWORD sub1, BYTE count = 2) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  win::UniqueSid sid;
  EXPECT_TRUE(::AllocateAndInitializeSid(&nt, count, sub0, sub1, 0, 0, 0, 0, 0, 0, sid.put()));
  return sid;
}

// A group list laid out as GetTokenInformation lays it out: header, entries, then the SIDs.
struct GroupList {
  std::vector<std::pair<PSID, DWORD>> groups;

  size_t Size() const {
    size_t size = sizeof(TOKEN_GROUPS) + (groups.size() ? groups.size() - 1 : 0) * sizeof(SID_AND_ATTRIBUTES);
    for (const auto& g : groups) size += ::GetLengthSid(g.first);
    return size;
  }

  void WriteTo(void* buffer) const {
    auto* list = static_cast<TOKEN_GROUPS*>(buffer);
    list->GroupCount = static_cast<DWORD>(groups.size());
    auto* sids = reinterpret_cast<BYTE*>(&list->Groups[groups.size() ? groups.size() : 1]);
    for (size_t i = 0; i < groups.size(); ++i) {
      const DWORD length = ::GetLengthSid(groups[i].first);
      ::CopySid(length, sids, groups[i].first);
      list->Groups[i].Sid = sids;
      list->Groups[i].Attributes = groups[i].second;
      sids += length;
    }
  }
};

const GroupList* g_list = nullptr;

// Behaves as GetTokenInformation does for TokenGroups: too small a buffer fails with
// ERROR_INSUFFICIENT_BUFFER and reports the size needed.
BOOL WINAPI ServeGroupList(HANDLE, TOKEN_INFORMATION_CLASS kind, LPVOID buffer, DWORD size,
                           PDWORD returned) {
  if (kind != TokenGroups) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *returned = static_cast<DWORD>(g_list->Size());
  if (size < *returned) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  g_list->WriteTo(buffer);
  return TRUE;
}

bool Check(const GroupList& list) {
  g_list = &list;
  return TokenListsAdministrators(nullptr, ServeGroupList);
}

TEST(AdminGroup, BuiltListsAreComparedByIdentifierOnly) {
  win::UniqueSid admins = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  win::UniqueSid users = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);
  win::UniqueSid guests = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_GUESTS);
  win::UniqueSid interactive = MakeSid(SECURITY_INTERACTIVE_RID, 0, 1);

  EXPECT_FALSE(Check(GroupList{}));
  EXPECT_FALSE(Check(GroupList{{{users.get(), SE_GROUP_ENABLED}, {guests.get(), SE_GROUP_ENABLED}}}));
  EXPECT_TRUE(Check(GroupList{{{users.get(), SE_GROUP_ENABLED},
                               {admins.get(), SE_GROUP_ENABLED | SE_GROUP_OWNER}}}));
  // Present but deny-only (a filtered token), or not enabled: still counts.
  EXPECT_TRUE(Check(GroupList{{{interactive.get(), SE_GROUP_ENABLED},
                               {admins.get(), SE_GROUP_USE_FOR_DENY_ONLY}}}));
  EXPECT_TRUE(Check(GroupList{{{admins.get(), 0}}}));
}

TEST(AdminGroup, AListThatDoesNotFitIn10240BytesCountsAsFailure) {
  win::UniqueSid admins = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  win::UniqueSid users = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);

  // Administrators first, then padding until the list is just under or just over the limit.
  GroupList list{{{admins.get(), SE_GROUP_ENABLED}}};
  while (list.Size() + sizeof(SID_AND_ATTRIBUTES) + ::GetLengthSid(users.get()) <= kTokenGroupsBufferSize) {
    list.groups.push_back({users.get(), SE_GROUP_ENABLED});
  }
  ASSERT_LE(list.Size(), kTokenGroupsBufferSize);
  EXPECT_TRUE(Check(list));

  list.groups.push_back({users.get(), SE_GROUP_ENABLED});
  ASSERT_GT(list.Size(), kTokenGroupsBufferSize);
  EXPECT_FALSE(Check(list));
}

BOOL WINAPI FailingReader(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(AdminGroup, ReaderFailureGivesFalse) {
  EXPECT_FALSE(TokenListsAdministrators(nullptr, FailingReader));
}

TEST(AdminGroup, RealTokens) {
  // Under Wine every process runs elevated, as the manifest asks for on Windows.
  EXPECT_TRUE(IsAdminGroupMember());

  win::UniqueKernelHandle process_token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()));
  EXPECT_TRUE(TokenListsAdministrators(process_token.get()));

  // A filtered token keeps Administrators as deny-only: it still counts.
  win::UniqueSid admins = MakeSid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  SID_AND_ATTRIBUTES disable = {admins.get(), 0};
  win::UniqueKernelHandle filtered;
  ASSERT_TRUE(::CreateRestrictedToken(process_token.get(), 0, 1, &disable, 0, nullptr, 0, nullptr,
                                      filtered.put()));
  EXPECT_TRUE(TokenListsAdministrators(filtered.get()));

  // A handle that is no token at all.
  win::UniqueKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_FALSE(TokenListsAdministrators(event.get()));
}

}  // namespace
