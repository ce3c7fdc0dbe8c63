// Why listed devices cannot be reached, and the commands that mend them.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/network/diagnosis.h"

namespace oxlo::cli {

struct Examination {
  std::vector<SeenDevice> devices;
  std::vector<HostInterface> interfaces;
  std::vector<DeviceDiagnosis> diagnoses;  // one per device
  // Per device: what the probe of its suggested new address found.
  std::vector<ProbeFinding> probes;
};

// Diagnoses the devices as the window does (DiagnoseAndProbe). With `probe`
// (transport::ProbeAddresses for real), each suggested new address is first
// asked for on the interface the device answered on; one a host claims is
// never suggested.
Examination Examine(std::vector<SeenDevice> devices, std::vector<HostInterface> interfaces,
                    const ProbeBatch& probe);

// A finding worse than information.
bool HasProblem(const DeviceDiagnosis& diagnosis);

// Whether the device's name can be written into a command: text that is
// valid UTF-8 with no NUL and nothing a terminal would act on. Otherwise the
// command leaves --name out, and `oxlo assign` keeps the name as it is.
bool NameCanBeWritten(const DeviceRecord& record);

// The `oxlo assign` command that carries out a mend, keeping the device's
// name: as its arguments, and as one line for any POSIX shell.
std::vector<std::string> AssignArguments(const SeenDevice& device, const AddressMend& mend);
std::string AssignCommand(const SeenDevice& device, const AddressMend& mend);

// Each device with its findings, their fixes and the commands to run.
void PrintDoctorText(std::ostream& out, const Examination& examination);
// The discovery objects with their problems, and a "mend" object (ip, mask,
// gateway, command, argv, name_left_out, probed) or null.
void PrintDoctorJson(std::ostream& out, const Examination& examination);

}  // namespace oxlo::cli
