#include "existing/product_detection.h"

#include <gtest/gtest.h>

#include "tests/existing/installed_product.h"

namespace {

bool Present() {
  InstalledProductInfo info;
  return IsInstalledProductPresent(&info);
}

std::wstring FoundDir() {
  InstalledProductInfo info;
  return FindInstalledProductDir(&info).c_str();
}

class ProductDetection : public ::testing::Test {
 protected:
  test::InstalledProduct product_;
};

TEST_F(ProductDetection, NoKeyMeansNothingInstalledAndTheKeyExistsAfterwards) {
  ASSERT_FALSE(product_.key().Exists());
  EXPECT_FALSE(Present());
  EXPECT_TRUE(product_.key().Exists());
  EXPECT_EQ(L"", FoundDir());
  EXPECT_TRUE(ReadInstalledProductName().empty());
  EXPECT_FALSE(IsOlderGenerationInstalled());
}

TEST_F(ProductDetection, TheCompleteProductIsFoundAndEachMissingPieceUndoesIt) {
  product_.InstallComplete();
  product_.RegisterName(L"Zuno Office Guard 2025");
  EXPECT_TRUE(Present());
  EXPECT_EQ(product_.dir(), FoundDir());
  EXPECT_STREQ(L"Zuno Office Guard 2025", ReadInstalledProductName().c_str());
  EXPECT_FALSE(IsOlderGenerationInstalled());

  InstalledProductInfo info;
  ASSERT_TRUE(IsInstalledProductPresent(&info));
  EXPECT_EQ(product_.dir(), info.installDir.c_str());
  EXPECT_EQ(test::SystemDirectory(), info.systemDir.c_str());
  EXPECT_FALSE(ProductFileExists(info, L"Zuno.exe", static_cast<FileLocation>(2)));

  for (const wchar_t* library : {L"ZunoSkinManager.dll", L"ZunoSkin.dll", L"ThemePack.dll",
                                 L"ZunoLanguageVn.dll", L"ZunoLanguageEn.dll"}) {
    product_.Remove(library);
    EXPECT_FALSE(Present()) << "without " << library;
    product_.Put(library);
  }
  product_.RemoveService();
  EXPECT_FALSE(Present()) << "without the service program";
}

TEST_F(ProductDetection, AnyOneProgramFileIsEnough) {
  product_.RegisterDir(product_.dir());
  product_.PutLibraries();
  product_.PutService();
  EXPECT_FALSE(Present());
  for (const wchar_t* program : {L"Zun.exe", L"Zuno.exe", L"ZunoFamily.exe"}) {
    product_.PutProgram(program);
    EXPECT_TRUE(Present()) << program;
    EXPECT_EQ(product_.dir(), FoundDir()) << program;
    product_.Remove(program);
  }
}

TEST_F(ProductDetection, TheServiceProgramCountsOnlyInTheSystemDirectory) {
  product_.InstallComplete();
  product_.RemoveService();
  product_.Put(L"ZunoService.exe");
  EXPECT_FALSE(Present());
}

TEST_F(ProductDetection, AProgramWithoutVersionDataIsPresentButNotConfirmed) {
  product_.InstallComplete();
  product_.PutProgram(L"Zuno.exe", L"fixture_no_version.exe");
  EXPECT_TRUE(Present());
  EXPECT_EQ(L"", FoundDir());
}

TEST_F(ProductDetection, TheDirectoryMustBeAPlainStringOfAnExistingDirectory) {
  product_.InstallComplete();
  product_.RegisterDir(product_.dir(), REG_EXPAND_SZ);
  EXPECT_FALSE(Present());
  EXPECT_EQ(L"", FoundDir());

  product_.RegisterDir(product_.dir() + L"\\missing");
  EXPECT_FALSE(Present());
  product_.RegisterDir(product_.Path(L"Zuno.exe"));  // a file, not a directory
  EXPECT_FALSE(Present());
  product_.RegisterDir(L"");
  EXPECT_FALSE(Present());
}

TEST_F(ProductDetection, ATrailingBackslashIsKeptInTheAnswer) {
  product_.InstallComplete();
  product_.RegisterDir(product_.dir() + L"\\");
  EXPECT_TRUE(Present());
  EXPECT_EQ(product_.dir() + L"\\", FoundDir());
}

TEST_F(ProductDetection, Zuno2009AloneIsTheOlderGeneration) {
  product_.RegisterDir(product_.dir());
  product_.Put(L"Zuno2009.exe");
  EXPECT_TRUE(IsOlderGenerationInstalled());
  EXPECT_FALSE(Present());
  product_.Remove(L"Zuno2009.exe");
  EXPECT_FALSE(IsOlderGenerationInstalled());
}

}  // namespace
