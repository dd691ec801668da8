/* extutils.h: the library's own string resources as qchar text. */
#ifndef MORAVEL_EXTUTILS_H
#define MORAVEL_EXTUTILS_H

#include "../platform/qtypes.h"

/* Catalogue string strid + index (Windows form) or entry index of string
   list strid (Mac form) as qchar text of at most maxlen - 1 units and a
   zero, in the caller's buf, which is returned. A missing string, and in the
   Unicode builds a conversion block that cannot be had, give the empty text. */
qchar *GetResourceStr(qchar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring);

#endif
