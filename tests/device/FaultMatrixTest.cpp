// Every device operation against every fault the simulator can make at every
// position of its exchange. The positions come from the simulator's own count
// of a clean run (replies sent, writes seen); what each fault must lead to is
// the operation's rule below, not a case written by hand.
#include <functional>
#include <sstream>

#include "firmware/Bootloader.h"
#include "firmware/FirmwareFile.h"
#include "tests/TestSupport.h"
#include "tests/firmware/FirmwareFixture.h"

namespace {

enum class Fault { None, NoReply, WrongCode, PrematureCompletion, Removal, LateReply, FailedWrite };

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::None: return "none";
    case Fault::NoReply: return "no reply";
    case Fault::WrongCode: return "wrong code";
    case Fault::PrematureCompletion: return "premature completion";
    case Fault::Removal: return "removal";
    case Fault::LateReply: return "late reply";
    case Fault::FailedWrite: return "failed write";
  }
  return "?";
}

// A code that no exchange expects; a bootloader takes it as a refusal.
constexpr uint8_t kStrangeCode = 0x63;
// Later than the longest wait of any exchange (the emulation's 60 s completion).
constexpr uint64_t kLateByUs = 61'000'000;

struct Expected {
  int result;
  std::vector<std::string> lines;  // trace lines that must be there
};

// Where a fault struck: its position, and how many replies and writes the clean exchange has.
struct Position {
  Fault fault;
  int at;
  int replies;
  int writes;
};

struct Operation {
  const char* name;
  bool bootloader;
  uint32_t longestWaitMs;
  bool closesChannel;
  std::function<int(CAltimeter&, const std::wstring& firmware)> run;
  std::function<Expected(const Position&)> expect;
  // Packets expected in the memory image after the run (ReadFlightMemory), -1: not checked.
  std::function<int(const Position&)> packetsKept = [](const Position&) { return -1; };
};

// Reply faults that end an exchange the same way: the read fails.
bool ReadFails(Fault f) { return f == Fault::NoReply || f == Fault::Removal || f == Fault::LateReply; }

// ReadSettings: 22 data replies, then the completion.
Expected ReadSettingsRule(const Position& p) {
  const bool last = p.at == 22;
  switch (p.fault) {
    case Fault::FailedWrite:
      return p.at == 0 ? Expected{IoError, {"Write Error."}} : Expected{IoError, {}};
    case Fault::WrongCode:  // a data reply is data whatever its code, but the confirmation must be one
      return last ? Expected{ProtocolError, {}} : Expected{Ok, {"Done."}};
    case Fault::PrematureCompletion:
      return last ? Expected{Ok, {"Done."}} : Expected{ProtocolError, {"Premature end of data."}};
    default:
      if (ReadFails(p.fault))
        return {TransferError, {last ? "Could not read complete confirmation." : "Failed to read packet."}};
      return {Ok, {"Done."}};
  }
}

// WriteSettings: reset, command, 22 data writes, then one completion.
Expected WriteSettingsRule(const Position& p) {
  switch (p.fault) {
    case Fault::FailedWrite:
      if (p.at == 0) return {IoError, {"Write Error."}};
      if (p.at == 1) return {IoError, {"OPERATION_INVALIDHANDLE"}};
      return {TransferError, {"Failed to write packet."}};
    case Fault::WrongCode:
      return {ProtocolError, {}};
    default:
      if (ReadFails(p.fault)) return {TransferError, {"Could not read complete confirmation."}};
      return {Ok, {"Done."}};
  }
}

// One completion: ClearMemory answers TransferError on a failed write or read,
// the short commands IoError; ReadAltitude and ReadVoltage want data before it.
std::function<Expected(const Position&)> OneCompletionRule(CommandResult failure, bool resetFirst, int dataReplies) {
  return [=](const Position& p) -> Expected {
    const bool data = p.at < dataReplies;
    switch (p.fault) {
      case Fault::FailedWrite:
        return resetFirst && p.at == 0 ? Expected{failure, {"Write Error."}} : Expected{failure, {}};
      case Fault::WrongCode:
        return {ProtocolError, {}};
      case Fault::PrematureCompletion:
        return data ? Expected{ProtocolError, {}} : Expected{Ok, {}};
      default:
        if (ReadFails(p.fault)) return {failure, {}};
        return {Ok, {}};
    }
  };
}

constexpr int kRepliesPerPacket = 33;  // 32 words and a completion

// ReadFlightMemory: a reset, then two writes and 33 replies for each packet,
// the erased one that ends the memory included.
Expected ReadFlightMemoryRule(const Position& p) {
  const bool confirmation = p.at % kRepliesPerPacket == 32;
  switch (p.fault) {
    case Fault::FailedWrite:
      return p.at == 0 ? Expected{IoError, {"Write Error."}} : Expected{IoError, {}};
    case Fault::WrongCode:
      // A strange word is skipped; the completion then comes where a word was due.
      return confirmation ? Expected{ProtocolError, {}}
                          : Expected{ProtocolError, {"Invalid data.", "Premature end of data."}};
    case Fault::PrematureCompletion:
      return confirmation ? Expected{Ok, {"Done Reading Data..."}}
                          : Expected{ProtocolError, {"Invalid data.", "Premature end of data."}};
    default:
      if (ReadFails(p.fault))
        return {TransferError,
                {confirmation ? "Could not read complete confirmation." : "Failed to read to packet."}};
      return {Ok, {"Done Reading Data..."}};
  }
}

int ReadFlightMemoryPackets(const Position& p) {
  const int all = p.replies / kRepliesPerPacket - 1;  // the erased packet is not kept
  switch (p.fault) {
    case Fault::None:
    case Fault::FailedWrite:
      return p.fault == Fault::None ? all : std::max(0, (p.at - 1) / 2);
    case Fault::PrematureCompletion:
      if (p.at % kRepliesPerPacket == 32) return all;
      [[fallthrough]];
    default:
      return p.at / kRepliesPerPacket;
  }
}

// EmulateLaunch: the device asks for a sample at every reply but the last,
// which is the completion of the reset that ends the emulation.
Expected EmulateLaunchRule(const Position& p) {
  const bool last = p.at == p.replies - 1;
  switch (p.fault) {
    case Fault::FailedWrite:
      if (p.at == 0) return {false, {"Write Error."}};
      return p.at == p.writes - 1 ? Expected{false, {"Write Error."}} : Expected{false, {"Write Error"}};
    case Fault::WrongCode:
    case Fault::PrematureCompletion:
      // In the loop any code it does not know ends the emulation, which then resets as usual.
      if (last) return {p.fault == Fault::PrematureCompletion, {}};
      return {true, {"Unknown code received."}};
    default:
      if (ReadFails(p.fault)) return {false, {"Read Error."}};
      return {true, {"The device is requesting ADC data. Data: End of available data."}};
  }
}

// UpdateFirmware: the hardware version, the erase, then one answer per block written.
Expected UpdateFirmwareRule(const Position& p) {
  switch (p.fault) {
    case Fault::FailedWrite:  // the erase's line is begun before its write
      return {UpdateIoError, {p.at == 1 ? "Erasing... Failed to write." : "Failed to write."}};
    case Fault::WrongCode:
      if (p.at == 0) return {UpdateWrongHardwareVersion, {}};
      return p.at == 1 ? Expected{UpdateProtocolError, {}} : Expected{UpdateProtocolError, {"Protocol error."}};
    default:
      if (ReadFails(p.fault))
        return {UpdateIoError, {p.at == 1 ? "Erasing... Failed to read. Timeout." : "Failed to read."}};
      return {UpdateOk, {"Erasing... done."}};
  }
}

Expected LeaveBootloaderRule(const Position& p) {
  if (p.fault == Fault::FailedWrite) return {UpdateIoError, {"Failed to write."}};
  return {UpdateOk, {}};
}

int Run(CommandResult r) { return r; }

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"Connect", false, 0, false,
       [](CAltimeter& a, const std::wstring&) { return static_cast<int>(a.Connect(nullptr, false)); },
       [](const Position&) { return Expected{Connected, {}}; }},
      {"ReadSettings", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.ReadSettings()); }, ReadSettingsRule},
      {"WriteSettings", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.WriteSettings()); }, WriteSettingsRule},
      {"ClearMemory", false, kEraseTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.ClearMemory()); },
       OneCompletionRule(TransferError, false, 0)},
      {"ResetSettings", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.ResetSettings()); }, OneCompletionRule(IoError, false, 0)},
      {"FireLines", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.FireLines()); }, OneCompletionRule(IoError, true, 0)},
      {"EnterBootloader", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.EnterBootloader()); },
       OneCompletionRule(IoError, false, 0)},
      {"ReadAltitude", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) {
         float m = 0;
         return Run(a.ReadAltitude(m));
       },
       OneCompletionRule(IoError, true, 2)},
      {"ReadVoltage", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) {
         uint16_t v = 0;
         return Run(a.ReadVoltage(v));
       },
       OneCompletionRule(IoError, true, 1)},
      {"ReadFlightMemory", false, kReplyTimeoutMs, false,
       [](CAltimeter& a, const std::wstring&) { return Run(a.ReadFlightMemory(nullptr)); }, ReadFlightMemoryRule,
       ReadFlightMemoryPackets},
      {"EmulateLaunch", false, 60000, false,
       [](CAltimeter& a, const std::wstring&) { return static_cast<int>(a.EmulateLaunch(nullptr)); },
       EmulateLaunchRule},
      {"UpdateFirmware", true, kEraseTimeoutMs, false,
       [](CAltimeter& a, const std::wstring& firmware) {
         uint16_t format = 0, hardware = 0, bootloader = 0, version = 0;
         return static_cast<int>(a.UpdateFirmware(nullptr, firmware, format, hardware, bootloader, version));
       },
       UpdateFirmwareRule},
      {"LeaveBootloader", true, 0, true,
       [](CAltimeter& a, const std::wstring&) { return static_cast<int>(a.LeaveBootloader()); }, LeaveBootloaderRule},
  };
  return ops;
}

struct Outcome {
  int result = 0;
  int replies = 0;
  int writes = 0;
  uint64_t elapsedUs = 0;
  bool open = false;
  bool cancel = false;
  int packets = 0;
  bool comments = false;
  std::vector<std::string> trace;
  bool Has(const std::string& line) const { return std::find(trace.begin(), trace.end(), line) != trace.end(); }
};

class FaultMatrixTest : public SimTest {
 protected:
  void SetUp() override {}

  // A fresh device and channel for one run; the fault counts from the operation's first exchange.
  Outcome RunOnce(const Operation& op, Fault fault, int at) {
    altimeter.reset();
    UseScenario(op.bootloader ? "bootloader" : "");
    SimFlightComputer& device = Device();
    // Two recorded packets keep the download short; three samples the emulation.
    std::fill(device.flash.begin() + 2 * 64, device.flash.end(), uint8_t{0xFF});
    if (std::string(op.name) != "Connect") {
      EXPECT_EQ(Alt().Connect(nullptr, op.bootloader), Connected);
    }
    Alt().flight.altitudeMsl = {1320.0, 1320.5, 1321.0};
    device.repliesSent = 0;
    device.writesSeen = 0;
    SimFaults& f = device.faults;
    switch (fault) {
      case Fault::None: break;
      case Fault::NoReply: f.noReplyAt = at; break;
      case Fault::WrongCode: f.codeAt = at, f.replyCode = kStrangeCode; break;
      case Fault::PrematureCompletion: f.prematureCompletionAt = at; break;
      case Fault::Removal: f.removeAt = at; break;
      case Fault::LateReply: f.lateAt = at, f.lateByUs = kLateByUs; break;
      case Fault::FailedWrite: f.failWriteAt = at; break;
    }
    Outcome out;
    const uint64_t start = Bus().Now();
    {
      TraceCapture trace;
      out.result = op.run(Alt(), firmware_);
      out.trace = trace.Lines();
    }
    out.elapsedUs = Bus().Now() - start;
    out.replies = device.repliesSent;
    out.writes = device.writesSeen;
    out.open = Alt().IsOpen();
    out.cancel = Alt().cancelRequested;
    out.packets = static_cast<int>(Alt().packets.size());
    out.comments = !Alt().comments.empty();
    return out;
  }

  void Check(const Operation& op, const Position& p, const Outcome& clean, const Outcome& got) {
    SCOPED_TRACE(std::string(op.name) + ", " + FaultName(p.fault) + " at " + std::to_string(p.at));
    Expected want = op.expect(p);
    EXPECT_EQ(got.result, want.result);
    for (const std::string& line : want.lines) EXPECT_TRUE(got.Has(line)) << "no trace line \"" << line << "\"";
    // The channel stays as the operation leaves it; nobody asked to cancel.
    EXPECT_EQ(got.open, !op.closesChannel);
    EXPECT_FALSE(got.cancel);
    // At most one wait ran out, and none waits longer than the operation's longest time-out.
    EXPECT_LE(got.elapsedUs, clean.elapsedUs + uint64_t{op.longestWaitMs} * 1000);
    const int packets = op.packetsKept(p);
    if (packets >= 0) {
      EXPECT_EQ(got.packets, packets);
      // The comments follow the sets of a download that finished, and only then.
      EXPECT_EQ(got.comments, got.result == Ok && packets > 0);
    }
  }

  ScratchDir dir_;
  std::wstring firmware_;
};

TEST_F(FaultMatrixTest, EveryOperationMeetsEveryFaultAtEveryPositionOfItsExchange) {
  // Three blocks to program and one left erased.
  std::vector<uint8_t> image = PatternImage(4 * kFirmwareBlockSize);
  std::fill(image.begin() + kFirmwareBlockSize, image.begin() + 2 * kFirmwareBlockSize, uint8_t{0xFF});
  ASSERT_TRUE(WriteFirmwareFile(dir_.WidePath("f.dat"), image, static_cast<int32_t>(image.size()) - 1, 0x0400, 0x0401));
  firmware_ = dir_.WidePath("f.dat");

  for (const Operation& op : Operations()) {
    const Outcome clean = RunOnce(op, Fault::None, -1);
    const Position none{Fault::None, -1, clean.replies, clean.writes};
    Check(op, none, clean, clean);
    for (Fault fault : {Fault::NoReply, Fault::WrongCode, Fault::PrematureCompletion, Fault::Removal,
                        Fault::LateReply, Fault::FailedWrite}) {
      // A bootloader's answer has no completion code to send early.
      if (fault == Fault::PrematureCompletion && op.bootloader) continue;
      const int positions = fault == Fault::FailedWrite ? clean.writes : clean.replies;
      for (int at = 0; at < positions; ++at) {
        const Position p{fault, at, clean.replies, clean.writes};
        Check(op, p, clean, RunOnce(op, fault, at));
        if (HasFailure()) return;  // the first broken case says enough
      }
    }
  }
}

}  // namespace
