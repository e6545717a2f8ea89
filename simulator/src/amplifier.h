// The amplifier's behaviour: its settings and what each command does to them. One whole command in,
// the answer payload (for queries) and any effect on the signal or the stream out. No I/O, no clock.
//
// A command whose parameters are out of range (channel 0 or 5, an unknown rate code, a wrong access
// code, ...) is ignored as a whole: no setting changes and a query gets no answer, so the host sees a
// time-out rather than an answer it did not ask for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "kolmsim/simulator.h"

namespace kolmsim {

// What a command does beyond the settings kept here.
struct Reaction {
  std::optional<Bytes> answer_payload;  // set for an answered query
  int zero_channel = 0;                 // 1..4: that channel's present level becomes its zero
  bool send_value = false;              // send one measured-value frame now
};

class Amplifier {
 public:
  // The three parameter sets start as copies of the initial settings.
  explicit Amplifier(const AmplifierState& initial);

  // `command` is one whole command as framed by CommandReader.
  Reaction handle(std::span<const std::uint8_t> command);

  AmplifierState& state() { return state_; }
  const AmplifierState& state() const { return state_; }

 private:
  std::optional<Bytes> answer(std::span<const std::uint8_t> c) const;
  void apply(std::span<const std::uint8_t> c, Reaction& reaction);
  void set_transmitting(bool on);

  AmplifierState state_;
  // Parameter sets hold the measuring settings only: rate, input types, scales, norms, offsets,
  // thresholds, units, unit text and I/O line types. Identity (serial number, firmware), mode,
  // transmission, interface settings and the live I/O state are not part of a set.
  std::array<AmplifierState, 3> saved_;
};

}  // namespace kolmsim
