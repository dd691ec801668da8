/* platform.h: what each platform file provides to the rest of the library. */
#ifndef MORAVEL_PLATFORM_H
#define MORAVEL_PLATFORM_H

#include "../glue/qtypes.h"

/* A zero-filled block of size bytes, or null. */
void *PlatAlloc(qlong size);
void PlatFree(void *block);
/* The block enlarged or shrunk to size bytes, its first bytes kept (as many
   as both sizes hold); the bytes beyond the old size are not cleared. Null
   when it cannot be had; the old block is then untouched. */
void *PlatResize(void *block, qlong size);

/* The short tone of a load that could not obtain memory. */
void PlatBeep(void);

/* Reads a whole file. path is the qchar path buffer, converted in place to the
   platform's file-name form. On success returns a block holding the bytes and
   two zero bytes after them, status 0 and the byte count in *nbytes; else
   null, the status (2, 4 or 5) and *nbytes 0. The block is the caller's. */
uint8_t *PlatFetchFileBytes(qchar *path, qshort *status, qlong *nbytes);

/* The common end of every platform's file read: after a failure the block
   (if any) is released and nothing is returned; after success two zero bytes
   follow the got bytes read and *nbytes is got. */
uint8_t *FinishFileBytes(uint8_t *block, qlong got, qshort status, qlong *nbytes);

/* The platform's path delimiter and the order in which delimiter kinds are
   classified, platform first. */
extern const qchar kPlatDelim;
extern const char kPlatDelimOrder[3];

/* Catalogue string strid + index (Windows form) or entry index of list strid
   (Mac form), at most maxlen units with a zero unit; empty when missing. */
#if MORAVEL_UNICODE
void GetResourceOstr(oschar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring);
#else
void GetResourceOstr(char *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring);
#endif

#endif
