// Load: 20 clients send 500 messages each (10,000 in all) while the server
// pumps; every message must arrive intact and in order per client. The rate
// is printed (no timing is asserted; the benchmarks are for speed).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "nettest.h"

namespace {

using namespace nettest;

constexpr int kClients = 20, kPerClient = 500;

TEST(NetLoad, TenThousandMessagesFromTwentyClientsArriveIntactAndInOrder) {
  Record() = Recorder();
  NetMgr Server(nullptr);
  ASSERT_TRUE(Server.StartServer("load", 0));
  RecordAll(&Server);

  std::atomic<int> Joined{0}, SendFailures{0};
  std::atomic<bool> Go{false};
  std::thread Senders([&] {
    std::vector<std::unique_ptr<NetMgr>> C;
    for (int I = 0; I < kClients; ++I) {
      C.push_back(std::make_unique<NetMgr>(nullptr));
      if (!C.back()->JoinGame("127.0.0.1", ("client" + std::to_string(I)).c_str(), Server.GetPort())) return;
      ++Joined;
    }
    while (!Go) std::this_thread::yield();
    // Interleaved: message n of every client, then n + 1.
    for (int N = 0; N < kPerClient; ++N)
      for (int I = 0; I < kClients; ++I) {
        NetBuffer B;
        B.Add((int32_t)C[I]->GetClientID());
        B.Add(N);
        B.Add((float)N * 0.5f);
        const std::string Text = "message " + std::to_string(N) + " of client " + std::to_string(I);
        B.AddString(Text.c_str(), (int32_t)Text.size());
        if (!C[I]->SendData(&B)) ++SendFailures;
      }
    // Stay connected until the server has read everything.
    while (Go) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  ASSERT_TRUE(PumpUntil({&Server}, [&] { return Joined == kClients && Server.getNumClients() == kClients; }, 10000));

  const auto Start = std::chrono::steady_clock::now();
  Go = true;
  const bool All = PumpUntil({&Server}, [] { return Record().Messages.size() >= kClients * kPerClient; }, 60000);
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Go = false;
  Senders.join();
  ASSERT_TRUE(All) << Record().Messages.size() << " of " << kClients * kPerClient << " arrived";
  EXPECT_EQ(SendFailures, 0);
  std::printf("[ load     ] %d messages from %d clients in %.3f s: %.0f messages per second\n",
              kClients * kPerClient, kClients, Seconds, kClients * kPerClient / Seconds);

  std::map<uint32_t, int> Next;  // socket -> next expected number
  for (size_t K = 0; K < Record().Messages.size(); ++K) {
    NetBuffer& M = *Record().Messages[K];
    const uint32_t From = Record().From[K];
    ASSERT_EQ(M.GetInt(), (int32_t)From) << "the identifier names the sending connection";
    const int32_t N = M.GetInt();
    ASSERT_EQ(N, Next[From]++) << "out of order from " << From;
    ASSERT_EQ(M.GetFloat(), (float)N * 0.5f);
    std::unique_ptr<char[]> Text(M.GetString());
    ASSERT_NE(Text, nullptr);
    ASSERT_EQ(std::string(Text.get()).rfind("message " + std::to_string(N) + " of client ", 0), 0u);
    ASSERT_EQ(M.Remaining(), 0);
  }
  EXPECT_EQ(Next.size(), (size_t)kClients);
  for (const auto& [Socket, Count] : Next) EXPECT_EQ(Count, kPerClient) << Socket;
}

}  // namespace
