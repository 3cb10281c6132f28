// The probe on the simulation: vellomire-probe SCENARIO runs the same
// scenario as "probe.exe SCENARIO" does on Windows, as a simulated process
// that reads the probe's own resources as windres compiled them.
#include "probe_log.h"
#include "simctl.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: vellomire-probe SCENARIO (PROBE_LOG names the log file)\n");
        return 2;
    }
    sim::Config config;
    config.commandLine = std::string("probe.exe ") + argv[1];
    config.resourceFile = PROBE_RESOURCE_FILE;
    sim::Reset(config);
    sim::ProcessResult result = sim::RunProcess([] { ProbeEntry(); });
    if (result.hung || result.crashed || !result.exited) {
        fprintf(stderr, "vellomire-probe: the scenario %s (%s)\n",
                result.hung ? "hung" : result.crashed ? "crashed" : "returned",
                result.hangReason.c_str());
        return 1;
    }
    return 0;
}
