#include "app/accessibility.h"

#include <atomic>
#include <cwchar>

#include "app/banner.h"
#include "app/messages.h"
#include "resources/resource.h"

// {C12BCD8E-2A8E-4950-8AE7-3625111D58EB}
const GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};

namespace {

constexpr wchar_t kProductName[] = L"Zuno Office Guard";
// EVENT_OBJECT_LIVEREGIONCHANGED: narrators act on it from Windows 8 on; Windows 7 passes it by.
constexpr DWORD kLiveRegionChanged = 0x8019;

std::atomic<ControlAnnotations*> g_test_annotations{nullptr};
std::atomic<int> g_high_contrast{-1};

// The system's annotation service. Its annotations live as long as the control does.
class ServiceAnnotations final : public ControlAnnotations {
 public:
  explicit ServiceAnnotations(IAccPropServices* service) noexcept : service_(service) {}
  ~ServiceAnnotations() override { service_->Release(); }
  ServiceAnnotations(const ServiceAnnotations&) = delete;
  ServiceAnnotations& operator=(const ServiceAnnotations&) = delete;

  bool SetText(HWND control, const MSAAPROPID& property, const wchar_t* text) override {
    return SUCCEEDED(service_->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, property, text));
  }
  bool SetNumber(HWND control, const MSAAPROPID& property, int32_t value) override {
    VARIANT number = {};
    number.vt = VT_I4;
    number.lVal = value;
    return SUCCEEDED(service_->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, property, number));
  }

 private:
  IAccPropServices* service_;
};

// Where the test's recorder stands in, the dialog's own service is never made.
class ForwardToTest final : public ControlAnnotations {
 public:
  bool SetText(HWND control, const MSAAPROPID& property, const wchar_t* text) override {
    ControlAnnotations* test = g_test_annotations.load();
    return test != nullptr && test->SetText(control, property, text);
  }
  bool SetNumber(HWND control, const MSAAPROPID& property, int32_t value) override {
    ControlAnnotations* test = g_test_annotations.load();
    return test != nullptr && test->SetNumber(control, property, value);
  }
};

}  // namespace

void DialogAnnotations::Release(ControlAnnotations* service) noexcept { win::DeleteOnProcessHeap(service); }

void SetAnnotationsForTesting(ControlAnnotations* annotations) { g_test_annotations.store(annotations); }

DialogAnnotations::~DialogAnnotations() {
  service_.reset();
  if (com_started_) ::CoUninitialize();
}

ControlAnnotations* DialogAnnotations::Service() noexcept {
  if (tried_) return service_.get();
  tried_ = true;
  if (g_test_annotations.load() != nullptr) {
    service_.reset(win::NewOnProcessHeap<ForwardToTest>());
    return service_.get();
  }
  const HRESULT started = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  com_started_ = SUCCEEDED(started);
  // The service is oleacc's, as the system registers it. Without it the controls keep the
  // names they have.
  IAccPropServices* service = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                   reinterpret_cast<void**>(&service)))) {
    service_.reset(win::NewOnProcessHeap<ServiceAnnotations>(service));
    if (!service_) service->Release();
  }
  return service_.get();
}

void DialogAnnotations::Annotate(HWND dialog) noexcept {
  ControlAnnotations* service = Service();
  if (service == nullptr) return;
  // The bar comes first in the tab order with no label before it: it says what it measures.
  service->SetText(::GetDlgItem(dialog, IDC_PROGRESS), PROPID_ACC_NAME, GetMessageText(kMessageProgressName).c_str());
  if (HWND banner = FindBannerControl(dialog)) service->SetText(banner, PROPID_ACC_NAME, kProductName);
  service->SetNumber(::GetDlgItem(dialog, IDC_STATUS_TEXT), kLiveSettingProperty, kLivePolite);
  DescribeProgress(dialog);
}

void DialogAnnotations::DescribeProgress(HWND dialog) noexcept {
  ControlAnnotations* service = Service();
  if (service == nullptr) return;
  wchar_t line[win::kPathCapacity] = {};
  ::GetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, line, win::kPathCapacity);
  service->SetText(::GetDlgItem(dialog, IDC_PROGRESS), PROPID_ACC_DESCRIPTION, line);
}

void StatusAnnouncer::TextSet(HWND status, const wchar_t* text) noexcept {
  size_t length = text != nullptr ? wcslen(text) : 0;
  while (length > 0 && text[length - 1] == L'.') --length;  // the running dots
  if (length == told_.size() && wcsncmp(text, told_.c_str(), length) == 0) return;
  told_ = WideString::Copy(text, length);
  if (length == 0) return;  // nothing to tell; the next message is new again
  ::NotifyWinEvent(kLiveRegionChanged, status, OBJID_CLIENT, CHILDID_SELF);
}

bool HighContrastOn() noexcept {
  const int forced = g_high_contrast.load();
  if (forced >= 0) return forced != 0;
  HIGHCONTRASTW contrast = {};
  contrast.cbSize = sizeof(contrast);
  return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void SetHighContrastForTesting(int on) { g_high_contrast.store(on); }
