// Network message throughput over loopback: one client sends batches of 100
// messages (an integer, a float, a transform and a 24-byte string, 104
// bytes each) and the server's pump receives them all. Reported as messages
// per second through send, socket events and RecvData.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>

#include "framework/netmgr.h"

namespace {

constexpr int kBatch = 100;
int64_t gReceived = 0;

bool Receive(uint32_t Socket, NetMgr* M) {
  NetBuffer B;
  while (M->RecvData(Socket, &B)) {
    benchmark::DoNotOptimize(B.GetInt());
    ++gReceived;
  }
  return true;
}

void NetMessages(benchmark::State& State) {
  NetMgr Server(nullptr), Client(nullptr);
  if (!Server.StartServer("bench", 0)) return State.SkipWithError("no server");
  Server.RegisterCallback(NetMgr::AfterRead, Receive);
  bool Joined = false;
  std::thread Join([&] { Joined = Client.JoinGame("127.0.0.1", "bench", Server.GetPort()); });
  while (Server.getNumClients() == 0) Server.PumpEvents(10);
  Join.join();
  if (!Joined) return State.SkipWithError("no client");
  NetBuffer M;
  M.Add(1);
  M.Add(2.0f);
  M.Add(XForm3d());
  const std::string Text(24, 't');
  M.AddString(Text.c_str(), (int32_t)Text.size());
  for (auto _ : State) {
    gReceived = 0;
    for (int I = 0; I < kBatch; ++I)
      if (!Client.SendData(&M)) return State.SkipWithError("send failed");
    while (gReceived < kBatch) Server.PumpEvents(10);
  }
  State.SetItemsProcessed(State.iterations() * kBatch);
}
BENCHMARK(NetMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
