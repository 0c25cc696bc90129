#ifndef TAV_ENGINE_CORE_WINDOWS_API_H_
#define TAV_ENGINE_CORE_WINDOWS_API_H_

// The Windows API, without its min and max macros and its seldom used parts. Nothing elsewhere.
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#endif  // TAV_ENGINE_CORE_WINDOWS_API_H_
