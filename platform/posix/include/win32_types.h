// Win32 base types and structures for POSIX hosts: the LLP64 data model of 64-bit Windows,
// spelled with fixed-width types so that every layout matches the documented one.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 8, "Quorvane's POSIX layer targets 64-bit hosts only");

#define WINAPI
#define CALLBACK
#define APIENTRY

#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef long long LONG_PTR;
typedef unsigned long long ULONG_PTR;
typedef unsigned long long UINT_PTR;
typedef ULONG_PTR SIZE_T;
typedef ULONG_PTR DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef LONG HRESULT;
typedef WORD ATOM;

typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef BOOL* LPBOOL;
typedef char* LPSTR;
typedef const char* LPCSTR;

// A WCHAR is one UTF-16 code unit on every host: never the 32-bit wchar_t of glibc.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* STRSAFE_LPWSTR;
typedef const WCHAR* STRSAFE_LPCWSTR;
#define TEXT(quote) u##quote

// Handles are opaque: distinct pointer types, so that a window cannot be passed for an icon.
typedef void* HANDLE;
typedef HANDLE* LPHANDLE;
#define QUORVANE_DECLARE_HANDLE(name) \
    struct name##__ {                 \
        int unused;                   \
    };                                \
    typedef struct name##__* name
QUORVANE_DECLARE_HANDLE(HWND);
QUORVANE_DECLARE_HANDLE(HINSTANCE);
QUORVANE_DECLARE_HANDLE(HICON);
QUORVANE_DECLARE_HANDLE(HBRUSH);
QUORVANE_DECLARE_HANDLE(HMENU);
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;
typedef void* HGDIOBJ;

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

static_assert(sizeof(WCHAR) == 2, "WCHAR is one UTF-16 code unit");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4, "LLP64: DWORD and LONG are 32-bit");
static_assert(sizeof(WPARAM) == 8 && sizeof(LPARAM) == 8, "message parameters are pointer-sized");

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))

#define SUCCEEDED(hr) ((static_cast<HRESULT>(hr)) >= 0)
#define FAILED(hr) ((static_cast<HRESULT>(hr)) < 0)
