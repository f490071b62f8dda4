#include "codec/audioencoder/AudovaBinding.h"

#include "platform/com/EngineLoader.h"

#include <mutex>

const AudovaBinding& Audova() {
    static AudovaBinding binding;
    static std::once_flag once;
    std::call_once(once, [] {
        HMODULE m = LoadLibraryBesideModule(L"Audova.dll");
        if (!m) return;
        BindOrdinal(m, 1, &binding.Free);
        BindOrdinal(m, 3, &binding.Create);
        BindOrdinal(m, 4, &binding.Start);
        BindOrdinal(m, 5, &binding.Encode);
        BindOrdinal(m, 6, &binding.Done);
        BindOrdinal(m, 11, &binding.CheckSettings);
    });
    return binding;
}
