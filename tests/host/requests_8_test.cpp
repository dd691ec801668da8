// Host requests as a one-byte plug-in makes them.
#define MORAVEL_UNICODE 0
#define PROBE_SUITE HostRequests8
#include "requests_cases.inc"
