// Reading sensor states from the camera's inquiry answer.
#include <gtest/gtest.h>

#include <string>
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
    } rows[] = {
        {"sensor1=0\r\nsensor2=1", "sensor1", "0"},
        {"sensor1=0\r\nsensor2=1", "sensor2", "1"},             // CR LF lines
        {"sensor1=0\nsensor2=1\n", "sensor2", "1"},             // LF lines
        {"sensor1=1\rsensor2=0", "sensor2", "0"},               // CR lines
        {"sensor1=1\nsensor1=0", "sensor1", "1"},               // the first line wins
        {"sensor10=1", "sensor1", ""},                          // a longer name is another key
        {"sensor10=1\nsensor1=0", "sensor1", "0"},              // found after the longer name
        {"xsensor1=1", "sensor1", ""},                          // a longer name in front
        {" sensor1 = 1", "sensor1", " 1"},                      // name trimmed, value kept as it is
        {"\tsensor1\t=1", "sensor1", "1"},                      // tabs trimmed too
        {"sensor1=1 \r\n", "sensor1", "1 "},                    // trailing space stays in the value
        {"sensor1=\nsensor1=1", "sensor1", "1"},                // an empty value is passed over
        {"sensor1=", "sensor1", ""},                            // truncated: value missing
        {"sensor1=1\r", "sensor1", "1"},                        // truncated: half a line end
        {"sensor1", "sensor1", ""},                             // truncated: separator missing
        {"sens", "sensor1", ""},                                // truncated: inside the key
        {"", "sensor1", ""},                                    // nothing at all
        {"a=1\nsensor1", "sensor1", ""},                        // no separator after the key
        {"sensor1\nsensor1=1", "sensor1", ""},                  // the search goes on from the '=' of line 2,
                                                                // after the only other key: nothing found
        {"sensor1:=5", "sensor1", ""},                          // another separator
        {"sensor1=a=b", "sensor1", "a=b"},                      // the value runs to the line end
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CSonyDigitalIO::LookUpValue(row.text, row.key, "=", "\r\n"), row.expected)
            << "text \"" << row.text << "\" key " << row.key;
    }
}

TEST(SensorAnswer, LookUpValueArguments) {
    struct Row {
        const char* text;
        const char* key;
        const char* separator;
        const char* lineEnds;
        const char* expected;
    } rows[] = {
        {"sensor1=1", "", "=", "\n", ""},           // empty key
        {"sensor1=1", "sensor1", "", "\n", ""},     // empty separator
        {"sensor1=1", "sensor1", "=", "", ""},      // no line-end characters
        {"sensor1:=5", "sensor1", ":=", "\n", "5"}, // a longer separator
        {"a=b=c", "=", "=", "\n", ""},              // key starting with the separator ends
        {"\n\n\n", "\n", "\n", "\n", ""},           // key, separator and line end alike end
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CSonyDigitalIO::LookUpValue(row.text, row.key, row.separator, row.lineEnds), row.expected)
            << "key \"" << row.key << "\" separator \"" << row.separator << "\"";
    }
}

TEST(SensorAnswer, ParseInteger) {
    struct Row {
        const char* value;
        bool ok;
        int32_t number;
    } rows[] = {
        {"0", true, 0},
        {"1", true, 1},
        {"2", true, 2},
        {"007", true, 7},
        {"+1", true, 1},
        {"-1", true, -1},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},              // above int
        {"-2147483649", false, 0},             // below int
        {"99999999999999999999", false, 0},
        {"", false, 0},
        {"+", false, 0},                       // a sign alone
        {"-", false, 0},
        {"--1", false, 0},
        {"1-", false, 0},
        {" 1", false, 0},                      // leading space
        {"1 ", false, 0},                      // trailing space
        {"1\r", false, 0},
        {"1a", false, 0},
        {"0x1", false, 0},
        {"on", false, 0},
    };
    for (const Row& row : rows) {
        int32_t number = 12345;
        EXPECT_EQ(CSonyDigitalIO::ParseInteger(row.value, number), row.ok) << '"' << row.value << '"';
        if (row.ok) {
            EXPECT_EQ(number, row.number) << '"' << row.value << '"';
        }
    }
}

TEST(SensorAnswer, SensorState) {
    struct Row {
        const char* lowered;
        int32_t input0, input1;
    } rows[] = {
        {"sensor1=0\r\nsensor2=1\r\n", 1, 2},
        {"sensor1=1", 2, 0},                  // input 1 missing
        {"sensor1 = 1", 0, 0},                // value " 1" is no number
        {"sensor10=1\nsensor20=0", 0, 0},     // only longer names
        {"sensor1=2\nsensor2=0", 0, 1},       // 2 means nothing
        {"sensor1=-1\nsensor2=+1", 0, 2},
        {"sensor1=on\nsensor2=off", 0, 0},
        {"", 0, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CSonyDigitalIO::SensorState(row.lowered, 0), row.input0) << row.lowered;
        EXPECT_EQ(CSonyDigitalIO::SensorState(row.lowered, 1), row.input1) << row.lowered;
    }
}

class ParsingProbe : public CSonyDigitalIO {
public:
    using CSonyDigitalIO::CSonyDigitalIO;
    using CSonyDigitalIO::ResetStates;
};

TEST(SensorAnswer, ParseSensorStatesReportsChangesOnly) {
    iotest::TestDriver driver(3, 0);
    testhost::TestIOUser user;
    ParsingProbe io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    io.ResetStates();

    io.ParseSensorStates(3, "SENSOR1=1\r\nSensor2=0\r\n");
    io.ParseSensorStates(3, "sensor1=1\r\nsensor2=1\r\n");
    io.ParseSensorStates(3, "");
    EXPECT_EQ(user.calls.Entries(), std::vector<std::string>({"Input 0 2", "Input 1 1", "Input 1 2", "Input 0 0",
                                                              "Input 1 0"}));
}

}  // namespace
