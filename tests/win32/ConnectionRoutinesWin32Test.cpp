// The connection routines' tests once more, built for Windows and run under
// Wine: the same simulated bus behind the same seam, on the Windows runtime.
#include "tests/device/ConnectionRoutinesTest.cpp"
