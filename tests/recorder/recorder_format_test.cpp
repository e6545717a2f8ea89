// kolmrec's command line and the text of its files.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "csv_format.h"
#include "error_text.h"
#include "options.h"
#include "progress.h"
#include "recording_file.h"
#include "sample_clock.h"

namespace {

using kolmrec::parse_arguments;

TEST(RecorderOptions, PortsWithTheirBaudRatesAndTheLimits) {
  const auto parsed = parse_arguments({"--port", "3", "--baud", "230400", "--port=7", "--seconds", "2.5", "-o", "x.csv",
                                       "--normalised", "--quiet", "--host-time"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const kolmrec::Options& o = *parsed.options;
  ASSERT_EQ(o.ports.size(), 2u);
  EXPECT_EQ(o.ports[0].port, 3);
  EXPECT_EQ(o.ports[0].baud, 230400);
  EXPECT_EQ(o.ports[1].port, 7);
  EXPECT_EQ(o.ports[1].baud, 115200);
  EXPECT_EQ(o.seconds, 2.5);
  EXPECT_FALSE(o.samples);
  EXPECT_EQ(o.output, "x.csv");
  EXPECT_TRUE(o.normalised && o.quiet && o.host_time);

  // Devices by path, with --device or where a number would stand, mixed with numbers; each baud rate is for
  // the port or device before it.
  const auto mixed = parse_arguments({"--device", "ttyACM0", "--baud", "9600", "--port", "2", "--port=/dev/ttyUSB0",
                                      "--baud=57600", "--device=./com1", "--port", "/dev/ttyUSB0"});
  ASSERT_TRUE(mixed.options) << mixed.error;
  const std::vector<std::pair<std::string, int>> expected = {
      {"ttyACM0", 9600}, {"", 115200}, {"/dev/ttyUSB0", 57600}, {"./com1", 115200}, {"/dev/ttyUSB0", 115200}};
  ASSERT_EQ(mixed.options->ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(mixed.options->ports[i].path, expected[i].first) << i;
    EXPECT_EQ(mixed.options->ports[i].baud, expected[i].second) << i;
  }
  EXPECT_EQ(mixed.options->ports[1].port, 2);

  const auto defaults = parse_arguments({"--port", "1", "--samples=100"});
  ASSERT_TRUE(defaults.options) << defaults.error;
  EXPECT_EQ(defaults.options->samples, 100u);
  EXPECT_EQ(defaults.options->output, "-");
}

TEST(RecorderOptions, BadCommandLinesSayWhatIsWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no port given"},
      {{"--port", "0"}, "bad port '0'"},
      {{"--port", "ttyUSB0"}, "bad port 'ttyUSB0' (1..255, or a device such as /dev/ttyUSB0)"},
      {{"--device", ""}, "'--device' needs a device path"},
      {{"--device"}, "'--device' needs a value"},
      {{"--device", "/dev/ttyUSB0", "--baud", "9600", "--baud", "19200"}, "two baud rates for /dev/ttyUSB0"},
      {{"--port", "256"}, "bad port '256'"},
      {{"--port", "1x"}, "bad port '1x'"},
      {{"--port", "1", "--port", "1"}, "port 1 given twice"},
      {{"--baud", "9600", "--port", "1"}, "must follow the '--port'"},
      {{"--port", "1", "--baud", "12345"}, "bad baud rate '12345'"},
      {{"--port", "1", "--baud", "9600", "--baud", "19200"}, "two baud rates for port 1"},
      {{"--port", "1", "--seconds", "0"}, "bad number of seconds '0'"},
      {{"--port", "1", "--seconds", "nan"}, "bad number of seconds"},
      {{"--port", "1", "--seconds", "1e11"}, "bad number of seconds"},
      {{"--port", "1", "--samples", "-5"}, "bad number of samples"},
      {{"--port", "1", "--samples", "5", "--seconds", "1"}, "exclude each other"},
      {{"--port", "1", "-o"}, "needs a value"},
      {{"--port", "1", "--quiet=yes"}, "takes no value"},
      {{"--port", "1", "--colour"}, "unknown option '--colour'"},
      {{"--port", "1", "run.csv"}, "unexpected argument 'run.csv'"},
      {{"--port", "1", "--mqtt-ca", "ca.pem"}, "'--mqtt-ca' needs '--mqtt URL'"},
      {{"--port", "1", "--mqtt-queue", "5"}, "need '--mqtt URL'"},
      {{"--port", "1", "--mqtt", "mqtts://h/p", "--mqtt-cert", "c.pem"}, "'--mqtt-cert' and '--mqtt-key' go together"},
      {{"--port", "1", "--mqtt", "mqtt://h/p", "--mqtt-block", "0"}, "bad number of seconds '0' for --mqtt-block"},
      {{"--port", "1", "--mqtt", ""}, "'--mqtt' needs a value"},
  };
  for (const auto& [args, message] : cases) {
    const auto parsed = parse_arguments(args);
    EXPECT_FALSE(parsed.options) << message;
    EXPECT_NE(parsed.error.find(message), std::string::npos) << parsed.error;
  }
  EXPECT_TRUE(parse_arguments({"--help"}).options);  // needs no port
}

// A number is the whole text: no white space on either side, no sign, no other notation, in its range.
TEST(RecorderOptions, NumbersAreTakenWholeOrNotAtAll) {
  auto parse = [](const std::string& option, const std::string& text) {
    std::vector<std::string> args{option, text};
    if (option != "--port") args.insert(args.begin(), {"--port", "1"});
    return parse_arguments(args);
  };
  const std::pair<std::string, std::string> good[] = {
      {"--port", "7"}, {"--baud", "9600"}, {"--seconds", "2.5"}, {"--samples", "10"}};
  for (const auto& [option, value] : good) {
    EXPECT_TRUE(parse(option, value).options) << option << " " << value;
    for (const std::string& bad : {" " + value, value + " ", "\t" + value, value + "\n", "+" + value, "-" + value,
                                   "0x" + value, value + "x", std::string()}) {
      EXPECT_FALSE(parse(option, bad).options) << option << " '" << bad << "'";
    }
  }
  const std::pair<std::string, std::string> beyond[] = {{"--port", "18446744073709551617"},
                                                        {"--samples", "1000000000001"},
                                                        {"--samples", "99999999999999999999"},
                                                        {"--seconds", "1e400"},
                                                        {"--seconds", "1e-400"},
                                                        {"--seconds", "inf"}};
  for (const auto& [option, text] : beyond) EXPECT_FALSE(parse(option, text).options) << option << " " << text;
}

TEST(RecorderFormat, HeaderTellsEveryPortAndQuotesWhatNeedsIt) {
  kolmrec::RecordingDescription recording;
  recording.start = "2026-12-08T07:15:02.123Z";
  recording.library_version = 0x10009;
  recording.ports.push_back({1,
                             115200,
                             "00012345",
                             "12",
                             25,
                             {0.1, 1, 2.5, 1},
                             {"kg", "a,b",
                              "\xC2\xB0"
                              "C",
                              ""},
                             "/dev/ttyUSB0"});
  recording.ports.push_back({9, 230400, "", "", 1.0 / 86400, {1, 1, 1, 1}, {"g", "g", "g", "g"}});
  EXPECT_EQ(kolmrec::header_text(recording), "# kolmrec " PEKOLM_RELEASE
                                             "\n"
                                             "# start: 2026-12-08T07:15:02.123Z\n"
                                             "# library: 1.9\n"
                                             "# values: display\n"
                                             "# port 1 device: /dev/ttyUSB0\n"
                                             "# port 1 baud: 115200\n"
                                             "# port 1 serial number: 00012345\n"
                                             "# port 1 firmware version: 12\n"
                                             "# port 1 data rate: 25 Hz\n"
                                             "# port 1 display norms: 0.1,1,2.5,1\n"
                                             "# port 1 units: kg,\"a,b\",\xC2\xB0"
                                             "C,\n"
                                             "# port 9 baud: 230400\n"
                                             "# port 9 serial number: \n"
                                             "# port 9 firmware version: \n"
                                             "# port 9 data rate: 1.157407407e-05 Hz\n"
                                             "# port 9 display norms: 1,1,1,1\n"
                                             "# port 9 units: g,g,g,g\n"
                                             "port,index,time_s,ch1,ch2,ch3,ch4\n");
}

TEST(RecorderFormat, RowsCarryIndexTimeAndScaledValues) {
  const double values[] = {0.5, -0.25, 1e-9, 1.05, 0, 0.123456789, -1.05, 2};
  std::string rows = "x\n";
  kolmrec::append_rows(rows, 4, 41, 25, values, 2, {2, 1, 1000, 1});
  EXPECT_EQ(rows,
            "x\n"
            "4,41,1.640000,1,-0.25,1e-06,1.05\n"
            "4,42,1.680000,0,0.12345679,-1050,2\n");
  // With the host's time, and the note a reader of older files still knows by its beginning.
  rows.clear();
  kolmrec::append_rows(rows, 4, 7, 25, values, 1, {1, 1, 1, 1}, 12.3456789);
  rows += kolmrec::loss_note(4, 1234, 567);
  EXPECT_EQ(rows,
            "4,7,0.280000,0.5,-0.25,1e-09,1.05,12.345679\n"
            "# port 4: values may be missing before index 1234 (estimated 567 lost)\n");
  kolmrec::RecordingDescription recording;
  recording.host_time = true;
  EXPECT_TRUE(kolmrec::header_text(recording).ends_with("\nport,index,time_s,ch1,ch2,ch3,ch4,host_s\n"));
}

// 15 s at 1875 Hz read every 20 ms, the reader stalled from 3 s to 15 s against buffers of 9947 samples: the
// samples after the stall get the indices the clock gives. Also when the whole program stalled, so that the
// first read after it finds the stall's samples still on their way, and the next one the buffers full.
TEST(SampleClock, IndicesAfterAStalledReaderFollowTheClock) {
  constexpr double rate = 1875;
  constexpr std::uint64_t capacity = 9947;
  std::vector<double> reads;  // every 20 ms up to 3 s, then from 15 s on
  for (int k = 1; k <= 150; ++k) reads.push_back(k * 0.02);
  for (int k = 0; k < 5; ++k) reads.push_back(15 + k * 0.02);
  for (const bool whole_program : {false, true}) {
    kolmrec::SampleClock clock(rate);
    std::uint64_t arrived = 0, lost_in_all = 0, lost_reported = 0;
    for (const double now : reads) {
      // The amplifier's clock runs 50 ppm fast against the host's.
      auto sent = static_cast<std::uint64_t>(now * rate * 1.00005);
      if (whole_program && now == 15) sent = arrived + 30;
      std::uint64_t waiting = sent - arrived;
      arrived = sent;
      const bool full = waiting >= capacity;
      if (full) {
        lost_in_all += waiting - capacity;
        waiting = capacity;
      }
      lost_reported += clock.read_at(now, waiting, full);
      clock.taken(waiting);
      if (!(whole_program && now == 15)) {
        EXPECT_NEAR(static_cast<double>(clock.next_index()), static_cast<double>(sent), 3) << now << whole_program;
      }
    }
    EXPECT_GT(lost_in_all, 12000u);
    EXPECT_NEAR(static_cast<double>(lost_reported), static_cast<double>(lost_in_all), 3) << whole_program;
  }
  // Buffers just full lose nothing: the clock may say fewer were sent than seen, and the index stays.
  kolmrec::SampleClock exact(rate);
  EXPECT_EQ(exact.read_at(1.0, 2000, true), 0u);
  EXPECT_EQ(exact.next_index(), 0u);
}

TEST(RecorderFormat, AmplifierTextsBecomeUtf8) {
  EXPECT_EQ(kolmrec::utf8_from_cp1252("\xB5m/m"), "\xC2\xB5m/m");
  EXPECT_EQ(kolmrec::utf8_from_cp1252("\xB0"
                                      "F"),
            "\xC2\xB0"
            "F");
  EXPECT_EQ(kolmrec::utf8_from_cp1252("\x80\x81"), "\xE2\x82\xAC\xEF\xBF\xBD");
  EXPECT_EQ(kolmrec::utf8_from_cp1252("AB\nC\rD\x7F"), "AB?C?D?");  // nothing breaks a header line
  EXPECT_EQ(kolmrec::csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
}

// The words every program prints for a code: the header's text and hex, the system's name, number and text.
TEST(RecorderErrorText, EachKindOfCodeReadsAsItIsLookedUp) {
  const std::pair<std::uint32_t, std::string> codes[] = {
      {0x30000058, "no answer to a query within 6000 ms (0x30000058)"},
      {EBUSY, "EBUSY (16, Device or resource busy)"},
      {0x20000000 | EIO, "writing a command to the port failed (0x20000005): EIO (5, Input/output error)"},
      {0x300000AB, "an error code this version does not know (0x300000AB)"},
      {0, "the call failed without leaving an error code"},
      {4000, "system error 4000 (unknown error)"},
  };
  for (const auto& [code, text] : codes) EXPECT_EQ(kolmrec::error_text(code), text);
  EXPECT_TRUE(kolmrec::is_damaged_frame(0x30000061));
}

TEST(RecordingFile, FailuresAreReportedWithTheirCause) {
  kolmrec::RecordingFile missing_folder;
  EXPECT_FALSE(missing_folder.open("/nonexistent/folder/run.csv"));
  EXPECT_EQ(missing_folder.error(), "cannot create /nonexistent/folder/run.csv: No such file or directory");

  kolmrec::RecordingFile full;
  ASSERT_TRUE(full.open("/dev/full"));
  using Written = kolmrec::RecordingFile::Written;
  EXPECT_EQ(full.write("port,index\n"), Written::failed);
  EXPECT_EQ(full.error(), "cannot write to /dev/full: No space left on device");
  EXPECT_EQ(full.write("more\n"), Written::failed);  // takes nothing after a failure
  EXPECT_FALSE(full.close());
}

// Ports may run at different rates: the summary gives each its own rather than their average.
TEST(RecorderProgress, TheSummaryGivesEachPortsRate) {
  kolmrec::Tally tally;
  tally.elapsed_seconds = 2;
  tally.ports = {{1, 50}, {255, 250, "/dev/ttyUSB0"}};
  EXPECT_EQ(kolmrec::summary_line(tally, "two.csv"),
            "kolmrec: 300 samples from 2 ports in 2.0 s (port 1: 25.0 Hz, port 255 (/dev/ttyUSB0): 125.0 Hz) into "
            "two.csv, no possible losses");
  EXPECT_NE(kolmrec::progress_line(tally).find("150.0 Hz in all"), std::string::npos);
  for (int port = 3; port <= 10; ++port) tally.ports.push_back({port, 100});
  tally.possible_losses = 4;
  EXPECT_EQ(kolmrec::summary_line(tally, "-"),
            "kolmrec: 1100 samples from 10 ports in 2.0 s (25.0 Hz to 125.0 Hz a port) into -, POSSIBLE LOSSES: 4");
  EXPECT_EQ(kolmrec::times(1), "once");
  EXPECT_EQ(kolmrec::times(3), "3 times");
}

}  // namespace
