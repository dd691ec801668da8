/* stdlib.h: the C library's memory functions the Mac bundle calls, as the
   system declares them (libSystem). */
#ifndef MORAVEL_MAC_STDLIB_H
#define MORAVEL_MAC_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *ptr, size_t size);
void free(void *ptr);

#ifdef __cplusplus
}
#endif

#endif
