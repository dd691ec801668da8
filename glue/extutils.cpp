/* extutils.cpp: the library's own string resources as qchar text. */
#include "extutils.h"

#include "../platform/platform.h"
#include "kxpqutil.h"
#include "omstring.h"

qchar *GetResourceStr(qchar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
{
#if MORAVEL_UNICODE
  oschar *os = (oschar *)NewRuntimeBlock((size_t)maxlen * 4);
  buf[0] = 0;
  if (!os) return buf;
  os[0] = 0;
  GetResourceOstr(os, 2 * maxlen, strid, index, isPstring);
  os[2 * maxlen - 1] = 0;
  /* Each UTF-16 unit gives at most one qchar; keep within buf. */
  if (maxlen > 0) {
    qlong n = 0;
    while (n < maxlen - 1 && os[n]) n++;
    os[n] = 0;
  }
  CHRoscharToChar(os, buf);
  FreeRuntimeBlock(os);
#else
  GetResourceOstr((char *)buf, maxlen, strid, index, isPstring);
#endif
  return buf;
}
