// An external device process on stdin/stdout, speaking lines of text:
//   device -> host  "HID vvvv pppp rrrr"  present (vendor, product, version in hex)
//   host -> device  "W b0 b1 ..."         one output report as written
//   device -> host  "R b0 b1 ..."         one input report
//   device -> host  "UNPLUG"              the device left the bus (it may come back with HID)
//   device -> host  end of file           the device left the bus for good
// Bytes are two-digit lower-case hex separated by single spaces.
#pragma once

#include <memory>
#include <string>

#include "device/HidHost.h"

std::shared_ptr<HidHost> MakeExecHost(const std::string& command, std::string& error);
// The same over a process already started, or anything that speaks its lines
// (the fuzz target feeds lines without a process).
class ExecProcess;
std::shared_ptr<HidHost> MakeExecHost(std::unique_ptr<ExecProcess> process);

// Parses "R ..." / "W ..." byte lists; false on anything malformed.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes);
std::string FormatHexBytes(const uint8_t* bytes, size_t count);
