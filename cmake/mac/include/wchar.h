/* wchar.h: the C library's wide-character functions the Mac bundle calls,
   as the system declares them (libSystem); wchar_t is 32 bits there. */
#ifndef MORAVEL_MAC_WCHAR_H
#define MORAVEL_MAC_WCHAR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

size_t wcslen(const wchar_t *s);
size_t wcsnlen(const wchar_t *s, size_t maxlen);
wchar_t *wcschr(const wchar_t *s, wchar_t c);
wchar_t *wmemchr(const wchar_t *s, wchar_t c, size_t n);

#ifdef __cplusplus
}
#endif

#endif
