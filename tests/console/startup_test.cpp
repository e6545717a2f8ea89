// Start-up of the console: identification, the first display values, a failed activation, mode 0, and q.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <thread>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 7;

TEST(StartUp, PrintsTheIdentificationThenScrollsDisplayValues) {
  kolmsim::Simulator sim;
  link(sim, port);
  sim.update_state([](kolmsim::AmplifierState& state) {
    const std::uint8_t gains[4] = {2, 5, 7, 6};
    std::copy(gains, gains + 4, state.gains);
    state.serial_number = "AB123456";
  });
  set_norm(sim, 1, 2.5f);
  set_norm(sim, 2, 100.0f);
  set_norm(sim, 4, -1.0f);
  sim.set_channel_raw(1, 49152);
  sim.set_channel_raw(2, 32768);
  sim.set_channel_raw(3, 65535);
  sim.set_channel_raw(4, 0);

  ConsoleSession console(testing_support::port_dir());
  ASSERT_TRUE(console.expect("ComNr. eingeben: \n")) << console.tail();
  console.send("7\n");
  ASSERT_TRUE(console.expect("Baudrate eingeben: \n")) << console.tail();
  console.send("115200\n");
  ASSERT_TRUE(console.expect(" Beliebige Taste...\n\n")) << console.tail();
  // The typed answers appear as the terminal echoes them.
  EXPECT_EQ(console.output(),
            "\nDLL-Version: 65545\n"
            "ComNr. eingeben: \n7\n"
            "Baudrate eingeben: \n115200\n"
            "Ergebnis: 0\n"
            "\nKolmgetMode: 1\n"
            "KolmgetAnalogueType: 0"
            "\nChannel 1 has Bridge-input of 10mV/V."
            "\nChannel 2 unspecified. Enum: 5"
            "\nChannel 3 has Voltage-input. Range: 0..5V."
            "\nChannel 4 has AinType_K."
            "KolmreadSerialNo: 0 No: AB123456\n"
            "KolmDispGetNorm(1): 2.5\n"
            "KolmDispGetNorm(2): 100\n"
            "KolmDispGetNorm(3): 1\n"
            "KolmDispGetNorm(4): -1\n"
            "\nFW-Version: 12\n"
            " Beliebige Taste...\n\n");

  // Transmission starts only once the key is pressed.
  std::this_thread::sleep_for(300ms);
  std::vector<std::string> sent = commands(sim, 0);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "24"), 0);
  console.send(" ");
  // Normalised values times the norms read at start-up.
  ASSERT_TRUE(console.expect("W1: 1.31252 W2: 0.00000 W3: 1.04998 W4: 1.05002\n")) << console.tail();
  ASSERT_TRUE(console.expect("W1: 1.31252 W2: 0.00000 W3: 1.04998 W4: 1.05002\n")) << console.tail();

  // Activation's own queries, then the console's, each after its pause.
  sent = commands(sim, 12);
  ASSERT_EQ(sent, (std::vector<std::string>{"27", "29", "2B", "27", "B3", "1F", "BB 01", "BB 02", "BB 03", "BB 04",
                                            "2B", "24"}));
  const std::vector<kolmsim::CommandRecord> records = sim.commands();
  const auto gap = [&](std::size_t later) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(records[later].at - records[later - 1].at).count();
  };
  constexpr long tolerance = 20;
  EXPECT_GE(gap(3), 500 - tolerance);  // before the mode query
  EXPECT_GE(gap(5), 400 - tolerance);  // before the serial number
  for (std::size_t norm_query = 6; norm_query <= 9; ++norm_query) EXPECT_GE(gap(norm_query), 200 - tolerance);

  // The display loop reads single keys: no line buffering, no echo by the terminal.
  EXPECT_TRUE(testing_support::eventually([&] { return (console.local_modes() & (ICANON | ECHO)) == 0; }));

  console.send("q");
  ASSERT_TRUE(console.expect("q Beliebige Taste...\n\n")) << console.tail();
  EXPECT_FALSE(console.wait_exit(300ms)) << "q ends only after the pause";
  console.send(" ");
  const std::optional<Ending> ending = console.wait_exit();
  ASSERT_TRUE(ending);
  EXPECT_TRUE(ending->exited);
  EXPECT_EQ(ending->status, 0);
  EXPECT_EQ(console.local_modes() & (ICANON | ECHO), static_cast<unsigned>(ICANON | ECHO));
}

TEST(StartUp, AFailedActivationShowsTheCauseAndEndsAfterAKey) {
  // Nothing is linked as com9: the library cannot open it.
  ConsoleSession console(testing_support::port_dir());
  ASSERT_TRUE(console.expect("ComNr. eingeben: \n")) << console.tail();
  console.send("9\n");
  ASSERT_TRUE(console.expect("Baudrate eingeben: \n")) << console.tail();
  console.send("115200\n");
  ASSERT_TRUE(console.expect("Ergebnis: -1\nKolmgetLastError: 2\n Beliebige Taste...\n\n")) << console.tail();
  EXPECT_FALSE(console.wait_exit(300ms));
  console.send("x");
  const std::optional<Ending> ending = console.wait_exit();
  ASSERT_TRUE(ending);
  EXPECT_TRUE(ending->exited);
  EXPECT_EQ(ending->status, 0);
  EXPECT_EQ(console.unmatched(), "");
}

TEST(StartUp, AnAmplifierInModeZeroIsSwitchedToModeOne) {
  kolmsim::Simulator sim;
  link(sim, port);
  ConsoleSession console(testing_support::port_dir());
  ASSERT_TRUE(console.expect("ComNr. eingeben: \n")) << console.tail();
  console.send("7\n115200\n");
  // Activation has seen mode 1; the console's own query, half a second later, sees 0.
  ASSERT_TRUE(console.expect("Ergebnis: 0\n")) << console.tail();
  sim.set_fault(0x27, kolmsim::AnswerFault{.payload = testing_support::bytes({0})});
  ASSERT_TRUE(console.expect("\nKolmgetMode: 0\nKolmsetMode: 0\nKolmgetAnalogueType: 0")) << console.tail();
  sim.clear_faults();

  const std::vector<std::string> sent = commands(sim, 5);
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(sent[3], "27");
  EXPECT_EQ(sent[4], "26 01 71 75 69 72 61 6E");  // mode 1 and the access code
  const std::vector<kolmsim::CommandRecord> records = sim.commands();
  EXPECT_GE(records[4].at - records[3].at, 480ms);
}

}  // namespace
}  // namespace console_testing
