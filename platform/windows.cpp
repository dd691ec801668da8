/* windows.cpp: memory, file steps, catalogue strings and the beep on Windows,
   and the attach routine that keeps the library's module handle. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <string.h>

#include "filesteps.h"

static const char kDelimOrder[3] = {'\\', '/', ':'};

qchar PlatDelim(void) { return (qchar)kDelimOrder[0]; }
const char *PlatDelimOrder(void) { return kDelimOrder; }

/* The library's own module, for loading its string resources. */
HINSTANCE hInstLib = 0;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
  (void)lpvReserved;
  if (fdwReason == DLL_PROCESS_ATTACH) {
    if (!hInstLib) hInstLib = hinstDLL;
  } else if (fdwReason == DLL_PROCESS_DETACH) {
    hInstLib = 0;
  }
  return TRUE;
}

void *PlatAlloc(qlong size) { return (void *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, (SIZE_T)size); }
void PlatFree(void *block) { GlobalFree((HGLOBAL)block); }
void PlatFreeWritten(void *block, qlong) { PlatFree(block); }
void PlatDiscardHead(void *, qlong) {}

/* A fixed block may move when it is enlarged; its address is its handle. */
void *PlatResize(void *block, qlong keep, qlong size)
{
  uint8_t *p = (uint8_t *)GlobalReAlloc((HGLOBAL)block, (SIZE_T)size, GMEM_MOVEABLE);
  if (p) memset(p + keep, 0, (size_t)(size - keep));
  return p;
}

/* Nothing is kept between calls: every block goes back to the system when released. */
void PlatReleaseKept(void) {}

void PlatBeep(void) { Beep(1500, 3); }

static HANDLE Handle(const PlatFile *file) { return (HANDLE)file->ref; }

/* Opened for reading; others may read the file meanwhile but not write it. */
qshort SysOpenFile(const void *name, PlatFile *file)
{
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = 0;
  sa.bInheritHandle = FALSE;
#if MORAVEL_UNICODE
  HANDLE h = CreateFileW((LPCWSTR)name, GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
#else
  HANDLE h = CreateFileA((LPCSTR)name, GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
#endif
  file->ref = (intptr_t)h;
  return h == INVALID_HANDLE_VALUE ? (qshort)kErrOpen : (qshort)kErrNone;
}

/* Only files on disk: a pipe, console or device named in a tag could block
   the host in the read. The size is the low word, which is negative as a
   signed 32-bit number for the failure value and from 2 GiB on. */
qshort SysFileSize(const PlatFile *file, int64_t *size)
{
  if (GetFileType(Handle(file)) != FILE_TYPE_DISK) return kErrRead;
  qlong low = (qlong)GetFileSize(Handle(file), 0);
  if (low < 0) return kErrRead;
  *size = low;
  return kErrNone;
}

qshort SysSeekFileStart(const PlatFile *file)
{
  return SetFilePointer(Handle(file), 0, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER ? (qshort)kErrRead
                                                                                     : (qshort)kErrNone;
}

qshort SysReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got)
{
  DWORD read = 0;
  *got = 0;
  if (!ReadFile(Handle(file), buffer, (DWORD)count, &read, 0) && GetLastError() != ERROR_SUCCESS) return kErrRead;
  *got = (qlong)read;
  return kErrNone;
}

qshort SysCloseFile(const PlatFile *file) { return CloseHandle(Handle(file)) ? (qshort)kErrNone : (qshort)kErrRead; }

/* Catalogue strings from the library's own string table; empty when missing. */
#if MORAVEL_UNICODE
void GetResourceOstr(oschar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
{
  (void)isPstring;
  if (maxlen <= 0) return;
  buf[0] = 0;
  int n = LoadStringW(hInstLib, (UINT)(strid + index), (LPWSTR)buf, (int)maxlen);
  if (n < 0) n = 0;
  if (n > maxlen - 1) n = (int)(maxlen - 1);
  buf[n] = 0;
}
#else
void GetResourceOstr(char *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
{
  (void)isPstring;
  if (maxlen <= 0) return;
  buf[0] = 0;
  int n = LoadStringA(hInstLib, (UINT)(strid + index), buf, (int)maxlen);
  if (n < 0) n = 0;
  if (n > maxlen - 1) n = (int)(maxlen - 1);
  buf[n] = 0;
}
#endif
