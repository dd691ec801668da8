/* string.h: the C library's string functions the Mac bundle calls, as the
   system declares them (libSystem). The bundle is built without a Mac SDK. */
#ifndef MORAVEL_MAC_STRING_H
#define MORAVEL_MAC_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t n);
void *memset(void *b, int c, size_t len);
int memcmp(const void *s1, const void *s2, size_t n);
size_t strlen(const char *s);
size_t strnlen(const char *s, size_t maxlen);

#ifdef __cplusplus
}
/* C++ offers the const-correct pair; the bundle needs only the C form. */
extern "C" void *memchr(const void *s, int c, size_t n);
#else
void *memchr(const void *s, int c, size_t n);
#endif

#endif
