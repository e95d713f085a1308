// The fixed bilingual catalogue of every text the installer shows at run time.
#include "app/messages.h"

#include <windows.h>

#include "win/registry_version.h"

std::atomic<int32_t> UiLanguage{0};

namespace {

struct CatalogueEntry {
  int32_t number;
  const wchar_t* vietnamese;
  const wchar_t* english;
};

const wchar_t kAdminVi[] = L"Bạn cần thực thi bộ cài đặt dưới quyền admin!";
const wchar_t kAdminEn[] = L"Please run Zuno setup with admin permission!";

// Texts are kept letter for letter, trailing blanks and line feeds included:
// message 8 ends in two blanks in Vietnamese and one in English.
constexpr CatalogueEntry kCatalogue[] = {
    {0,
     L"Huỷ bỏ",
     L"Cancel"},
    {1,
     L"Có lỗi trong quá trình tải về. Bạn vui lòng thử lại sau!",
     L"Errors occur when downloading. Please try again latter!"},
    {2,
     L"Đã hoàn thành tải bộ cài đặt về. Đang chuẩn bị cài đặt",
     L"Download completed. Preparing for installation"},
    {3,
     L"Có lỗi trong quá trình khởi tạo ứng dụng. Bạn vui lòng thử lại sau!",
     L"Errors occur when initializing application. Please try again latter!"},
    {4,
     L"Có lỗi trong quá trình tải trực tiếp bộ cài đặt. Chuyển sang tải qua proxy mặc định",
     L"Errors occur when directly downloading installer. Switching to downloading via default proxy"},
    {5,
     L"Có lỗi trong quá trình tải qua proxy mặc định. Chuyển sang tải qua cấu hình IE proxy",
     L"Errors occur when downloading via default proxy. Switching to downloading via IE proxy configuration"},
    {6, kAdminVi, kAdminEn},
    {7,
     L"Bạn có muốn dừng quá trình cài đặt Zuno không?",
     L"Are you sure you want to stop Zuno installation?"},
    {8,
     L"Tải qua proxy mặc định:  ",
     L"Download via default proxy: "},
    {9,
     L"Tải qua cấu hình IE proxy: ",
     L"Download via IE proxy configuration: "},
    {10,
     L"Đang khởi tạo tài nguyên",
     L"Initializing resource"},
    {11,
     L"Đang khởi tạo kết nối",
     L"Initializing connection"},
    {12,
     L"Đang kiểm tra kết nối mạng",
     L"Checking Internet connection"},
    {13,
     L"Đang phân tích liên kết",
     L"Analyzing connection"},
    {14,
     L"Đang kết nối tới server",
     L"Connecting to server"},
    {15,
     L"Đang khởi tạo yêu cầu tới server",
     L"Initializing request to sever"},
    {16,
     L"Đang gửi yêu cầu tới server",
     L"Sending request to server"},
    {17,
     L"Đang tải bộ cài đặt",
     L"Downloading installer"},
    {18,
     L"Không đủ bộ nhớ để nhận dữ liệu",
     L"Not enough space for the download"},
    {19,
     L"Có lỗi trong quá trình tải về, trình cài đặt đang cố gắng tải tiếp",
     L"Errors occur when downloading, the installer is trying to resume the download"},
    {20,
     L"Máy tính của bạn đã được cài sẵn Zuno. Bạn cần gỡ bỏ phiên bản Zuno đang có trên máy tính trước khi cài đặt phiên bản Zuno Family Guard!",
     L"Zuno has already been installed on your computer.\nTo install the Zuno Family Guard version, you should uninstall the current version."},
    {21,
     L"Máy tính của bạn đã được cài sẵn Zuno. Bạn cần gỡ bỏ phiên bản Zuno đang có trên máy tính trước khi cài đặt phiên bản Zuno Prime Guard!",
     L"Zuno has already been installed on your computer.\nTo install the Zuno Prime Guard version, you should uninstall the current version."},
    {22,
     L"Máy tính của bạn đã được cài sẵn %s.\nĐể có thể cài đặt phiên bản mới, bạn cần phải gỡ bỏ phiên bản hiện thời.",
     L"%s has already been installed on your computer.\nTo install the new version, you should uninstall the current version."},
    {23, kAdminVi, kAdminEn},  // the same pair as message 6
    {24,
     L"Máy tính của bạn đã được cài sẵn %s,\nđể kích hoạt bạn có thể bấm vào biểu tượng hình cái khiên màu cam ở bên dưới.",
     L"%s has already been installed on your computer.\nClick on the shield symbol with a red cross inside at the bottom right of the screen to start."},
    {25,
     L"Máy tính của bạn đã được cài sẵn Zuno. Bạn cần gỡ bỏ phiên bản Zuno đang có trên máy tính trước khi cài đặt phiên bản Zuno Office Guard!",
     L"Zuno has already been installed on your computer.\nTo install the Zuno Office Guard version, you should uninstall the current version."},
    // The installer's own ends, beyond the original catalogue.
    {kMessageSetupStarting, L"Chương trình cài đặt đang khởi động và không thể dừng lại được nữa.",
     L"The setup program is starting and can no longer be stopped."},
    {kMessageSetupNotStarted, L"Không thể khởi động chương trình cài đặt. Bạn vui lòng thử lại sau!",
     L"The setup program could not be started. Please try again later!"},
    // The progress line under the bar: sizes, speed, time left, the wait before a new try.
    {28, L"%s / %s", L"%s of %s"},
    {29, L"%s/giây", L"%s/s"},
    {30, L"còn khoảng %s", L"about %s left"},
    {31, L"%d giây", L"%d s"},
    {32, L"%d phút", L"%d min"},
    {33, L"%d giờ %d phút", L"%d h %d min"},
    {34, L"Thử lại sau %d giây...", L"Trying again in %d s..."},
    {35, L",", L"."},  // the decimal separator
    {36, L"%d byte", L"%d bytes"},
    // Why a download failed, and what the user can do about it.
    {kMessageSignInPage,
     L"Mạng bạn đang dùng đã trả về một trang web thay vì bộ cài đặt, có thể mạng này yêu cầu đăng nhập (như Wi-Fi ở khách sạn, quán cà phê). Bạn hãy mở trình duyệt, đăng nhập vào mạng rồi chạy lại trình cài đặt.",
     L"The network answered with a web page instead of the installer: it may want you to sign in first, as hotel and café Wi-Fi often does. Open a web browser, sign in to the network, then run the installer again."},
    {kMessageDiskFull,
     L"Ổ đĩa %s không còn đủ dung lượng trống: cần %s nhưng chỉ còn %s. Bạn hãy giải phóng bớt dung lượng trên ổ đĩa này rồi chạy lại trình cài đặt.",
     L"There is not enough free space on drive %s: the installer needs %s, and only %s is free. Free some space on that drive, then run the installer again."},
    {kMessageNoConnection,
     L"Không kết nối được tới máy chủ tải về. Bạn hãy kiểm tra kết nối Internet của máy tính rồi chạy lại trình cài đặt.",
     L"The installer could not reach the download server. Check that this computer is connected to the Internet, then run the installer again."},
    {kMessagePackageNotFound,
     L"Bộ cài đặt hiện không có trên máy chủ tải về. Bạn vui lòng thử lại sau; nếu vẫn không được, hãy liên hệ bộ phận hỗ trợ.",
     L"The installer is not on the download server at the moment. Please try again later; if it still fails, contact support."},
    {kMessageProxyRefused,
     L"Máy chủ proxy của mạng đã từ chối đăng nhập của bạn. Bạn hãy kiểm tra lại tài khoản proxy hoặc hỏi quản trị viên mạng, rồi chạy lại trình cài đặt.",
     L"The network's proxy server refused your sign-in. Check your proxy account or ask your network administrator, then run the installer again."},
    {kMessageLogNote, L"Nhật ký cài đặt được lưu tại: %s", L"The installation log is at: %s"},
    // The installed product's uninstaller was not started: others than administrators may
    // change its files.
    {kMessageFilesUnprotected,
     L"Các tệp của %s trên máy tính này có thể bị người dùng khác thay đổi, nên trình cài đặt không tự động gỡ bỏ sản phẩm này. Bạn hãy gỡ sản phẩm cũ trong phần Cài đặt của Windows (mục \"Ứng dụng\", hoặc \"Chương trình và Tính năng\" trên Windows 7 và 8.1), rồi chạy lại trình cài đặt.",
     L"The files of %s on this computer can be changed by other users, so the installer did not remove it automatically. Remove the old product in Windows' settings (\"Apps\", or \"Programs and Features\" on Windows 7 and 8.1), then run the installer again."},
    {kMessageMissingUpdate,
     L"Phiên bản Windows trên máy tính của bạn còn thiếu một bản cập nhật mà trình cài đặt cần có. Bạn hãy cài đặt các bản cập nhật mới nhất qua Windows Update, khởi động lại máy tính rồi chạy lại trình cài đặt.",
     L"This copy of Windows lacks an update that the installer needs. Install the latest updates through Windows Update, restart the computer, then run the installer again."},
    // The setup that came was refused: trying again brings the same one.
    {kMessageSetupRefused,
     L"Bộ cài đặt vừa tải về đã bị từ chối vì không phải do nhà sản xuất phát hành hoặc là phiên bản quá cũ, và đã được xoá khỏi máy tính. Bạn vui lòng liên hệ bộ phận hỗ trợ và gửi kèm nhật ký cài đặt.",
     L"The downloaded setup was refused because it is not the maker's or it is too old, and it has been deleted. Please contact support and send them the installation log."},
    {kMessageElevationDeclined,
     L"Bạn đã không cho phép chương trình cài đặt chạy với quyền quản trị. Bạn hãy chạy lại trình cài đặt và chọn \"Có\" (Yes) khi Windows hỏi.",
     L"The setup program was not allowed to run with administrator rights. Run the installer again and answer Yes when Windows asks."},
    {kMessageProgressName, L"Tiến trình tải về", L"Download progress"},
};

static_assert(sizeof(kCatalogue) / sizeof(kCatalogue[0]) == kMessageCount);

}  // namespace

WideString GetMessageText(int32_t index) {
  const int32_t language = UiLanguage.load(std::memory_order_relaxed);
  for (const CatalogueEntry& entry : kCatalogue) {
    if (entry.number != index) continue;
    if (language == kLanguageVietnamese) return WideString::Copy(entry.vietnamese);
    if (language == kLanguageEnglish) return WideString::Copy(entry.english);
    break;
  }
  return WideString();
}

bool ReadUiLanguage(int32_t* value) {
  // Created when missing; the 32-bit program sees the 32-bit view of HKLM\SOFTWARE.
  DWORD stored = 0;
  if (value == nullptr || !ReadRegistryDword(L"SOFTWARE\\Zuno", L"fGiaodien", &stored)) return false;
  // Only the two languages the catalogue holds are taken over. Any other number would
  // select no text at all and leave every box and status line blank.
  const int32_t language = static_cast<int32_t>(stored);
  if (language != kLanguageVietnamese && language != kLanguageEnglish) return false;
  *value = language;
  return true;
}
