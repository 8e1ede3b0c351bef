#pragma once

// The Win32 headers as every file of the native windows includes them.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

// The window door has a MessageBox of its own; the system's is called by its wide name.
#undef MessageBox
