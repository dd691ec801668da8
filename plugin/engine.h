/* engine.h: the scanner's state for one DoSubstitutions call, shared with the directives. */
#ifndef MORAVEL_ENGINE_H
#define MORAVEL_ENGINE_H

#include "moravel.h"

/* How deep spliced values may nest inside one another. A value that leads
   back to its own tag would otherwise be expanded until memory runs out. */
enum { kMaxSpliceDepth = 256 };

/* The host handle: the entry's routines and ParseBuffer take it as their last
   parameter; the routines below them, which take the record or the scan state
   alone, reach the host through myGlobsP->callback, which the entry sets to
   the same handle for the call. */
typedef struct {
  globals *myGlobsP;
  qlong pos;    /* next unread unit of the input */
  qlong outpos; /* length of the output so far */
  qlong inLen;  /* length of the input text */
  /* Before the first search: where it will stop, measured as the text was
     read; 0 once used, since a splice may then write before it. */
  qlong firstOpen;
  qlong passedTo; /* where the input behind pos was last said to be read */
  qshort err;
  qbool s1Result;
  /* Splices the current tag sits in: for each, how many units of the input
     follow the spliced value. A tag that begins with more than that many
     units after it lies inside the value. */
  qlong depth;
  qlong restAfter[kMaxSpliceDepth];
} ScanState;

/* Primitives on the scan state; each sets err when memory runs out. */
/* Appends k units to the output, growing it as a value append does. */
void AppendOut(ScanState *st, const qchar *text, qlong k);
/* Appends a run of plain text: the output ends with the capacity that
   appending the run one unit at a time would leave. */
void AppendPlain(ScanState *st, const qchar *text, qlong k);
/* Appends a value read for a tag: n units when it has any. A value's length
   is below zero when reading it failed (err set), and an empty value adds
   nothing. */
void AppendValue(ScanState *st, const qchar *text, qlong n);
/* Length of the value of "#S1" as the host reports it, never negative. */
qlong S1Length(const globals *myGlobsP);
/* Reads "#S1" into the value buffer; returns its length, or -1 (err set). */
qlong S1ToValueBuffer(ScanState *st);
/* Appends the value of "#S1" through the value buffer. */
void AppendS1(ScanState *st);
/* Whether another splice may nest inside those the scan position sits in;
   false (err set) at the nesting limit. */
qbool SpliceAllowed(ScanState *st);
/* Whether k units of a spliced value fit in the input already scanned, just
   before pos: there they are placed without moving the rest of the input,
   so that a splice costs its value, not what follows it. */
qbool SpliceFits(const ScanState *st, qlong k);
/* Finishes a splice whose k units the caller wrote just before pos (after
   SpliceAllowed and SpliceFits): the scan resumes at their start. */
void SpliceBefore(ScanState *st, qlong k);
/* Prepares a splice at st->pos of k units with r units of rest after them
   (after SpliceAllowed): grows the input to hold pos + r + k + 2 units,
   keeping its first pos units. False (err set) when that fails. */
qbool SpliceBegin(ScanState *st, qlong k, qlong r);
/* Finishes a splice whose k units stand at pos and whose rest stands in restP:
   puts the rest behind them and terminates the input. */
void SpliceEnd(ScanState *st, qlong k, const qchar *restP, qlong r);
/* Leaves the spliced values that end before a tag beginning at st->pos. */
void LeaveFinishedSplices(ScanState *st);

/* Classifies the trimmed tag text and produces its value. */
void DispatchTag(ScanState *st);

#endif
