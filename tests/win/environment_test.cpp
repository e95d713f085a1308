// The environment block every program the installer starts gets.
#include "win/environment.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

// The block as text, "|" after each variable.
std::wstring Flatten(const win::UniqueLocalMemory& block) {
  std::wstring text;
  for (const wchar_t* entry = static_cast<const wchar_t*>(block.get()); *entry != L'\0'; entry += wcslen(entry) + 1) {
    text += std::wstring(entry) + L"|";
  }
  return text;
}

// The machine's variables pass with the machine's values (but for those that name a user or
// load code); of the user's own, only those that name the user and the user's folders; nothing
// else, in any case of the name. Sorted as Windows keeps a block.
TEST(SetupEnvironment, OnlyTheMachinesAndTheUsersNamesAndFoldersPass) {
  const struct {
    const wchar_t* entry;
    bool passes;
  } own[] = {
      {L"USERPROFILE=C:\\Users\\u", true},     {L"username=u", true},
      {L"USERDOMAIN=D", true},                  {L"USERDNSDOMAIN=d.example", true},
      {L"LOGONSERVER=\\\\DC", true},            {L"APPDATA=C:\\Users\\u\\AppData\\Roaming", true},
      {L"LOCALAPPDATA=C:\\Users\\u\\AppData\\Local", true}, {L"HOMEDRIVE=C:", true},
      {L"HOMEPATH=\\Users\\u", true},          {L"HOMESHARE=\\\\fs\\u", true},
      {L"SESSIONNAME=Console", true},           {L"CLIENTNAME=PC", true}, {L"WINEUSERNAME=u", true},
      {L"OneDrive=C:\\Users\\u\\OneDrive", true}, {L"OneDriveCommercial=C:\\Users\\u\\OneDrive - D", true},
      {L"=C:=C:\\x", false},                    {L"QT_PLUGIN_PATH=C:\\Users\\u\\qt", false},
      {L"ELECTRON_RUN_AS_NODE=1", false},       {L"NODE_OPTIONS=-r a", false},
      {L"CLASSPATH=C:\\Users\\u\\a.jar", false}, {L"ZZ_ANY=1", false},
      {L"HTTPS_PROXY=http://p:8080", false},    {L"NO_PROXY=*", false},
      {L"COR_PROFILER_PATH_64=p.dll", false},   {L"Path=C:\\Users\\u\\bin", false},
      {L"tmp=C:\\Users\\u\\Temp", false},      {L"windir=Z:\\u", false},
  };
  std::wstring own_block;
  for (const auto& variable : own) own_block += std::wstring(variable.entry) + L'\0';
  const wchar_t machine[] =
      L"windir=C:\\W\0USERPROFILE=C:\\Users\\Default\0USERNAME=SYSTEM\0ComSpec=C:\\W\\cmd.exe\0"
      L"TEMP=C:\\W\\Temp\0DOTNET_STARTUP_HOOKS=h.dll\0ZUNO_MACHINE=1\0";
  const std::wstring block = L"|" + Flatten(BuildEnvironmentBlock(own_block.c_str(), machine, nullptr, 0));
  for (const auto& variable : own) {
    EXPECT_EQ(block.find(std::wstring(L"|") + variable.entry + L"|") != std::wstring::npos, variable.passes)
        << testing::PrintToString(std::wstring(variable.entry));
  }
  for (const wchar_t* machines : {L"|windir=C:\\W|", L"|ComSpec=C:\\W\\cmd.exe|", L"|TEMP=C:\\W\\Temp|", L"|ZUNO_MACHINE=1|"}) {
    EXPECT_NE(block.find(machines), std::wstring::npos) << testing::PrintToString(std::wstring(machines));
  }
  for (const wchar_t* gone : {L"Default", L"SYSTEM", L"DOTNET_", L"Path=", L"tmp="}) {
    EXPECT_EQ(block.find(gone), std::wstring::npos) << testing::PrintToString(std::wstring(gone));
  }
  EXPECT_EQ(block.substr(0, 17), L"|APPDATA=C:\\Users");
  const EnvironmentValue replaced[] = {{L"PATH", L"S"}, {L"TEMP", L"T"}, {L"TMP", L"T"}};
  EXPECT_EQ(Flatten(BuildEnvironmentBlock(L"TEMP=U\0", L"ComSpec=C:\\W\\cmd.exe\0TEMP=C:\\W\\Temp\0", replaced, 3)),
            L"ComSpec=C:\\W\\cmd.exe|PATH=S|TEMP=T|TMP=T|");
}

}  // namespace
