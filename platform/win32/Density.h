// Screen density for the Windows files of platform/ that draw windows: views
// count in pixels of a 96 dots-per-inch screen, the system in its own; and
// the functions newer systems add for it, looked up where they exist.
#pragma once

#include <windows.h>

namespace kivo::ui {

constexpr int BaseDpi = 96;

// A view's Value in pixels at Dpi, and back.
inline int Scaled(int Value, int Dpi) {
    return MulDiv(Value, Dpi, BaseDpi);
}
inline int Unscaled(int Value, int Dpi) {
    return MulDiv(Value, BaseDpi, Dpi);
}

// The function Name of the loaded system library Module, or nullptr where
// the system is older than the function.
template <typename TFunction> TFunction SystemFunction(const wchar_t* Module, const char* Name) {
    HMODULE H = GetModuleHandleW(Module);
    return H == nullptr
               ? nullptr
               : reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(GetProcAddress(H, Name)));
}

} // namespace kivo::ui
