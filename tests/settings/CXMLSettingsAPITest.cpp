#include "settings/CXMLSettingsAPI.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/settings/SettingsFiles.h"

using settings_test::TempDirectory;

namespace {

const char* const kSample =
    "<?xml version=\"1.0\"?>\n"
    "<sony>\n"
    "  <quality><min value=\"3\"/><max value=\"\"/></quality>\n"
    "  <plain>no attribute</plain>\n"
    "  <padded>  two  spaces  </padded>\n"
    "  <blank>   </blank>\n"
    "  <nested><inner value=\"9\"/></nested>\n"
    "  <noted><!--first-->after</noted>\n"
    "  <both value=\"attr\">text</both>\n"
    "</sony>\n";

class XmlSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("sample.xml", kSample);
        dir.Write("other.xml", "<sony><quality><min value=\"7\"/></quality></sony>");
        settings.SetBaseDirectory(dir.Path());
    }
    TempDirectory dir;
    CXMLSettingsAPI settings;
};

TEST_F(XmlSettingsTest, OpenRefusesWhatCannotBeParsed) {
    dir.Write("empty.xml", "");
    dir.Write("broken.xml", "<sony><quality></sony>");
    dir.Write("tworoots.xml", "<sony/><sony/>");
    dir.Write("noroot.xml", "<!-- nothing -->");
    ASSERT_EQ(0, ::mkdir((dir.Path() + "folder.xml").c_str(), 0700));
    ASSERT_EQ(0, ::mkfifo((dir.Path() + "fifo.xml").c_str(), 0600));

    struct Row {
        const char* name;
        uint32_t status;
    };
    const Row rows[] = {
        {"empty.xml", CXMLSettingsAPI::kFail},      // 0 bytes: the parser is never asked
        {"missing.xml", CXMLSettingsAPI::kFail},    // not there
        {"broken.xml", CXMLSettingsAPI::kFail},     // end tag does not match
        {"tworoots.xml", CXMLSettingsAPI::kFail},   // two top-level elements
        {"noroot.xml", CXMLSettingsAPI::kFail},     // no element at all
        {"folder.xml", CXMLSettingsAPI::kFail},     // a directory, not a file
        {"fifo.xml", CXMLSettingsAPI::kFail},       // must not wait for a writer
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CXMLSettingsAPI file;
        file.SetBaseDirectory(dir.Path());
        EXPECT_EQ(row.status, file.Open(row.name));
        EXPECT_EQ("", file.GetNodeText("sony/quality/min/@value"));
        EXPECT_EQ(0, file.Close());
        // A failed open leaves the object usable for a good file.
        EXPECT_EQ(CXMLSettingsAPI::kOk, file.Open("sample.xml"));
    }
    CXMLSettingsAPI file;
    EXPECT_EQ(CXMLSettingsAPI::kInvalidArgument, file.Open(nullptr));
}

TEST_F(XmlSettingsTest, OpenCountKeepsFirstDocumentUntilLastClose) {
    ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("sample.xml"));
    // While open, a further Open only counts: its name is never looked at.
    EXPECT_EQ(CXMLSettingsAPI::kOk, settings.Open("other.xml"));
    EXPECT_EQ(CXMLSettingsAPI::kOk, settings.Open(nullptr));
    EXPECT_EQ(2, settings.Close());
    EXPECT_EQ(1, settings.Close());
    EXPECT_EQ("3", settings.GetValueAttribute("sony/quality/min"));
    EXPECT_EQ(0, settings.Close());
    EXPECT_EQ("", settings.GetNodeText("sony/quality/min/@value"));
    EXPECT_EQ("", settings.GetValueAttribute("sony/quality/min"));
    EXPECT_EQ(0, settings.Close());
}

TEST_F(XmlSettingsTest, QueriesAnswerValueOrEmpty) {
    ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("sample.xml"));
    struct Row {
        const char* path;
        const char* text;        // GetNodeText(path)
        const char* viaNode;     // GetNodeText(path + "/@value")
        const char* viaElement;  // GetValueAttribute(path)
    };
    const Row rows[] = {
        {"sony/quality/min", "", "3", "3"},
        {"sony/quality/max", "", "", ""},           // empty value reads as missing
        {"sony/plain", "no attribute", "", ""},     // no value attribute
        {"sony/padded", "  two  spaces  ", "", ""}, // white space kept
        {"sony/blank", "   ", "", ""},              // white space only, still text
        {"sony/nested", "", "", ""},                // first child is an element
        {"sony/noted", "first", "", ""},            // first child is a comment
        {"sony/both", "text", "attr", "attr"},
        {"sony/quality/min/@value", "3", "", ""},   // an attribute is not an element
        {"sony/quality/absent", "", "", ""},
        {"sony/[", "", "", ""},                     // rejected by the query language
        {"", "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.text, settings.GetNodeText(row.path));
        EXPECT_EQ(row.viaNode, settings.GetNodeText(std::string(row.path) + "/@value"));
        EXPECT_EQ(row.viaElement, settings.GetValueAttribute("%s", row.path));
    }
}

TEST_F(XmlSettingsTest, ValueAttributePathIsCutAt1023Characters) {
    // "sony/" and a 1018-character name make exactly 1023 characters; the
    // "/tail" beyond them is cut off, so the long element itself is found.
    const std::string name(1018, 'n');
    dir.Write("long.xml", "<sony><" + name + " value=\"found\"><tail value=\"deep\"/></" + name + "></sony>");
    ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("long.xml"));
    EXPECT_EQ("found", settings.GetValueAttribute("sony/%s/tail", name.c_str()));
    EXPECT_EQ("deep", settings.GetNodeText("sony/" + name + "/tail/@value"));
}

TEST_F(XmlSettingsTest, SharedObjectServesThreadsWhileOpenedAndClosed) {
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const std::string value = settings.GetValueAttribute("sony/quality/min");
                if (value != "3" && !value.empty()) {
                    ++wrong;
                }
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(CXMLSettingsAPI::kOk, settings.Open("sample.xml"));
        settings.Close();
    }
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(0, wrong.load());
}

}  // namespace
