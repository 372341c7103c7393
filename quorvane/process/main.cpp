#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_list.h"
#include "quorvane/support/object_names.h"
#include "quorvane/support/security.h"
#include "quorvane/support/trace.h"

static const SecurityTraceTexts kStartupSecurityTexts = {
    TEXT("QUORVANEWinMain() : InitializeSecurityDescriptor() failed. GetLastError() = %d\n"),
    TEXT("QUORVANEWinMain() : SetSecurityDescriptorDacl() failed. GetLastError() = %d\n"),
    TEXT("QUORVANEWinMain() : SecurityDescriptor : SUCCESS\n"),
};

// Creates the single-instance event. Returns FALSE when another helper already holds it.
static BOOL CreateOnlyOneInstanceEvent(LPSECURITY_ATTRIBUTES pSecurityAttributes)
{
    WCHAR szName[OBJECT_NAME_BUFFER_CHARS];
    BuildEventName(szName, ONLY_ONE_INSTANCE_EVENT_NAME);

    g_Process.hOnlyOneInstanceEvent = CreateEventW(pSecurityAttributes, TRUE, TRUE, szName);
    if (g_Process.hOnlyOneInstanceEvent == NULL) {
        // Better two helpers than none: start-up goes on as the only instance.
        TraceMessage(TEXT("QUORVANEWinMain() : CreateEvent(%s) failed. GetLastError() = %d\n"),
                     szName, GetLastError());
    } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
        TraceMessage(
            TEXT("QUORVANEWinMain() : CreateEvent(%s) : Event already exists. Close Windows\n"),
            szName);
        // Only this process's handle goes: the running helper's event lives on.
        CloseHandle(g_Process.hOnlyOneInstanceEvent);
        g_Process.hOnlyOneInstanceEvent = NULL;
        return FALSE;
    } else {
        TraceMessage(TEXT("QUORVANEWinMain() : CreateEvent(%s) SUCCESS\n"), szName);
    }
    return TRUE;
}

static void CreateSuspendModeEvent(LPSECURITY_ATTRIBUTES pSecurityAttributes)
{
    WCHAR szName[OBJECT_NAME_BUFFER_CHARS];
    BuildEventName(szName, SUSPEND_MODE_EVENT_NAME);

    // An event left by the port component is simply opened and shared.
    g_Process.hSuspendModeEvent = CreateEventW(pSecurityAttributes, TRUE, FALSE, szName);
    if (g_Process.hSuspendModeEvent == NULL) {
        TraceMessage(TEXT("QUORVANEOnPowRegister() : WinMain(%s) failed. GetLastError() = %d\n"),
                     szName, GetLastError());
    } else {
        TraceMessage(TEXT("QUORVANEOnPowRegister() : WinMain(%s) SUCCESS\n"), szName);
    }
}

static void CreateHelperWindow(HINSTANCE hInstance, HINSTANCE hPrevInstance)
{
    if (hPrevInstance == NULL) {
        WNDCLASSW windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.cbClsExtra = 0;
        windowClass.cbWndExtra = 0;
        windowClass.hInstance = hInstance;
        windowClass.hIcon = LoadIconW(NULL, IDI_APPLICATION);
        windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszMenuName = NULL;
        windowClass.lpszClassName = HELPER_WINDOW_CLASS;
        RegisterClassW(&windowClass);
    }

    // Never shown: the window exists only to receive messages.
    HWND hwnd = CreateWindowExW(0, HELPER_WINDOW_CLASS, HELPER_WINDOW_CLASS, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL,
                                NULL, hInstance, NULL);
    ShowWindow(hwnd, SW_HIDE);
    UpdateWindow(hwnd);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR /*lpCmdLine*/,
                   int /*nShowCmd*/)
{
    TraceMessage(TEXT(
        "QUORVANE--------------------------------------- WinMain ---------------------------\n"));

    SECURITY_DESCRIPTOR securityDescriptor;
    SECURITY_ATTRIBUTES securityAttributes;
    LPSECURITY_ATTRIBUTES pSecurityAttributes = NULL;
    if (BuildOpenSecurityAttributes(&kStartupSecurityTexts, &securityDescriptor,
                                    &securityAttributes)) {
        pSecurityAttributes = &securityAttributes;
    }

    if (!CreateOnlyOneInstanceEvent(pSecurityAttributes)) {
        return 0;
    }

    InitPortList();
    CreateSuspendModeEvent(pSecurityAttributes);
    CreateHelperWindow(hInstance, hPrevInstance);

    // GetMessageW returns -1 on an error: that ends the loop too, rather than spinning on it.
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    if (g_Process.hSuspendModeEvent != NULL) {
        CloseHandle(g_Process.hSuspendModeEvent);
        g_Process.hSuspendModeEvent = NULL;
    }
    return 0;
}
