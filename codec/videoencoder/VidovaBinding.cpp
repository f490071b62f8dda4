#include "codec/videoencoder/VidovaBinding.h"

#include <mutex>
#include <string>

extern HINSTANCE g_hInst;

namespace {

// Next to our own module first, then the usual search.
HMODULE LoadEngine() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(g_hInst, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::wstring dir(path, n);
    size_t slash = dir.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
      dir.resize(slash + 1);
      if (HMODULE m = LoadLibraryW((dir + L"Vidova.dll").c_str())) return m;
    }
  }
  return LoadLibraryW(L"Vidova.dll");
}

template <class F>
void Bind(HMODULE m, int ordinal, F* slot) {
  *slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

const VidovaBinding& Vidova() {
  static VidovaBinding binding;
  static std::once_flag once;
  std::call_once(once, [] {
    HMODULE m = LoadEngine();
    if (!m) return;
    Bind(m, 1, &binding.Free);
    Bind(m, 2, &binding.Defaults);
    Bind(m, 3, &binding.SetPerformance);
    Bind(m, 4, &binding.Create);
    Bind(m, 5, &binding.Start);
    Bind(m, 6, &binding.Done);
    Bind(m, 7, &binding.PutFrame);
    Bind(m, 17, &binding.CheckSettings);
  });
  return binding;
}
