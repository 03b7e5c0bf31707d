// What Linux knows of a Windows process running under Wine, read through Wine's Z:
// drive: its peak resident memory, which no Windows call reports for another process.
#pragma once

#include <cstdint>
#include <string>

// The Linux process id of the Wine process whose command line holds `needle`; 0 if none.
int linuxProcessWith(const std::string& needle);
// VmHWM of that Linux process in KiB; 0 when it cannot be read.
std::uint64_t peakResidentKiB(int linuxPid);
