// Host requests as a Unicode plug-in makes them.
#define MORAVEL_UNICODE 1
#define PROBE_SUITE HostRequestsU
#include "requests_cases.inc"
