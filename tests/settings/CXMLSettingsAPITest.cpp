#include "settings/CXMLSettingsAPI.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/settings/SettingsFiles.h"

namespace {

class XmlSettings : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("sample.xml",
                  "<?xml version=\"1.0\"?>\n<sony>\n"
                  "  <quality><min value=\"3\"/><max value=\"\"/></quality>\n"
                  "  <plain>no attribute</plain>\n"
                  "  <padded>  two  spaces  </padded>\n"
                  "  <nested><inner value=\"9\"/></nested>\n"
                  "  <noted><!--first-->after</noted>\n"
                  "  <both value=\"attr\">text</both>\n"
                  "</sony>\n");
        dir.Write("other.xml", "<sony><quality><min value=\"7\"/></quality></sony>");
        settings.SetBaseDirectory(dir.Path());
    }
    settings_test::TempDirectory dir;
    CXMLSettingsAPI settings;
};

TEST_F(XmlSettings, OpenRefusesWhatCannotBeParsedAndStaysUsable) {
    dir.Write("empty.xml", "");
    dir.Write("broken.xml", "<sony><quality></sony>");
    dir.Write("tworoots.xml", "<sony/><sony/>");
    dir.Write("noroot.xml", "<!-- nothing -->");
    ASSERT_EQ(0, ::mkdir((dir.Path() + "folder.xml").c_str(), 0700));
    ASSERT_EQ(0, ::mkfifo((dir.Path() + "fifo.xml").c_str(), 0600));  // must not wait for a writer
    for (const char* name :
         {"empty.xml", "missing.xml", "broken.xml", "tworoots.xml", "noroot.xml", "folder.xml", "fifo.xml"}) {
        SCOPED_TRACE(name);
        CXMLSettingsAPI file;
        file.SetBaseDirectory(dir.Path());
        EXPECT_EQ(CXMLSettingsAPI::kFail, file.Open(name));
        EXPECT_EQ("", file.GetNodeText("sony/quality/min/@value"));
        EXPECT_EQ(0, file.Close());
        EXPECT_EQ(CXMLSettingsAPI::kOk, file.Open("sample.xml"));
    }
    EXPECT_EQ(CXMLSettingsAPI::kInvalidArgument, CXMLSettingsAPI().Open(nullptr));
}

TEST_F(XmlSettings, OpenCountKeepsTheFirstDocumentUntilTheLastClose) {
    ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("sample.xml"));
    EXPECT_EQ(CXMLSettingsAPI::kOk, settings.Open("other.xml"));  // only counts: the name is ignored
    EXPECT_EQ(CXMLSettingsAPI::kOk, settings.Open(nullptr));
    EXPECT_EQ(2, settings.Close());
    EXPECT_EQ(1, settings.Close());
    EXPECT_EQ("3", settings.GetValueAttribute("sony/quality/min"));
    EXPECT_EQ(0, settings.Close());
    EXPECT_EQ("", settings.GetValueAttribute("sony/quality/min"));
    EXPECT_EQ(0, settings.Close());
}

TEST_F(XmlSettings, QueriesAnswerTheValueOrEmpty) {
    ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("sample.xml"));
    struct Row {
        const char* path;
        const char* text;   // GetNodeText(path)
        const char* value;  // GetNodeText(path + "/@value") and GetValueAttribute(path) alike
        // clang-format off
    } rows[] = {
        {"sony/quality/min", "", "3"},
        {"sony/quality/max", "", ""},                 // an empty value reads as missing
        {"sony/plain", "no attribute", ""},
        {"sony/padded", "  two  spaces  ", ""},       // white space kept
        {"sony/nested", "", ""},                      // first child is an element
        {"sony/noted", "first", ""},                  // first child is a comment
        {"sony/both", "text", "attr"},
        {"sony/quality/min/@value", "3", ""},         // an attribute is no element
        {"sony/quality/absent", "", ""},
        {"sony/[", "", ""},                           // refused by the query language
        {"", "", ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.text, settings.GetNodeText(row.path));
        EXPECT_EQ(row.value, settings.GetNodeText(std::string(row.path) + "/@value"));
        EXPECT_EQ(row.value, settings.GetValueAttribute("%s", row.path));
    }
}

TEST_F(XmlSettings, ValueAttributePathIsCutAt1023Characters) {
    // "sony/" and 1018 characters make 1023: the "/tail" beyond is cut off.
    const std::string name(1018, 'n');
    dir.Write("long.xml", "<sony><" + name + " value=\"found\"><tail value=\"deep\"/></" + name + "></sony>");
    ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("long.xml"));
    EXPECT_EQ("found", settings.GetValueAttribute("sony/%s/tail", name.c_str()));
    EXPECT_EQ("deep", settings.GetNodeText("sony/" + name + "/tail/@value"));
}

TEST_F(XmlSettings, SharedObjectServesThreadsWhileOpenedAndClosed) {
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const std::string value = settings.GetValueAttribute("sony/quality/min");
                if (value != "3" && !value.empty()) ++wrong;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(CXMLSettingsAPI::kOk, settings.Open("sample.xml"));
        settings.Close();
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(0, wrong.load());
}

}  // namespace
