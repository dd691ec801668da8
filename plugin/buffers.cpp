/* buffers.cpp: growable work buffers, enlarged by whole chunks. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "moravel.h"

qbool QBytes(int64_t units, qlong *bytes)
{
  int64_t b = units * QCHAR_SIZE;
  if (units < 0 || b > (int64_t)INT32_MAX - QSLACK) return 0;
  *bytes = (qlong)b;
  return 1;
}

qbool GrowBufferIfNeeded(qchar **theBuffer, qlong *theBufferSize, qlong neededSize,
                         qlong chunkSize, qlong copyCount)
{
  if (*theBufferSize > neededSize) return 1;
  int64_t tempSize = neededSize;
  if ((int64_t)neededSize - *theBufferSize < chunkSize) tempSize = (int64_t)*theBufferSize + chunkSize;
  if (tempSize > (int64_t)INT32_MAX - QSLACK) return 0;
  qchar *tempP;
  if (copyCount > 0 && *theBuffer && copyCount <= *theBufferSize) {
    /* The kept bytes stay where they are when the platform can enlarge the
       block in place, so a text built up by appends is not copied again at
       every chunk. */
    tempP = (qchar *)ResizeXPPointer(*theBuffer, copyCount, (qlong)tempSize + QSLACK);
    if (!tempP) return 0;
  } else {
    tempP = (qchar *)NewXPPointer((qlong)tempSize + QSLACK);
    if (!tempP) return 0;
    if (copyCount > 0)
      memcpy(tempP, *theBuffer, (size_t)copyCount);
    else
      tempP[0] = 0;
    if (*theBuffer) DisposeXPPointer(*theBuffer);
  }
  *theBuffer = tempP;
  *theBufferSize = (qlong)tempSize;
  return 1;
}

/* Records a failure for the caller, when it asked for that. */
static qbool Failed(qshort *err)
{
  if (err) *err = kErrMemory;
  return 0;
}

qbool MakeRoomFor(qchar **theBuffer, qlong *theBufferSize, int64_t neededUnits, int64_t keepUnits, qshort *err)
{
  /* As sdsMakeRoomFor, the usual case (room enough) costs one comparison. */
  if (neededUnits >= 0 && neededUnits < CapacityUnits(*theBufferSize)) return 1;
  qlong needed, keep;
  if (!QBytes(neededUnits, &needed) || !QBytes(keepUnits, &keep)) return Failed(err);
  if (!GrowBufferIfNeeded(theBuffer, theBufferSize, needed, kChunkSize, keep)) return Failed(err);
  return 1;
}

qbool MakeRoomByChunks(qchar **theBuffer, qlong *theBufferSize, int64_t neededUnits, int64_t keepUnits,
                       qshort *err)
{
  int64_t capacity = CapacityUnits(*theBufferSize);
  if (capacity > neededUnits) return 1;
  /* Appends one unit at a time each grow by one chunk when the unit lands
     at the capacity, so the whole chunks past capacity that reach beyond
     neededUnits are the sizes they would have passed through. */
  int64_t chunks = (neededUnits - capacity) / kChunkUnits + 1;
  return MakeRoomFor(theBuffer, theBufferSize, capacity + chunks * kChunkUnits, keepUnits, err);
}

qchar *NewUnits(int64_t units, qshort *err)
{
  qlong bytes;
  qchar *block = QBytes(units, &bytes) ? (qchar *)NewXPPointer(bytes) : 0;
  if (!block) Failed(err);
  return block;
}
