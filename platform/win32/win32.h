// The Win32 subset that TRIVSETS calls. On Windows these are the system
// headers; elsewhere the same names, types and calling conventions, served
// by the stand-in in this folder (a test double, not a product feature).
#pragma once

#ifdef _WIN32

#include <stdlib.h>  // _splitpath
#include <string.h>  // _strnicmp, strncpy
#include <windows.h>
#include <winspool.h>

#else

#include <stddef.h>
#include <stdint.h>
#include <string.h>  // strncpy

#if defined(__i386__)
#define WINAPI __attribute__((__stdcall__))
#else
#define WINAPI
#endif

#define WIN32_STANDIN_API __attribute__((__visibility__("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef size_t SIZE_T;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef void *HANDLE;
typedef HANDLE HMODULE;
typedef HANDLE HINSTANCE;
typedef HANDLE HGLOBAL;
typedef void *LPSECURITY_ATTRIBUTES;
typedef void *LPOVERLAPPED;
typedef HANDLE HDC;
typedef HANDLE HWND;
typedef BYTE *LPBYTE;
typedef intptr_t INT_PTR;
typedef INT_PTR(WINAPI *FARPROC)(void);

// Only pointers to these pass through the library.
typedef struct _devicemodeA DEVMODEA, *PDEVMODEA, *LPDEVMODEA;
typedef struct _PRINTER_DEFAULTSA PRINTER_DEFAULTSA, *LPPRINTER_DEFAULTSA;

typedef struct _DRIVER_INFO_2A {
    DWORD cVersion;
    LPSTR pName;
    LPSTR pEnvironment;
    LPSTR pDriverPath;  // full path of the driver's main file
    LPSTR pDataFile;
    LPSTR pConfigFile;
} DRIVER_INFO_2A;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define FILE_BEGIN 0

#define GMEM_FIXED 0x0000u
#define GMEM_ZEROINIT 0x0040u

#define QUERYESCSUPPORT 8
#define DM_OUT_BUFFER 2
#define IDOK 1

// Files
WIN32_STANDIN_API HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share,
                                            LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                            DWORD flags, HANDLE templateFile);
WIN32_STANDIN_API DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
WIN32_STANDIN_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                                       LPOVERLAPPED overlapped);
WIN32_STANDIN_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                                              DWORD method);
WIN32_STANDIN_API BOOL WINAPI CloseHandle(HANDLE object);

// Global memory (fixed blocks: the handle is the block's address)
WIN32_STANDIN_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
WIN32_STANDIN_API LPVOID WINAPI GlobalLock(HGLOBAL memory);
WIN32_STANDIN_API BOOL WINAPI GlobalUnlock(HGLOBAL memory);
WIN32_STANDIN_API HGLOBAL WINAPI GlobalHandle(LPCVOID pointer);
WIN32_STANDIN_API HGLOBAL WINAPI GlobalFree(HGLOBAL memory);

// Modules. A module handle is the base address of the loaded object.
WIN32_STANDIN_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
WIN32_STANDIN_API UINT WINAPI GetSystemDirectoryA(LPSTR path, UINT size);
WIN32_STANDIN_API HMODULE WINAPI LoadLibraryA(LPCSTR path);
WIN32_STANDIN_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
WIN32_STANDIN_API BOOL WINAPI FreeLibrary(HMODULE module);
WIN32_STANDIN_API HANDLE WINAPI GetCurrentProcess(void);
// IsWow64Process is not declared: callers find it with GetProcAddress in
// Kernel32.dll of the system directory, as on systems that predate it.

// Print spooler
WIN32_STANDIN_API BOOL WINAPI OpenPrinterA(LPSTR name, HANDLE *printer,
                                           LPPRINTER_DEFAULTSA defaults);
WIN32_STANDIN_API BOOL WINAPI ClosePrinter(HANDLE printer);
WIN32_STANDIN_API BOOL WINAPI GetPrinterDriverA(HANDLE printer, LPSTR environment, DWORD level,
                                                LPBYTE info, DWORD size, LPDWORD needed);
WIN32_STANDIN_API LONG WINAPI DocumentPropertiesA(HWND window, HANDLE printer, LPSTR device,
                                                  PDEVMODEA output, PDEVMODEA input, DWORD mode);

// GDI
WIN32_STANDIN_API HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR port,
                                       const DEVMODEA *devmode);
WIN32_STANDIN_API int WINAPI ExtEscape(HDC dc, int escape, int inputSize, LPCSTR input,
                                       int outputSize, LPSTR output);
WIN32_STANDIN_API BOOL WINAPI DeleteDC(HDC dc);

// The C runtime's extensions (cdecl, as in msvcrt)
WIN32_STANDIN_API void _splitpath(const char *path, char *drive, char *dir, char *fname,
                                  char *ext);
WIN32_STANDIN_API int _strnicmp(const char *a, const char *b, size_t count);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32
