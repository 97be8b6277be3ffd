// The message boxes that tell the user of a condition: modal, with no owner
// window, and not failures of the member that shows them.
#pragma once

#include <windows.h>

namespace cardkeep {

inline void showNotice(const wchar_t* text, const wchar_t* title, UINT icon) {
    MessageBoxW(nullptr, text, title, MB_OK | icon | MB_TASKMODAL);
}

}  // namespace cardkeep
