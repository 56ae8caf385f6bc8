#include "web/CAnswerBody.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Web::CAnswerBody;
using Taken = CAnswerBody::Taken;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string S(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Deliveries against a 10-byte bound, read piece by piece: one delivery
// waits at a time, a second one is held back until the first is taken, and
// the bound counts every byte of the answer, taken or not.
TEST(CAnswerBody, DeliveriesWaitOneAtATimeWithinTheBound) {
    struct Step {
        const char* delivery;  // nullptr: take `take` bytes instead
        Taken taken;
        size_t take;
        const char* taken_text;
        size_t waiting;  // after the step
    };
    const Step steps[] = {
        {"abcd", Taken::Kept, 0, "", 4},
        {"ef", Taken::Held, 0, "", 4},  // the first still waits
        {nullptr, Taken::Kept, 3, "abc", 1},
        {"ef", Taken::Held, 0, "", 1},  // one byte of it still waits
        {nullptr, Taken::Kept, 99, "d", 0},
        {"efghij", Taken::Kept, 0, "", 6},  // 10 bytes in all: exactly the bound
        {nullptr, Taken::Kept, 6, "efghij", 0},
        {"k", Taken::TooLarge, 0, "", 0},  // the 11th byte
    };
    CAnswerBody body(10, 16);
    EXPECT_FALSE(body.Started());
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(i);
        if (step.delivery != nullptr) {
            const Bytes bytes = B(step.delivery);
            EXPECT_EQ(body.Deliver(bytes.data(), bytes.size()), step.taken);
        } else {
            Bytes out{'>'};
            EXPECT_EQ(body.TakeInto(out, step.take), std::string(step.taken_text).size());
            EXPECT_EQ(S(out), std::string(">") + step.taken_text);  // appended
        }
        EXPECT_EQ(body.Waiting(), step.waiting);
        EXPECT_TRUE(body.Started());
    }
    EXPECT_TRUE(body.TooLarge());
    body.Reset();  // the next answer starts with a clean count
    EXPECT_FALSE(body.Started() || body.TooLarge());
    const Bytes ten = B("0123456789");
    EXPECT_EQ(body.Deliver(ten.data(), ten.size()), Taken::Kept);
}

// Reading the whole body: what waits goes first, later deliveries follow it
// straight into the caller's vector, and the bound still holds; after the
// read deliveries wait again.
TEST(CAnswerBody, WholeReadTakesWhatWaitsAndWhatFollows) {
    CAnswerBody body(8, 16);
    const Bytes head = B("abc"), more = B("defg"), tooMuch = B("hi"), last = B("h");
    ASSERT_EQ(body.Deliver(head.data(), head.size()), Taken::Kept);
    Bytes whole;
    body.BeginWhole(whole);
    EXPECT_EQ(S(whole), "abc");
    EXPECT_EQ(body.Waiting(), 0u);
    EXPECT_EQ(body.Deliver(more.data(), more.size()), Taken::Kept);  // no hold while a whole read runs
    EXPECT_EQ(body.Deliver(tooMuch.data(), tooMuch.size()), Taken::TooLarge);
    EXPECT_EQ(S(whole), "abcdefg");  // the refused delivery left nothing behind
    body.EndWhole();
    EXPECT_EQ(body.Deliver(last.data(), last.size()), Taken::Kept);
    EXPECT_EQ(S(whole), "abcdefg");
    EXPECT_EQ(body.Waiting(), 1u);
}

}  // namespace
