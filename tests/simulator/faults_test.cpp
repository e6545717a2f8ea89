// Fault injection: what the host receives when an answer or frame is made to misbehave.
#include "faults.h"

#include <gtest/gtest.h>

namespace kolmsim {
namespace {

using namespace std::chrono_literals;

const Bytes kPayload = {0x05, 0xBC, 0xF4};

TEST(AnswerFaults, WithoutAFaultTheRealAnswerGoesOutAtOnce) {
  FaultBook book;
  const auto plan = book.plan_answer(0x21, kPayload);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->frame, wire::answer_frame(0x21, kPayload));
  EXPECT_EQ(plan->delay, Clock::duration::zero());
}

TEST(AnswerFaults, ShapeTheAnswerOfTheirCommandOnly) {
  FaultBook book;
  book.set_answer_fault(0x21, AnswerFault{.delay = 250ms});
  book.set_answer_fault(0x27, AnswerFault{.silent = true});
  book.set_answer_fault(0x16, AnswerFault{.length_delta = 2});
  book.set_answer_fault(0x1F, AnswerFault{.length_delta = -5});
  book.set_answer_fault(0x2B, AnswerFault{.length_delta = 1, .payload = Bytes{0xEE}});

  EXPECT_EQ(book.plan_answer(0x21, kPayload)->delay, 250ms);
  EXPECT_FALSE(book.plan_answer(0x27, Bytes{1}));
  EXPECT_EQ(book.plan_answer(0x16, Bytes{0xA8})->frame, wire::answer_frame(0x16, Bytes{0xA8, 0, 0}));
  EXPECT_EQ(book.plan_answer(0x1F, Bytes(8, '1'))->frame, wire::answer_frame(0x1F, Bytes(3, '1')));
  book.set_answer_fault(0x1F, AnswerFault{.length_delta = -9});
  EXPECT_EQ(book.plan_answer(0x1F, Bytes(8, '1'))->frame.size(), wire::kAnswerOverhead);
  EXPECT_EQ(book.plan_answer(0x2B, Bytes{12})->frame, wire::answer_frame(0x2B, Bytes{0xEE, 0}));
  EXPECT_EQ(book.plan_answer(0x29, Bytes{2})->frame, wire::answer_frame(0x29, Bytes{2}));
}

TEST(AnswerFaults, OnlyAFaultWithAPayloadAnswersWhatTheAmplifierWouldNot) {
  FaultBook book;
  EXPECT_FALSE(book.plan_answer(0x21, std::nullopt));
  book.set_answer_fault(0x21, AnswerFault{.delay = 10ms, .once = true});
  EXPECT_FALSE(book.plan_answer(0x21, std::nullopt));
  EXPECT_EQ(book.plan_answer(0x21, kPayload)->delay, 10ms);  // the one-shot was still there
  book.set_answer_fault(0x21, AnswerFault{.payload = Bytes{17, 1, 2}});
  EXPECT_EQ(book.plan_answer(0x21, std::nullopt)->frame, wire::answer_frame(0x21, Bytes{17, 1, 2}));
}

TEST(AnswerFaults, OnceMeansTheNextSuchCommandOnly) {
  FaultBook book;
  book.set_answer_fault(0x27, AnswerFault{.silent = true, .once = true});
  EXPECT_FALSE(book.plan_answer(0x27, Bytes{1}));
  EXPECT_TRUE(book.plan_answer(0x27, Bytes{1}));
}

TEST(AnswerFaults, ClearForgetsEverything) {
  FaultBook book;
  book.set_answer_fault(0x27, AnswerFault{.silent = true});
  book.break_terminators(3);
  book.garbage_between_frames({0x55}, 1);
  book.split_frames({1}, 5ms);
  book.clear();
  EXPECT_TRUE(book.plan_answer(0x27, Bytes{1}));
  const auto dressed = book.dress_value(wire::value_frame({1, 2, 3, 4}));
  EXPECT_EQ(dressed.frame[9], wire::kCR);
  EXPECT_TRUE(dressed.garbage_after.empty());
  EXPECT_TRUE(book.piece_sizes().empty());
}

TEST(ValueFaults, BreakTheTerminatorsOfTheNextNFramesOnly) {
  FaultBook book;
  book.break_terminators(2);
  const auto frame = wire::value_frame({1, 2, 3, 4});
  for (int i = 0; i < 2; ++i) {
    const Bytes f = book.dress_value(frame).frame;
    EXPECT_FALSE(f[9] == wire::kCR && f[10] == wire::kLF);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 9), Bytes(frame.begin(), frame.begin() + 9));
  }
  const Bytes good = book.dress_value(frame).frame;
  EXPECT_EQ(good, Bytes(frame.begin(), frame.end()));
}

TEST(ValueFaults, GarbageFollowsEveryNthFrame) {
  FaultBook book;
  book.garbage_between_frames({0x55, 0x3B}, 3);
  const auto frame = wire::value_frame({1, 2, 3, 4});
  std::vector<bool> with_garbage;
  for (int i = 0; i < 7; ++i) with_garbage.push_back(!book.dress_value(frame).garbage_after.empty());
  EXPECT_EQ(with_garbage, (std::vector<bool>{false, false, true, false, false, true, false}));
  book.garbage_between_frames({0x55}, 0);
  EXPECT_TRUE(book.dress_value(frame).garbage_after.empty());
}

}  // namespace
}  // namespace kolmsim
