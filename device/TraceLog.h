// The developer's trace: narrow lines on standard output, each ended with
// std::endl (newline and flush). Programs may point it elsewhere (ulktool sends
// it to standard error with --trace and discards it otherwise; tests capture it).
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

extern std::ostream TraceLog;

// Where the trace goes from now on; nullptr discards it. Answers the old target.
std::streambuf* SetTraceTarget(std::streambuf* target);

// Restores standard output as the target.
void TraceToStdout();

// Skips the formatting of trace lines altogether, not only their output: a
// fuzzer or a batch run reads thousands of files a second. Call it while no
// other thread traces.
void SilenceTrace(bool silent);
