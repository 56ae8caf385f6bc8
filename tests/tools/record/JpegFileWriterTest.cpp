#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/record/TempDir.h"
#include "tools/record/CJpegFileWriter.h"

using kestrel::record::CJpegFileWriter;
using kestrel::record::Picture;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(JpegFileWriter, OneFilePerPictureAndOneIndexRowPerFile) {
    recordtest::TempDir dir;
    const std::string cam = dir.Path() + "/camera1";
    const std::vector<std::vector<uint8_t>> data = {{0xFF, 0xD8, 1, 0xFF, 0xD9}, {0xFF, 0xD8, 2, 2, 0xFF, 0xD9}};
    {
        CJpegFileWriter writer(cam);
        ASSERT_TRUE(writer.Open()) << writer.Error();
        for (size_t i = 0; i < data.size(); ++i) {
            Picture p;
            p.data = data[i].data();
            p.size = static_cast<uint32_t>(data[i].size());
            p.number = i + 1;
            p.arrivalUs = 1700000000123456 + static_cast<int64_t>(i) * 40000;
            p.width = 352;
            p.height = 288;
            ASSERT_TRUE(writer.Write(p)) << writer.Error();
        }
        ASSERT_TRUE(writer.Close());
    }
    EXPECT_EQ(ReadText(cam + "/000001.jpg"), std::string(data[0].begin(), data[0].end()));
    EXPECT_EQ(ReadText(cam + "/000002.jpg"), std::string(data[1].begin(), data[1].end()));
    EXPECT_EQ(ReadText(cam + "/index.csv"),
              "frame,arrival_time,size,width,height\n"
              "1,1700000000.123456,5,352,288\n"
              "2,1700000000.163456,6,352,288\n");
}

TEST(JpegFileWriter, FileNamesKeepOrderPastSixDigits) {
    EXPECT_EQ(CJpegFileWriter::FileName(1), "000001.jpg");
    EXPECT_EQ(CJpegFileWriter::FileName(999999), "999999.jpg");
    EXPECT_EQ(CJpegFileWriter::FileName(1000000), "1000000.jpg");
}

TEST(JpegFileWriter, FailuresNameThePathAndLeaveNoPartialRow) {
    recordtest::TempDir dir;
    // A file where the camera directory should go.
    std::ofstream(dir.Path() + "/blocked") << "x";
    CJpegFileWriter blocked(dir.Path() + "/blocked");
    EXPECT_FALSE(blocked.Open());
    EXPECT_NE(blocked.Error().find(dir.Path() + "/blocked"), std::string::npos);

    // The directory disappears while recording.
    const std::string cam = dir.Path() + "/camera2";
    CJpegFileWriter writer(cam);
    ASSERT_TRUE(writer.Open());
    const std::string indexBefore = ReadText(cam + "/index.csv");
    std::filesystem::rename(cam, dir.Path() + "/moved");
    const uint8_t bytes[] = {0xFF, 0xD8, 0xFF, 0xD9};
    Picture p;
    p.data = bytes;
    p.size = sizeof(bytes);
    p.number = 1;
    EXPECT_FALSE(writer.Write(p));
    EXPECT_NE(writer.Error().find("000001.jpg"), std::string::npos);
    writer.Close();
    EXPECT_EQ(ReadText(dir.Path() + "/moved/index.csv"), indexBefore);
}
