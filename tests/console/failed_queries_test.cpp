// Start-up when the amplifier does not answer the type and serial-number queries: what is printed in place
// of the answers. Its own binary, since each query waits out the library's answer time-out.
#include <gtest/gtest.h>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 8;

TEST(StartUp, FailedTypeAndSerialQueriesPrintDefinedPlaceholders) {
  kolmsim::Simulator sim;
  link(sim, port);
  // Unanswered, both queries fail after the library's 6 s answer time-out.
  sim.set_fault(0xB3, kolmsim::AnswerFault{.silent = true});
  sim.set_fault(0x1F, kolmsim::AnswerFault{.silent = true});
  ConsoleSession console(testing_support::port_dir());
  ASSERT_TRUE(console.expect("ComNr. eingeben: \n")) << console.tail();
  console.send(std::to_string(port) + "\n115200\n");
  ASSERT_TRUE(
      console.expect("KolmgetAnalogueType: -1"
                     "\nChannel 1 unspecified. Enum: 0"
                     "\nChannel 2 unspecified. Enum: 0"
                     "\nChannel 3 unspecified. Enum: 0"
                     "\nChannel 4 unspecified. Enum: 0"
                     "KolmreadSerialNo: -1 No: \n"
                     "KolmDispGetNorm(1): 1\n",
                     20s))
      << console.tail();
}

}  // namespace
}  // namespace console_testing
