/* conversi.cpp: number to text in qchar units. */
#include "omstring.h"

qchar *longToStr(qlong n, qchar *s)
{
  /* Digits are produced least significant first behind a leading zero unit,
     then the whole run is reversed so the zero unit ends up last. */
  qulong mag = n < 0 ? (qulong)0 - (qulong)n : (qulong)n;
  qlong len = 0;
  s[len++] = 0;
  do {
    s[len++] = (qchar)('0' + mag % 10);
    mag /= 10;
  } while (mag);
  if (n < 0) s[len++] = '-';
  for (qlong i = 0, j = len - 1; i < j; i++, j--) {
    qchar t = s[i];
    s[i] = s[j];
    s[j] = t;
  }
  return s;
}
