#include "win/activation_context.h"

#include "win/unique_handle.h"

namespace win {
namespace {

void ReleaseContext(HANDLE context) noexcept { ::ReleaseActCtx(context); }

// Made on the main thread before any other thread starts; only read after that. (CreateActCtxW
// fails with INVALID_HANDLE_VALUE, which is never kept.)
UniqueHandle<HandleTraits<HANDLE, nullptr, ReleaseContext>> g_context;

}  // namespace

bool MakeProgramContext(HMODULE module, WORD resource_id) noexcept {
  if (g_context) return true;
  // The system directory with its closing backslash: whether Windows takes the application's
  // name for a folder or for a file in one, the folder is the system directory.
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH - 1);
  if (length == 0 || length >= MAX_PATH - 1) return false;
  if (system[length - 1] != L'\\') system[length] = L'\\';
  // With the module's handle the manifest is read from the loaded image; the path only names it.
  wchar_t source[MAX_PATH] = {};
  const DWORD source_length = ::GetModuleFileNameW(module, source, MAX_PATH);
  if (source_length == 0 || source_length >= MAX_PATH) return false;

  ACTCTXW request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID |
                    ACTCTX_FLAG_APPLICATION_NAME_VALID | ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
  request.lpSource = source;
  request.hModule = module;
  request.lpResourceName = MAKEINTRESOURCEW(resource_id);
  request.lpApplicationName = system;
  request.lpAssemblyDirectory = system;
  HANDLE context = ::CreateActCtxW(&request);
  if (context == INVALID_HANDLE_VALUE) return false;
  g_context.reset(context);
  return true;
}

HANDLE ProgramContext() noexcept { return g_context.get(); }

ProgramContextScope::ProgramContextScope() noexcept {
  if (HANDLE context = ProgramContext()) active_ = ::ActivateActCtx(context, &cookie_) != FALSE;
}

ProgramContextScope::~ProgramContextScope() {
  if (active_) ::DeactivateActCtx(0, cookie_);
}

}  // namespace win
