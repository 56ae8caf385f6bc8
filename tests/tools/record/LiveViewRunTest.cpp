// halyard-record with its live view, as a user runs it: viewers that read
// slowly, stop reading or leave mid-picture cost the recording nothing.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <regex>
#include <thread>

#include "tests/tools/record/LiveTestClient.h"
#include "tests/tools/record/RecordTestUtil.h"

using namespace recordtest;
using livetest::Fields;
using livetest::RawViewer;

namespace {

const std::string kRecorder = HALYARD_RECORD_EXE;

uint16_t LiveViewPort(const Recorder& p) {
    std::smatch m;
    const std::string out = p.Out();
    if (!std::regex_search(out, m, std::regex("live view: http://127\\.0\\.0\\.1:(\\d+)/"))) return 0;
    return static_cast<uint16_t>(std::stoul(m[1].str()));
}

// Reads whole parts as fast as they come, counting them.
class Watcher {
public:
    Watcher(uint16_t port, const std::string& path)
        : m_viewer(port, path), m_thread([this] {
              std::string head, part, bytes;
              if (!m_viewer.Until("\r\n\r\n", head)) return;
              while (!m_stop.load() && m_viewer.Until("\r\n\r\n", part)) {
                  const auto fields = Fields(part);
                  const auto length = fields.find("content-length");
                  if (length == fields.end() || !m_viewer.Take(std::stoul(length->second) + 2, bytes)) return;
                  m_parts.fetch_add(1);
              }
          }) {}
    ~Watcher() {
        m_stop = true;
        ::shutdown(m_viewer.Fd(), SHUT_RDWR);
        m_thread.join();
    }
    uint64_t Parts() const { return m_parts.load(); }

private:
    RawViewer m_viewer;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_parts{0};
    std::thread m_thread;
};

}  // namespace

TEST(RecorderLiveView, ViewersNeverCostARecordedPicture) {
    ::signal(SIGPIPE, SIG_IGN);
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    const int seconds = 8;
    Recorder p(kRecorder,
               {"--simulate", "3", "--fps", "25", "-d", std::to_string(seconds), "--http", "127.0.0.1:0", "-o", out});
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("live view: ", 30000)) << p.Out() << p.Err();
    const uint16_t port = LiveViewPort(p);
    ASSERT_NE(port, 0) << p.Out();

    std::vector<std::unique_ptr<RawViewer>> stalled;
    std::vector<std::unique_ptr<Watcher>> watchers;
    for (int camera = 1; camera <= 3; ++camera) {
        const std::string live = "/camera/" + std::to_string(camera) + "/live";
        // Reads its headers, then nothing more.
        stalled.push_back(std::make_unique<RawViewer>(port, live, 4096));
        std::string head;
        EXPECT_TRUE(stalled.back()->Until("\r\n\r\n", head));
        watchers.push_back(std::make_unique<Watcher>(port, live));
        // Leaves in the middle of a picture, again and again.
        for (int i = 0; i < 5; ++i) {
            RawViewer leaving(port, live);
            std::string some;
            EXPECT_TRUE(leaving.Until("\r\n\r\n", head) && leaving.Take(2000, some));
        }
    }
    const auto latest = [&] {
        httplib::Client client("127.0.0.1", port);
        return client.Get("/camera/2/latest.jpg");
    }();
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->status, 200);
    EXPECT_TRUE(DecodeJpeg(reinterpret_cast<const uint8_t*>(latest->body.data()), latest->body.size()));

    ASSERT_EQ(p.Wait((seconds + 60) * 1000), 0) << p.Out() << p.Err();
    const auto summary = ReadSummary(out + "/summary.csv");
    ASSERT_EQ(summary.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(summary[i].at("camera"));
        // Numbered by the simulator: a picture the recorder missed would count as lost.
        EXPECT_EQ(summary[i].at("lost") + "/" + summary[i].at("loss_exact") + "/" + summary[i].at("refused"), "0/1/0");
        EXPECT_EQ(summary[i].at("written"), summary[i].at("pictures"));
        EXPECT_GT(std::stoull(summary[i].at("pictures")), 25u);
        EXPECT_GT(watchers[i]->Parts(), 10u);
    }
}
