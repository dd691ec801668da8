/* catalogue.cpp: the design-information answer: a function's parameters and its return value. */
#include <string.h>

#include "../glue/extutils.h"
#include "../glue/omstring.h"
#include "moravel.h"

enum {
  kLableUnits = kStr255Units, /* the record's room: 254 characters and a zero unit */
  kAskParameters = 5,
  kAskReturnValue = 6,
  kEntryUnits = 1024
};

/* Catalogue entry of a package id, as qchar text. */
static void CatalogueEntry(qchar *entry, qshort cmdNumber, qlong rootID)
{
#if MORAVEL_MAC
  qlong index = cmdNumber; /* string lists count their entries from 1 */
#else
  qlong index = cmdNumber - 1; /* string ids: the first id is package id 1 */
#endif
  GetResourceStr(entry, kEntryUnits, rootID, index, 0);
}

/* Appends the parameter list of the entry: from its first "(" up to the
   first ":", which ends the part the host shows. */
static qlong AppendParameters(qchar *lable, qlong len, const qchar *entry)
{
  qlong end = 0;
  while (entry[end] && entry[end] != ':') end++;
  qlong open = 0;
  while (open < end && entry[open] != '(') open++;
  for (qlong i = open; i < end && len < kLableUnits - 1; i++) lable[len++] = entry[i];
  lable[len] = 0;
  return len;
}

static void WriteLable(_extdesigninforec *rec, const qchar *text, qlong len)
{
  rec->lable.length = (tStr255Length)len;
  memcpy(rec->lable.chars, text, ((size_t)len + 1) * sizeof(qchar));
  rec->usedefault = 0;
}

void doDesignInfo(void *designinfo, qshort cmdNumber, qlong rootID)
{
  _extdesigninforec *rec = (_extdesigninforec *)designinfo;
  qchar lable[kLableUnits];
  qlong len;
  if (rec->qfldid == kAskParameters) {
    qchar entry[kEntryUnits];
    CHRcopyAsciiStringToQchar("Parms: ", lable, 1);
    CatalogueEntry(entry, cmdNumber, rootID);
    len = AppendParameters(lable, OMstrlen(lable), entry);
  } else if (rec->qfldid == kAskReturnValue) {
    CHRcopyAsciiStringToQchar("Return Code :", lable, 1);
    len = OMstrlen(lable);
  } else {
    return;
  }
  WriteLable(rec, lable, len);
}
