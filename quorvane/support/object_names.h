// The names of the helper's kernel objects, shared by name with the port component.
#pragma once

#include "platform/win32.h"

// Names are built in buffers of this many characters...
#define OBJECT_NAME_BUFFER_CHARS 504
// ...under a formatting budget of this many bytes (498 characters and the terminator).
#define OBJECT_NAME_BUDGET_BYTES 998

#define ONLY_ONE_INSTANCE_EVENT_NAME TEXT("QUORVANE.OnlyOneInstance")
#define SUSPEND_MODE_EVENT_NAME TEXT("QUORVANE.SuspendMode")
#define HARDWARE_ACCESS_MUTEX_NAME TEXT("QUORVANE.HardwareAccess.")

// "Global\" on NT 5 and later, where the objects must be shared across logon sessions;
// systems before that have a single namespace and no prefix.
LPCWSTR GetObjectNamePrefix();

// The prefixed name of an event: pszBaseName is one of the *_EVENT_NAME texts.
void BuildEventName(WCHAR szName[OBJECT_NAME_BUFFER_CHARS], LPCWSTR pszBaseName);

// The prefixed name of a port's hardware-access mutex: the key in sixteen hexadecimal digits.
void BuildPortMutexName(WCHAR szName[OBJECT_NAME_BUFFER_CHARS], ULONG_PTR hPort);
