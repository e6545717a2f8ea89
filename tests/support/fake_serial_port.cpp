// Test support: see fake_serial_port.h.
#include "fake_serial_port.h"

#include <cerrno>
#include <utility>

#include "simulated_amplifier.h"

namespace testing_support {

namespace {

class FakeSerialPort final : public pekolm::platform::SerialPort {
 public:
  explicit FakeSerialPort(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

  pekolm::platform::IoResult read(std::uint8_t* destination, std::size_t max) override {
    std::lock_guard lock(line_->mutex);
    if (line_->read_error != 0) {
      ++line_->failed_reads;
      return {0, line_->read_error_persists ? line_->read_error : std::exchange(line_->read_error, 0)};
    }
    if (line_->hung_up) return {0, EIO, true};
    std::size_t n = 0;
    while (n < max && !line_->incoming.empty()) {
      destination[n++] = line_->incoming.front();
      line_->incoming.pop_front();
    }
    return {n, 0};
  }

  pekolm::platform::IoResult write(const std::uint8_t* source, std::size_t count) override {
    FakeBytes bytes(source, source + count);
    std::function<FakeBytes(const FakeBytes&)> responder;
    {
      std::lock_guard lock(line_->mutex);
      line_->writes.push_back(bytes);
      if (static_cast<int>(line_->writes.size()) == line_->failing_write) {
        if (line_->write_short) return {count - 1, 0};
        return {0, line_->write_errno};
      }
      if (line_->hung_up) return {0, EIO};
      responder = line_->responder;
    }
    if (responder) line_->push(responder(bytes));
    return {count, 0};
  }

  pekolm::platform::IoResult receive(std::uint8_t* destination, std::size_t max) override {
    {
      std::unique_lock lock(line_->mutex);
      line_->changed.wait(lock, [&] {
        return (interrupted_ && !line_->deaf) || line_->hung_up || line_->read_error != 0 || !line_->incoming.empty();
      });
      if (std::exchange(interrupted_, false)) return {0, 0, false, true};
    }
    return read(destination, max);
  }

  void wait_for_interrupt() override {
    std::unique_lock lock(line_->mutex);
    line_->changed.wait(lock, [&] { return interrupted_; });
    interrupted_ = false;
  }

  void interrupt_wait() override {
    {
      std::lock_guard lock(line_->mutex);
      interrupted_ = true;
    }
    line_->changed.notify_all();
  }

  int purge_input() override {
    std::lock_guard lock(line_->mutex);
    ++line_->purges;
    line_->incoming.clear();
    return 0;
  }

  int purge_all() override { return purge_input(); }

  bool read_cts(bool& cts_on) override {
    std::lock_guard lock(line_->mutex);
    if (!line_->cts_readable) return false;
    cts_on = line_->cts_on_at && std::chrono::steady_clock::now() >= *line_->cts_on_at;
    return true;
  }

 private:
  std::shared_ptr<FakeLine> line_;
  bool interrupted_ = false;  // guarded by the line's mutex
};

}  // namespace

FakeLine::FakeLine() : responder(default_response) {}

void FakeLine::push(const FakeBytes& bytes) {
  if (bytes.empty()) return;
  {
    std::lock_guard lock(mutex);
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
  }
  changed.notify_all();
}

FakeBytes default_response(const FakeBytes& command) {
  if (command.empty()) return {};
  switch (command[0]) {
    case 0x27:
      return answer_frame({1});  // operating mode
    case 0x29:
      return answer_frame({0x02});  // transmission mode: transmitting
    case 0x2B:
      return answer_frame({12});  // firmware version
    default:
      return {};
  }
}

FakePortInstaller::FakePortInstaller(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {
  pekolm::platform::set_port_opener([line = line_](int, const pekolm::platform::LineSettings&,
                                                   int& os_error) -> std::unique_ptr<pekolm::platform::SerialPort> {
    std::lock_guard lock(line->mutex);
    if (line->open_error != 0) {
      os_error = line->open_error;
      return nullptr;
    }
    return std::make_unique<FakeSerialPort>(line);
  });
}

FakePortInstaller::~FakePortInstaller() { pekolm::platform::set_port_opener({}); }

}  // namespace testing_support
