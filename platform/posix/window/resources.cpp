// The system resources a window class names: icons, cursors and stock brushes are never drawn
// on this host, so each is a distinct, recognisable handle and nothing more.
#include "platform/win32.h"

namespace {

int s_moduleInstance;
int s_applicationIcon;
int s_arrowCursor;
int s_stockObjects[20];

bool IsSystemResource(HINSTANCE hInstance, LPCWSTR lpName, LPCWSTR lpSystemName)
{
    return hInstance == nullptr && lpName == lpSystemName;
}

}  // namespace

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (lpModuleName != nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);  // no modules other than the program are loaded
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&s_moduleInstance);
}

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName)
{
    // The program's own icons are in its Windows build only.
    if (!IsSystemResource(hInstance, lpIconName, IDI_APPLICATION)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HICON>(&s_applicationIcon);
}

HCURSOR WINAPI LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName)
{
    if (!IsSystemResource(hInstance, lpCursorName, IDC_ARROW)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HCURSOR>(&s_arrowCursor);
}

HGDIOBJ WINAPI GetStockObject(int i)
{
    if (i < 0 || i >= static_cast<int>(sizeof(s_stockObjects) / sizeof(s_stockObjects[0]))) {
        return nullptr;
    }
    return &s_stockObjects[i];
}
