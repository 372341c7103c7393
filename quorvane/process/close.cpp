#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_list.h"

HelperProcess g_Process;

void OnClose()
{
    ClearPortList();
    if (g_Process.hOnlyOneInstanceEvent != NULL) {
        CloseHandle(g_Process.hOnlyOneInstanceEvent);
        g_Process.hOnlyOneInstanceEvent = NULL;
    }
}
