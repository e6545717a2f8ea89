// Every platform operation of an activation, a query and a release fails in turn: the n-th one for every
// n. Each failure must come back as its documented code, leave no descriptor or thread behind and leave
// the port ready to be activated again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pekolm.h"
#include "platform/serial_port.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;
using namespace pekolm::platform;

enum class Operation { none, open, settings, write, read, purge };

const char* name(Operation operation) {
  switch (operation) {
    case Operation::open:
      return "open";
    case Operation::settings:
      return "settings";
    case Operation::write:
      return "write";
    case Operation::read:
      return "read";
    case Operation::purge:
      return "purge";
    default:
      return "none";
  }
}

// Not one of the codes that mean the device has gone: the port stays usable after it.
constexpr int injected = EPROTO;

struct FaultPlan {
  std::atomic<int> countdown{0};  // the operation that brings it to 0 fails
  std::atomic<Operation> failed{Operation::none};

  bool fails(Operation operation) {
    if (countdown.fetch_sub(1) != 1) return false;
    failed = operation;
    return true;
  }
};

class FailingPort final : public SerialPort {
 public:
  FailingPort(std::unique_ptr<SerialPort> port, FaultPlan& plan) : port_(std::move(port)), plan_(plan) {}

  IoResult read(std::uint8_t* destination, std::size_t max) override {
    if (plan_.fails(Operation::read)) return {0, injected};
    return port_->read(destination, max);
  }
  IoResult write(const std::uint8_t* source, std::size_t count) override {
    if (plan_.fails(Operation::write)) return {0, injected};
    return port_->write(source, count);
  }
  int purge_input() override { return plan_.fails(Operation::purge) ? injected : port_->purge_input(); }
  int purge_all() override { return plan_.fails(Operation::purge) ? injected : port_->purge_all(); }
  // A wait fails only once bytes have come, as a read after a wait would, and they stay for the next call.
  IoResult receive(std::uint8_t* destination, std::size_t max) override {
    if (held_.empty()) {
      const IoResult received = port_->receive(destination, max);
      if (received.bytes == 0 || !plan_.fails(Operation::read)) return received;
      held_.assign(destination, destination + received.bytes);
      return {0, injected};
    }
    const std::size_t n = std::min(max, held_.size());
    std::copy_n(held_.begin(), n, destination);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    return {n, 0};
  }
  void wait_for_interrupt() override { port_->wait_for_interrupt(); }
  void interrupt_wait() override { port_->interrupt_wait(); }
  bool read_cts(bool& cts_on) override { return port_->read_cts(cts_on); }

 private:
  std::unique_ptr<SerialPort> port_;
  FaultPlan& plan_;
  std::vector<std::uint8_t> held_;  // taken off the line by a receive reported as failed
};

TEST(FaultSweep, EveryFailingPlatformOperationIsReportedAndLeavesNothingBehind) {
  const int port = 64;
  SimulatedAmplifier amplifier(port, kolmsim::Options{.transmitting = false});
  FaultPlan plan;
  set_port_opener([&plan](int number, const LineSettings& settings, int& os_error) -> std::unique_ptr<SerialPort> {
    if (plan.fails(Operation::open)) {
      os_error = injected;
      return nullptr;
    }
    std::unique_ptr<SerialPort> real = open_system_serial_port(number, settings, os_error);
    if (!real) return nullptr;
    if (plan.fails(Operation::settings)) {
      os_error = injected;
      return nullptr;
    }
    return std::make_unique<FailingPort>(std::move(real), plan);
  });
  const int descriptors = count_entries("/proc/self/fd");
  const int threads = count_entries("/proc/self/task");

  std::set<Operation> swept;
  for (int n = 1;; ++n) {
    plan.failed = Operation::none;
    plan.countdown = n;
    const int activated = KolmactExt(port, 115200, 64);
    std::set<int> codes;
    for (int code; (code = KolmgetLastError(port)) != 0;) codes.insert(code);
    int queried = 0;
    if (activated == 0) {
      queried = KolmgetMode(port);
      for (int code; (code = KolmgetLastError(port)) != 0;) codes.insert(code);
      EXPECT_EQ(Kolmrelease(port), 0);
    }
    const Operation failed = plan.failed;
    SCOPED_TRACE("operation " + std::to_string(n) + ": " + name(failed));
    if (failed == Operation::none) {
      // Past the last operation: the sequence ran clean, so the port opens again after every failure.
      EXPECT_EQ(activated, 0);
      EXPECT_EQ(queried, 1);
      EXPECT_TRUE(codes.empty());
      break;
    }
    swept.insert(failed);
    switch (failed) {
      case Operation::open:
      case Operation::settings:
        EXPECT_EQ(activated, -1);
        EXPECT_EQ(codes, std::set<int>{injected});
        break;
      case Operation::write:
        // A failed write of the start-up ends it, of the firmware query only leaves the version unknown.
        EXPECT_EQ(codes, std::set<int>{0x20000000 | injected});
        break;
      case Operation::read:
        // The receive thread reports it and reads again: nothing else fails.
        EXPECT_EQ(activated, 0);
        EXPECT_EQ(queried, 1);
        EXPECT_EQ(codes, std::set<int>{injected});
        break;
      case Operation::purge:
        // Only a release purges, and a release does not fail for it.
        EXPECT_EQ(activated, 0);
        EXPECT_TRUE(codes.empty());
        break;
      case Operation::none:
        break;
    }
    EXPECT_TRUE(eventually([&] { return count_entries("/proc/self/task") == threads; }));
    EXPECT_EQ(count_entries("/proc/self/fd"), descriptors);
    if (n > 200) FAIL() << "the sequence never ran clean";
  }
  set_port_opener({});
  EXPECT_EQ(swept, (std::set<Operation>{Operation::open, Operation::settings, Operation::write, Operation::read,
                                        Operation::purge}));
}

}  // namespace
