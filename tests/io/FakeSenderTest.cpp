// The digital I/O's inquiry outcomes, with a sender that answers from a
// script: failures a real camera produces only with effort.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/CSonyDigitalIO.h"
#include "tests/host/TestIOUser.h"
#include "tests/io/TestDriver.h"

namespace {

using Entries = std::vector<std::string>;

// One scripted answer: Send's result, then what the caller reads.
struct Answer {
    bool sent = true;
    uint32_t lastError = 0;
    uint32_t status = 200;
    std::string body;
    uint32_t readFailure = 0;
};

// Answers every set-up request with 200 and each inquiry with the next
// scripted answer (the last one repeats). Records the paths asked for.
class ScriptedSender : public Web::CBaseHttpSender {
public:
    ScriptedSender(const kestrel::DEVICE_INFO& device, std::vector<Answer> inquiries)
        : CBaseHttpSender(device), m_inquiries(std::move(inquiries)) {}

    bool Send(const Web::HttpRequest& request) override {
        paths->push_back(request.path);
        if (request.path.find("inquiry") == std::string::npos) {
            m_current = Answer{};
        } else {
            m_current = m_inquiries[std::min(m_next++, m_inquiries.size() - 1)];
        }
        return m_current.sent;
    }
    void Cancel() override {}
    uint32_t QueryDataAvailable() override { return static_cast<uint32_t>(m_current.body.size()); }
    uint32_t ReadResponse(std::vector<uint8_t>& out) override {
        out.assign(m_current.body.begin(), m_current.body.end());
        return static_cast<uint32_t>(out.size());
    }
    uint32_t ReadData(std::vector<uint8_t>& out, uint32_t, bool) override { return ReadResponse(out); }
    uint32_t StatusCode() const override { return m_current.status; }
    uint32_t LastError() const override { return m_current.lastError; }
    uint32_t ReadFailure() const override { return m_current.readFailure; }
    void ForgetScheme() override {}

    std::shared_ptr<Entries> paths = std::make_shared<Entries>();

private:
    std::vector<Answer> m_inquiries;
    size_t m_next = 0;
    Answer m_current;
};

struct Probe : kestrel::CSonyDigitalIO {
    using CSonyDigitalIO::CSonyDigitalIO;
    using CSonyDigitalIO::ResetStates;
};

TEST(FakeSender, InquiryOutcomes) {
    const Answer states{
        .sent = true, .lastError = 0, .status = 200, .body = "sensor1=1\r\nsensor2=0\r\n", .readFailure = 0};
    const Answer tooLarge{.sent = true,
                          .lastError = 0,
                          .status = 200,
                          .body = "sensor1=0\r\nsensor2=0\r\n",
                          .readFailure = Web::ErrorAnswerTooLarge};
    const Answer timedOut{.sent = false, .lastError = Web::ErrorTimeout, .status = 0, .body = "", .readFailure = 0};
    const Answer refused{.sent = true, .lastError = 0, .status = 401, .body = "", .readFailure = 0};
    const std::string tooLargeMessage =
        "1 kestrel::CSonyDigitalIO::GetInputStates: The sensor inquiry of device 127.0.0.1 failed: "
        "the answer is larger than 1 MiB (12184)";
    const std::string timeoutMessage =
        "1 kestrel::CSonyDigitalIO::GetInputStates: The sensor inquiry of device 127.0.0.1 failed: "
        "no whole answer within the request time limit (12002)";
    struct Row {
        const char* name;
        std::vector<Answer> inquiries;
        std::vector<bool> results;  // of each tick
        Entries inputs;
        Entries messages;
        // clang-format off
    } rows[] = {
        {"states reported", {states}, {true, true}, {"Input 0 2", "Input 1 1"}, {}},
        // A body cut short keeps the states and is reported once per run of failures.
        {"too large keeps states", {states, tooLarge, tooLarge, states, tooLarge}, {true, true, true, true, true},
         {"Input 0 2", "Input 1 1"}, {tooLargeMessage, tooLargeMessage}},
        // The tick fails, so that the base resets and reports.
        {"send failure", {timedOut, timedOut}, {false, false}, {}, {timeoutMessage}},
        // Not a failure of the camera link: states undetermined, nothing logged.
        {"refused", {states, refused}, {true, true}, {"Input 0 2", "Input 1 1", "Input 0 0", "Input 1 0"}, {}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        iotest::TestDriver driver(2, 0);
        auto input = std::make_unique<ScriptedSender>(driver.device, row.inquiries);
        const std::shared_ptr<Entries> paths = input->paths;
        auto output = std::make_unique<ScriptedSender>(driver.device, std::vector<Answer>{Answer{}});
        Probe io(&driver, std::move(input), std::move(output));
        testhost::TestIOUser user;
        ASSERT_TRUE(io.SetIOUser(&user));
        io.ResetStates();
        for (size_t tick = 0; tick < row.inquiries.size(); ++tick) {
            EXPECT_EQ(io.GetInputStates(2), row.results[std::min(tick, row.results.size() - 1)]) << tick;
        }
        EXPECT_EQ(user.calls.Entries(), row.inputs);
        EXPECT_EQ(driver.messages.Entries(), row.messages);
        // Set up once, before the first inquiry.
        ASSERT_GE(paths->size(), 3u);
        EXPECT_NE((*paths)[0].find("Sensor1"), std::string::npos) << (*paths)[0];
        EXPECT_NE((*paths)[1].find("Sensor2"), std::string::npos) << (*paths)[1];
        EXPECT_EQ(paths->size(), 2 + row.inquiries.size());
    }
}

}  // namespace
