// Reading sensor states from the camera's inquiry answer.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "io/CSonyDigitalIO.h"
#include "tests/host/TestIOUser.h"
#include "tests/io/TestDriver.h"

namespace {

using kestrel::CSonyDigitalIO;

TEST(SensorAnswer, LookUpValue) {
    struct Row {
        const char* text;
        const char* key;
        const char* expected;
        const char* separator = "=";
        const char* lineEnds = "\r\n";
        // clang-format off
    } rows[] = {
        {"sensor1=0\r\nsensor2=1", "sensor2", "1"},   // CR LF lines
        {"sensor1=0\nsensor2=1\n", "sensor2", "1"},   // LF lines
        {"sensor1=1\rsensor2=0", "sensor2", "0"},     // CR lines
        {"sensor1=1\nsensor1=0", "sensor1", "1"},     // the first line wins
        {"sensor10=1", "sensor1", ""},                // a longer name is another key
        {"sensor10=1\nsensor1=0", "sensor1", "0"},    // found after the longer name
        {"xsensor1=1", "sensor1", ""},                // a longer name in front
        {" sensor1 = 1", "sensor1", " 1"},            // name trimmed, value kept as it is
        {"\tsensor1\t=1", "sensor1", "1"},            // tabs trimmed too
        {"sensor1=1 \r\n", "sensor1", "1 "},          // trailing space stays in the value
        {"sensor1=\nsensor1=1", "sensor1", "1"},      // an empty value is passed over
        {"sensor1=", "sensor1", ""},                  // truncated: value missing
        {"sensor1=1\r", "sensor1", "1"},              // truncated: half a line end
        {"sensor1", "sensor1", ""},                   // truncated: separator missing
        {"sens", "sensor1", ""},                      // truncated: inside the key
        {"", "sensor1", ""},                          // nothing at all
        {"a=1\nsensor1", "sensor1", ""},              // no separator after the key
        {"sensor1\nsensor1=1", "sensor1", ""},        // the search goes on from line 2's '=', past the only key
        {"sensor1:=5", "sensor1", ""},                // another separator
        {"sensor1=a=b", "sensor1", "a=b"},            // the value runs to the line end
        {"sensor1=1", "", ""},                        // empty key
        {"sensor1=1", "sensor1", "", ""},             // empty separator
        {"sensor1=1", "sensor1", "", "=", ""},        // no line-end characters
        {"sensor1:=5", "sensor1", "5", ":="},         // a longer separator
        {"a=b=c", "=", ""},                           // a key starting with the separator ends
        {"\n\n\n", "\n", "", "\n", "\n"},             // key, separator and line end alike end
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(CSonyDigitalIO::LookUpValue(row.text, row.key, row.separator, row.lineEnds), row.expected)
            << "text \"" << row.text << "\" key \"" << row.key << "\" separator \"" << row.separator << "\"";
    }
}

TEST(SensorAnswer, ParseInteger) {
    // clang-format off
    const std::pair<const char*, int32_t> good[] = {
        {"0", 0}, {"1", 1}, {"2", 2}, {"007", 7}, {"+1", 1}, {"-1", -1},
        {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
    };
    // clang-format on
    for (const auto& [text, expected] : good) {
        int32_t number = 12345;
        EXPECT_TRUE(CSonyDigitalIO::ParseInteger(text, number)) << '"' << text << '"';
        EXPECT_EQ(number, expected) << '"' << text << '"';
    }
    for (const char* text : {"2147483648", "-2147483649", "99999999999999999999",  // outside int
                             "", "+", "-", "--1", "1-",                            // a sign alone or misplaced
                             " 1", "1 ", "1\r", "1a", "0x1", "on"}) {              // anything around the digits
        int32_t number = 0;
        EXPECT_FALSE(CSonyDigitalIO::ParseInteger(text, number)) << '"' << text << '"';
    }
}

TEST(SensorAnswer, SensorState) {
    struct Row {
        const char* lowered;
        int32_t input0, input1;
        // clang-format off
    } rows[] = {
        {"sensor1=0\r\nsensor2=1\r\n", 1, 2},
        {"sensor1=1", 2, 0},                  // input 1 missing
        {"sensor1 = 1", 0, 0},                // value " 1" is no number
        {"sensor10=1\nsensor20=0", 0, 0},     // only longer names
        {"sensor1=2\nsensor2=0", 0, 1},       // 2 means nothing
        {"sensor1=-1\nsensor2=+1", 0, 2},
        {"", 0, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(CSonyDigitalIO::SensorState(row.lowered, 0), row.input0) << row.lowered;
        EXPECT_EQ(CSonyDigitalIO::SensorState(row.lowered, 1), row.input1) << row.lowered;
    }
}

struct ParsingProbe : CSonyDigitalIO {
    using CSonyDigitalIO::CSonyDigitalIO;
    using CSonyDigitalIO::ResetStates;
};

TEST(SensorAnswer, ParseSensorStatesIgnoresCaseAndReportsChangesOnly) {
    iotest::TestDriver driver(3, 0);
    testhost::TestIOUser user;
    ParsingProbe io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    io.ResetStates();
    io.ParseSensorStates(3, "SENSOR1=1\r\nSensor2=0\r\n");
    io.ParseSensorStates(3, "sensor1=1\r\nsensor2=1\r\n");
    io.ParseSensorStates(3, "");
    EXPECT_EQ(user.calls.Entries(),
              std::vector<std::string>({"Input 0 2", "Input 1 1", "Input 1 2", "Input 0 0", "Input 1 0"}));
}

}  // namespace
