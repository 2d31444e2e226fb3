// The command line of the driver programs: [--timeout SECONDS]
// [--process PID] STEP... Each step is echoed as "step: S" before it runs;
// the first that fails is reported as "failed: S" and ends the run.
#pragma once

#include <windows.h>

#include <string>

// How a step is echoed; steps that carry a PIN show only their name.
using StepLabel = std::string (*)(const std::string& step);

// Runs the steps; 0 when all succeed, 1 at the first failure. A
// --timeout sets *timeoutMs before any step runs.
int RunDriverSteps(int argc, char** argv, DWORD* timeoutMs, bool (*runStep)(const std::string&),
                   StepLabel label = nullptr);
