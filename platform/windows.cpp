/* windows.cpp: memory, file reading, catalogue strings and the beep on Windows,
   and the attach routine that keeps the library's module handle. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "../glue/testhooks.h"
#include "platform.h"

const qchar kPlatDelim = '\\';
const char kPlatDelimOrder[3] = {'\\', '/', ':'};

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

/* A fixed block may move when it is enlarged; its address is its handle. */
void *PlatResize(void *block, qlong size)
{
  return (void *)GlobalReAlloc((HGLOBAL)block, (SIZE_T)size, GMEM_MOVEABLE);
}

void PlatBeep(void)
{
  TestNoteBeep();
  Beep(1500, 3);
}

/* Opens the path buffer for reading, others may read but not write. */
static HANDLE OpenForReading(qchar *path)
{
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = 0;
  sa.bInheritHandle = FALSE;
#if MORAVEL_UNICODE
  /* Each qchar gives at most two UTF-16 units, so the name fits in place. */
  oschar *name = (oschar *)path;
  CHRcharToOschar(path, name);
  return CreateFileW((LPCWSTR)name, GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, 0);
#else
  return CreateFileA((LPCSTR)path, GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     0);
#endif
}

uint8_t *PlatFetchFileBytes(qchar *path, qshort *status, qlong *nbytes)
{
  uint8_t *block = 0;
  qlong size = 0, got = 0;
  *status = 0;
  *nbytes = 0;

  HANDLE file = TestFileStepShouldFail(1) ? INVALID_HANDLE_VALUE : OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    *status = 4;
    return 0;
  }
  TestNoteFileOpen();

  /* Only files on disk are read: a pipe, console or device named in a tag
     could otherwise block the host in the read. Room for the two zero bytes
     behind the text must fit in a signed 32-bit size. */
  if (TestFileStepShouldFail(2) || GetFileType(file) != FILE_TYPE_DISK) {
    *status = 5;
  } else {
    DWORD low = GetFileSize(file, 0);
    if ((qlong)low < 0 || (qlong)low > INT32_MAX - 2)
      *status = 5;
    else
      size = (qlong)low;
  }

  if (*status == 0) {
    block = (uint8_t *)NewXPPointer(size + 2);
    if (!block) *status = 2;
  }
  if (*status == 0 &&
      (TestFileStepShouldFail(3) || SetFilePointer(file, 0, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER))
    *status = 5;
  if (*status == 0) {
    DWORD read = 0;
    if (TestFileStepShouldFail(4)) {
      *status = 5;
    } else if (!ReadFile(file, block, (DWORD)size, &read, 0) && GetLastError() != ERROR_SUCCESS) {
      *status = 5;
    } else {
      got = (qlong)read;
    }
  }
  BOOL closed = CloseHandle(file);
  TestNoteFileClose();
  if ((TestFileStepShouldFail(5) || !closed) && *status == 0) *status = 5;

  return FinishFileBytes(block, got, *status, nbytes);
}

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
