#include "codec/videoencoder/VidovaBinding.h"

#include "platform/com/EngineLoader.h"

#include <mutex>

const VidovaBinding& Vidova() {
    static VidovaBinding binding;
    static std::once_flag once;
    std::call_once(once, [] {
        HMODULE m = LoadLibraryBesideModule(L"Vidova.dll");
        if (!m) return;
        BindOrdinal(m, 1, &binding.Free);
        BindOrdinal(m, 2, &binding.Defaults);
        BindOrdinal(m, 3, &binding.SetPerformance);
        BindOrdinal(m, 4, &binding.Create);
        BindOrdinal(m, 5, &binding.Start);
        BindOrdinal(m, 6, &binding.Done);
        BindOrdinal(m, 7, &binding.PutFrame);
        BindOrdinal(m, 17, &binding.CheckSettings);
    });
    return binding;
}
