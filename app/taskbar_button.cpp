#include "app/taskbar_button.h"

#include "app/status_thread.h"

TaskbarButton::~TaskbarButton() {
  list_.reset();
  if (com_started_) ::CoUninitialize();
}

void TaskbarButton::Prepare(HWND window) noexcept {
  window_ = window;
  created_message_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
  // Windows 7 on; before that there is no taskbar progress to let through.
  using FilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  auto filter = reinterpret_cast<FilterFunction>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
  if (filter != nullptr && created_message_ != 0) filter(window, created_message_, MSGFLT_ALLOW, nullptr);
}

void TaskbarButton::Connect() noexcept {
  if (list_ || window_ == nullptr) return;
  if (!com_started_) {
    const HRESULT started = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(started)) return;
    com_started_ = true;
  }
  ITaskbarList3* list = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list)))) {
    return;
  }
  list_.reset(list);
  if (FAILED(list_.get()->HrInit())) {
    list_.reset();
    return;
  }
  Show(state_, done_);  // what came before the button existed
}

void TaskbarButton::Show(WPARAM state, LPARAM done) noexcept {
  state_ = state;
  done_ = done;
  if (!list_) return;
  ITaskbarList3* list = list_.get();
  switch (state) {
    case kTaskbarNormal:
      list->SetProgressState(window_, TBPF_NORMAL);
      list->SetProgressValue(window_, static_cast<ULONGLONG>(done), kTaskbarWhole);
      break;
    case kTaskbarWaiting:
      list->SetProgressState(window_, TBPF_PAUSED);
      break;
    case kTaskbarFailed:
      list->SetProgressValue(window_, static_cast<ULONGLONG>(done), kTaskbarWhole);
      list->SetProgressState(window_, TBPF_ERROR);
      break;
    default:
      list->SetProgressState(window_, TBPF_NOPROGRESS);
      break;
  }
}
