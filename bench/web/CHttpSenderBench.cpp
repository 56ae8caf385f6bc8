#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "web/CHttpSender.h"
#include "web/TestServers.h"

namespace {

using namespace webtest;
using Web::CHttpSender;
using Web::HttpRequest;

// One request and its body over the sender's kept connection, against a
// raw loopback server that answers at once.
void BM_RequestOnKeptConnection(benchmark::State& state) {
    const auto bodySize = static_cast<size_t>(state.range(0));
    RawServer server(Always(Response("200 OK", "", BigText(bodySize))));
    CHttpSender sender(Device(server.Port()));
    std::vector<uint8_t> body;
    for (auto _ : state) {
        if (!sender.Send(HttpRequest("GET", "/command/inquiry.cgi?inq=sensor")) ||
            sender.ReadResponse(body) != bodySize) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.counters["connections"] = server.Accepted();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bodySize));
}
BENCHMARK(BM_RequestOnKeptConnection)->Arg(64)->Arg(8192)->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

// The same against cpp-httplib, a real HTTP/1.1 server with keep-alive
// (without TCP_NODELAY there, Nagle and delayed ACKs cost ~40 ms a request).
void BM_RequestOnKeptConnectionHttplib(benchmark::State& state) {
    auto http = std::make_unique<httplib::Server>();
    http->set_tcp_nodelay(true);
    http->set_keep_alive_max_count(1 << 30);
    http->Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    HttplibServer server(std::move(http));
    CHttpSender sender(Device(server.port));
    std::vector<uint8_t> body;
    for (auto _ : state) {
        if (!sender.Send(HttpRequest("GET", "/ok")) || sender.ReadResponse(body) != 2) {
            state.SkipWithError("request failed");
            break;
        }
    }
}
BENCHMARK(BM_RequestOnKeptConnectionHttplib)->Unit(benchmark::kMicrosecond);

// From Cancel on another thread until the Send blocked on a hung camera
// has returned.
void BM_CancelToSendReturn(benchmark::State& state) {
    RawServer server([](RawConnection& c) { c.Hang(); });
    CHttpSender sender(Device(server.Port(), "", "", 30000));
    size_t heads = 0;
    for (auto _ : state) {
        std::atomic<int64_t> returnedAt{0};
        std::thread worker([&] {
            sender.Send(HttpRequest("GET", "/hang"));
            returnedAt.store(Clock::now().time_since_epoch().count());
        });
        ++heads;
        WaitFor([&] { return server.Heads().size() >= heads; });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto start = Clock::now();
        sender.Cancel();
        worker.join();
        const auto end = Clock::time_point(Clock::duration(returnedAt.load()));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (sender.LastError() != Web::ErrorCancelled) {
            state.SkipWithError("not cancelled");
            break;
        }
        sender.ResetCancel();  // the cancel holds until the owner starts again
    }
}
BENCHMARK(BM_CancelToSendReturn)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
