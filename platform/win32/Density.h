// Screen density for the Windows files of platform/ that draw windows: views
// count in pixels of a 96 dots-per-inch screen, the system in its own; and
// the functions newer systems add for it, looked up where they exist.
// Defined in NativeUi.cpp.
#pragma once

namespace kivo::ui {

constexpr int BaseDpi = 96;

// A view's Value in pixels at Dpi, and back (rounded as MulDiv rounds).
int Scaled(int Value, int Dpi);
int Unscaled(int Value, int Dpi);

// The function Name of the loaded system library Module, or nullptr where
// the system is older than the function.
using TSystemProc = void (*)();
TSystemProc SystemProc(const wchar_t* Module, const char* Name);
template <typename TFunction> TFunction SystemFunction(const wchar_t* Module, const char* Name) {
    return reinterpret_cast<TFunction>(SystemProc(Module, Name));
}

} // namespace kivo::ui
