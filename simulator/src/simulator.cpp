// kolmsim::Simulator: the public face. Every member takes the lock, so the serving thread only ever
// sees whole changes, and wakes the thread when what it waits for may have changed.
#include "kolmsim/simulator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <system_error>

#include "simulator_impl.h"

namespace kolmsim {
namespace {

AmplifierState initial_state(const Options& options) {
  AmplifierState state;
  state.firmware_version = options.firmware_version;
  state.transmitting = options.transmitting;
  state.tx_mode = options.tx_mode;
  state.mode = options.mode;
  state.rate_code = options.rate_code;
  return state;
}

int channel_index(int channel) {
  if (channel < 1 || channel > 4) throw std::out_of_range("kolmsim: channel must be 1..4");
  return channel - 1;
}

std::string read_link(const std::string& path) {
  char target[256];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

bool leads_nowhere(const std::string& link) {
  struct stat target {};
  return ::stat(link.c_str(), &target) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace

Simulator::Impl::Impl(const Options& options)
    : slave_path(pty.slave_path()),
      amplifier(initial_state(options)),
      signal(Clock::now()),
      line_baud(options.line_baud) {}

Simulator::Simulator(const Options& options) : impl_(std::make_unique<Impl>(options)) {
  impl_->thread = std::thread([impl = impl_.get()] { impl->serve(); });
}

void Simulator::Impl::remove_links() {
  std::lock_guard lock(mu);
  for (const std::string& link : links) {
    // A later simulator may have taken the name over; leave its link alone.
    if (read_link(link) == slave_path) ::unlink(link.c_str());
  }
  links.clear();
}

Simulator::~Simulator() {
  impl_->stop_thread();
  impl_->remove_links();
}

const std::string& Simulator::slave_path() const { return impl_->slave_path; }

void Simulator::link_port(const std::string& dir, int port_number) const {
  const std::string link = dir + "/com" + std::to_string(port_number);
  // The name may hold a user's file or the link to a real adapter: only our own link, or one that leads
  // nowhere (a simulator that has gone), is ours to replace.
  struct stat found {};
  if (::lstat(link.c_str(), &found) == 0) {
    if (!S_ISLNK(found.st_mode)) {
      throw std::system_error(EEXIST, std::generic_category(), "kolmsim: " + link + " is in the way (not a link)");
    }
    const std::string target = read_link(link);
    if (target != impl_->slave_path && !leads_nowhere(link)) {
      throw std::system_error(EEXIST, std::generic_category(),
                              "kolmsim: " + link + " is in the way (a link to " + target + ")");
    }
    if (::unlink(link.c_str()) != 0 && errno != ENOENT) {
      throw std::system_error(errno, std::generic_category(), "kolmsim: remove " + link);
    }
  } else if (errno != ENOENT) {
    throw std::system_error(errno, std::generic_category(), "kolmsim: " + link);
  }
  if (::symlink(impl_->slave_path.c_str(), link.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(), "kolmsim: link " + link);
  }
  std::lock_guard lock(impl_->mu);
  if (std::find(impl_->links.begin(), impl_->links.end(), link) == impl_->links.end()) {
    impl_->links.push_back(link);
  }
}

std::vector<CommandRecord> Simulator::commands() const {
  std::lock_guard lock(impl_->mu);
  return impl_->commands;
}

Bytes Simulator::received_bytes() const {
  std::lock_guard lock(impl_->mu);
  return impl_->received;
}

void Simulator::clear_commands() {
  std::lock_guard lock(impl_->mu);
  impl_->commands.clear();
  impl_->received.clear();
}

bool Simulator::wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mu);
  return impl_->commands_changed.wait_for(lock, timeout, [&] { return impl_->commands.size() >= count; });
}

AmplifierState Simulator::state() const {
  std::lock_guard lock(impl_->mu);
  return impl_->amplifier.state();
}

void Simulator::update_state(const std::function<void(AmplifierState&)>& change) {
  {
    std::lock_guard lock(impl_->mu);
    change(impl_->amplifier.state());
  }
  impl_->wakeup.notify();  // transmission or rate may have changed
}

void Simulator::set_channel_signal(int channel, const ChannelSignal& signal) {
  const int ch = channel_index(channel);
  // A negative noise level has no distribution, and a frequency that is not finite no sine.
  if (signal.noise < 0 || !std::isfinite(signal.frequency) || signal.frequency < 0) {
    throw std::invalid_argument("kolmsim: a signal needs noise >= 0 and a finite frequency >= 0");
  }
  std::lock_guard lock(impl_->mu);
  impl_->signal.set_signal(ch, signal);
}

void Simulator::set_channel_raw(int channel, std::uint16_t raw) {
  const int ch = channel_index(channel);
  std::lock_guard lock(impl_->mu);
  impl_->signal.set_raw(ch, raw);
}

void Simulator::set_channel_load(int channel, int load) {
  const int ch = channel_index(channel);
  std::lock_guard lock(impl_->mu);
  impl_->signal.set_load(ch, load);
}

void Simulator::clear_signals() {
  std::lock_guard lock(impl_->mu);
  impl_->signal.clear();
}

std::uint64_t Simulator::frames_sent() const {
  std::lock_guard lock(impl_->mu);
  return impl_->frames_sent;
}

void Simulator::set_fault(std::uint8_t command, const AnswerFault& fault) {
  std::lock_guard lock(impl_->mu);
  impl_->faults.set_answer_fault(command, fault);
}

void Simulator::clear_faults() {
  std::lock_guard lock(impl_->mu);
  impl_->faults.clear();
}

void Simulator::break_terminators(int n) {
  std::lock_guard lock(impl_->mu);
  impl_->faults.break_terminators(n);
}

void Simulator::split_frames(std::vector<std::size_t> piece_sizes, std::chrono::milliseconds gap) {
  std::lock_guard lock(impl_->mu);
  impl_->faults.split_frames(std::move(piece_sizes), gap);
}

void Simulator::garbage_between_frames(Bytes garbage, int every) {
  std::lock_guard lock(impl_->mu);
  impl_->faults.garbage_between_frames(std::move(garbage), every);
}

void Simulator::inject(const Bytes& raw) {
  {
    std::lock_guard lock(impl_->mu);
    impl_->out.push(raw, FrameKind::other, {}, {});
  }
  impl_->wakeup.notify();
}

bool Simulator::all_sent() const {
  std::lock_guard lock(impl_->mu);
  return impl_->out.empty();
}

void Simulator::hang_up() {
  impl_->stop_thread();
  impl_->pty.close();
  // The pty's number is free again once the host lets go of it and may go to another simulator;
  // a link left behind could lead the host to that one.
  impl_->remove_links();
}

}  // namespace kolmsim
