#include "DriverSteps.h"

#include "DesktopInput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int RunDriverSteps(int argc, char** argv, DWORD* timeoutMs, bool (*runStep)(const std::string&), StepLabel label)
{
    std::vector<std::string> steps;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            *timeoutMs = static_cast<DWORD>(std::atoi(argv[++i])) * 1000;
        } else if (std::strcmp(argv[i], "--process") == 0 && i + 1 < argc) {
            SetTargetProcess(static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10)));
        } else {
            steps.push_back(argv[i]);
        }
    }
    for (const std::string& step : steps) {
        const std::string shown = label ? label(step) : step;
        std::printf("step: %s\n", shown.c_str());
        std::fflush(stdout);
        if (!runStep(step)) {
            std::printf("failed: %s\n", shown.c_str());
            return 1;
        }
    }
    return 0;
}
