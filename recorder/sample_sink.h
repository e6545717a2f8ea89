// Where the samples that a RecordedPort takes go: the rows of the CSV, the blocks published to a broker, or
// both. The port reading and its loss accounting stay one, whatever the samples feed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "csv_format.h"

namespace kolmrec {

struct TakenSamples {
  const PortDescription& port;
  std::uint64_t first_index;  // of the first set
  const double* values;       // `sets` sets of four normalised values
  std::size_t sets;
  const std::array<double, 4>& factors;  // the display norms, or 1 for normalised values
  std::optional<double> host_seconds;    // when they were taken, where asked for
};

class SampleSink {
 public:
  virtual ~SampleSink() = default;
  virtual void samples(const TakenSamples& taken) = 0;
  // A value buffer was found full: `lost` samples are estimated missing before `index`.
  virtual void loss(int port, std::uint64_t index, std::uint64_t lost) = 0;
};

// The CSV rows of one round of reads.
class CsvRows final : public SampleSink {
 public:
  void samples(const TakenSamples& taken) override {
    append_rows(rows, taken.port.port, taken.first_index, taken.port.rate_hz, taken.values, taken.sets, taken.factors,
                taken.host_seconds);
  }
  void loss(int port, std::uint64_t index, std::uint64_t lost) override { rows += loss_note(port, index, lost); }

  std::string rows;
};

class SinkList final : public SampleSink {
 public:
  explicit SinkList(std::vector<SampleSink*> sinks) : sinks_(std::move(sinks)) {}
  void samples(const TakenSamples& taken) override {
    for (SampleSink* sink : sinks_) sink->samples(taken);
  }
  void loss(int port, std::uint64_t index, std::uint64_t lost) override {
    for (SampleSink* sink : sinks_) sink->loss(port, index, lost);
  }

 private:
  std::vector<SampleSink*> sinks_;
};

}  // namespace kolmrec
