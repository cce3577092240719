// NetBuffer's wire format and bounds, and NetMgr over loopback: handshake,
// callbacks, messages of every kind both ways, two processes, the Engine's
// client list, peers that break the protocol, and a load of 10,000 messages
// from 20 clients. Callbacks are plain functions, so they report to the test
// through one global recorder.
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "../Framework/frametest.h"
#include "framework/netmgr.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Pumps the managers until Done() holds or Ms milliseconds pass.
bool PumpUntil(std::initializer_list<NetMgr*> Managers, const std::function<bool()>& Done, int Ms = 3000) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > End) return false;
    for (NetMgr* M : Managers) M->PumpEvents(1);
  }
  return true;
}

// A raw TCP connection to the loopback server on Port.
int Connect(uint16_t Port) {
  const int S = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (S >= 0 && connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0) return S;
  if (S >= 0) close(S);
  return -1;
}

void SendRaw(int Socket, const Bytes& Data) {
  ASSERT_EQ(send(Socket, Data.data(), Data.size(), MSG_NOSIGNAL), (ssize_t)Data.size());
}

// Waits up to Ms for Socket to reach end of stream (the other side closed it).
bool SeesClose(int Socket, int Ms = 3000) {
  timeval T{Ms / 1000, (Ms % 1000) * 1000};
  setsockopt(Socket, SOL_SOCKET, SO_RCVTIMEO, &T, sizeof T);
  uint8_t B[256];
  for (;;) {
    const ssize_t N = recv(Socket, B, sizeof B, 0);
    if (N == 0) return true;
    if (N < 0) return errno == ECONNRESET;
  }
}

Bytes Le32(int32_t V) {
  return {(uint8_t)V, (uint8_t)(V >> 8), (uint8_t)(V >> 16), (uint8_t)((uint32_t)V >> 24)};
}

// What the callbacks saw: (index, socket) in order, and which "before"
// callbacks answer false. The after-read callback takes every complete
// message waiting into Messages (From: the socket).
struct Recorder {
  std::vector<std::pair<int, uint32_t>> Calls;
  bool Refuse[NetMgr::CallbackCount] = {};
  std::vector<std::unique_ptr<NetBuffer>> Messages;
  std::vector<uint32_t> From;
  size_t Count(int Index) const {
    size_t N = 0;
    for (const auto& C : Calls) N += C.first == Index;
    return N;
  }
};
Recorder& Record() {
  static Recorder R;
  return R;
}

template <int I>
bool Callback(uint32_t Socket, NetMgr* M) {
  Recorder& R = Record();
  R.Calls.push_back({I, Socket});
  if (I == NetMgr::AfterRead) {
    for (;;) {
      auto B = std::make_unique<NetBuffer>();
      if (!M->RecvData(Socket, B.get())) break;
      R.Messages.push_back(std::move(B));
      R.From.push_back(Socket);
    }
  }
  return !R.Refuse[I];
}

void RecordAll(NetMgr* M) {
  const NetCallback All[] = {Callback<0>, Callback<1>, Callback<2>, Callback<3>, Callback<4>,
                             Callback<5>, Callback<6>, Callback<7>, Callback<8>, Callback<9>};
  for (int I = 0; I < NetMgr::CallbackCount; ++I) M->RegisterCallback(I, All[I]);
}

Bytes Contents(const NetBuffer& B) { return Bytes(B.GetData(), B.GetData() + B.GetLength()); }

// --- NetBuffer -------------------------------------------------------------------

TEST(NetBuffer, ValuesAreWrittenLittleEndianWithoutTagsAndReadBack) {
  NetBuffer B;
  B.Add(int32_t(0x01020304));
  B.Add(-2.5f);
  XForm3d F;
  F.AngleX = 0.5f, F.AngleY = -1.0f, F.AngleZ = 2.0f;
  for (int R = 0; R < 3; ++R)
    for (int C = 0; C < 3; ++C) F.XForm.M[R][C] = (float)(R * 3 + C) + 0.25f;
  F.XForm.T = {10.0f, 20.0f, 30.0f};
  F.Gtest = true;
  B.Add(F);
  B.AddString("abc", 3);
  B.AddString("", 0);
  ASSERT_EQ(B.GetLength(), 4 + 4 + 60 + 7 + 4);
  const Bytes C = Contents(B);
  EXPECT_EQ(Bytes(C.begin(), C.begin() + 8), (Bytes{4, 3, 2, 1, 0x00, 0x00, 0x20, 0xC0}));
  float Tz;  // the last float of the transform is Tz
  std::memcpy(&Tz, &C[8 + 56], 4);
  EXPECT_EQ(Tz, 30.0f);
  EXPECT_EQ(Bytes(C.begin() + 68, C.end()), (Bytes{3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0}));

  EXPECT_EQ(B.GetInt(), 0x01020304);
  EXPECT_EQ(B.GetFloat(), -2.5f);
  const XForm3d G = B.GetXForm3d();
  EXPECT_FALSE(G.Gtest);  // never sent
  EXPECT_EQ(G.AngleY, -1.0f);
  EXPECT_EQ(std::memcmp(&G.XForm, &F.XForm, sizeof F.XForm), 0);
  std::unique_ptr<char[]> S(B.GetString()), Empty(B.GetString());
  EXPECT_STREQ(S.get(), "abc");
  ASSERT_NE(Empty, nullptr);
  EXPECT_STREQ(Empty.get(), "");
  EXPECT_EQ(B.Remaining(), 0);
  EXPECT_FALSE(B.HasFailed());
}

TEST(NetBuffer, GrowsInItsStepsAndKeepsContentsAndReadPosition) {
  NetBuffer B;
  EXPECT_EQ(B.GetCapacity(), 1000);
  for (int I = 0; I < 249; ++I) B.Add(I);
  EXPECT_EQ(B.GetCapacity(), 1000);  // 996 bytes: 996 + 4 reaches 1000 only now
  EXPECT_EQ(B.GetInt(), 0);
  B.Add(249);
  EXPECT_EQ(B.GetCapacity(), 2000);
  const std::string Long(5000, 'x');
  B.AddString(Long.c_str(), (int32_t)Long.size());
  EXPECT_GE(B.GetCapacity(), B.GetLength());
  for (int I = 0; I < 50; ++I) B.Add(XForm3d());  // a transform exactly filling the end grows too
  ASSERT_NE(B.Expand(10), nullptr);
  EXPECT_EQ(B.GetReadPosition(), 4);
  for (int I = 1; I < 250; ++I) ASSERT_EQ(B.GetInt(), I);
  std::unique_ptr<char[]> S(B.GetString());
  EXPECT_EQ(std::string(S.get()), Long);
  EXPECT_EQ(B.GetLength(), 1000 + 5004 + 50 * 60);
  EXPECT_EQ(B.Expand(-1), nullptr);
  EXPECT_FALSE(B.HasFailed());
}

TEST(NetBuffer, ReadsNeverPassTheLengthAndSayTheyFailed) {
  NetBuffer B;
  B.Add(7);
  EXPECT_EQ(B.GetInt(), 7);
  EXPECT_EQ(B.GetInt(), 0);
  EXPECT_TRUE(B.HasFailed());
  B.Clear();
  B.Add(100);  // a count of 100 with 2 bytes behind it
  B.AddString("z", 1);
  EXPECT_EQ(B.GetString(), nullptr);
  EXPECT_EQ(B.GetReadPosition(), 0) << "a refused string leaves the read position";
  B.Clear();
  B.Add(-1);
  EXPECT_EQ(B.GetString(), nullptr);
  B.Clear();
  B.Add(1.0f);
  const XForm3d F = B.GetXForm3d();
  EXPECT_TRUE(B.HasFailed());
  EXPECT_EQ(F.XForm.M[0][0], 1.0f);  // the identity
  EXPECT_EQ(B.GetFloat(), 1.0f) << "a short transform consumes nothing";
  B.Clear();
  B.AddString("x", -3);
  EXPECT_TRUE(B.HasFailed());
  EXPECT_EQ(B.GetLength(), 0);
}

// --- Loopback -----------------------------------------------------------------------

struct Loopback : ::testing::Test {
  void SetUp() override {
    Record() = Recorder();
    ASSERT_TRUE(Server.StartServer("server", 0));
    ASSERT_NE(Server.GetPort(), 0);
    Server.SetTimeout(150);
  }
  // Joins a new client and pumps until the server has accepted it.
  std::unique_ptr<NetMgr> Join(const char* Name = "player") {
    auto C = std::make_unique<NetMgr>(nullptr);
    const int Before = Server.getNumClients();
    bool Joined = false;
    std::thread T([&] { Joined = C->JoinGame("127.0.0.1", Name, Server.GetPort()); });
    EXPECT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() > Before; }));
    T.join();
    EXPECT_TRUE(Joined);
    return C;
  }
  NetMgr Server{nullptr};
};

TEST_F(Loopback, JoiningGivesTheAcceptedSocketAsIdentifierAndRunsTheCallbacksInOrder) {
  RecordAll(&Server);
  auto A = Join("alice"), B = Join("bob");
  EXPECT_TRUE(A->IsClient() && A->IsConnected() && !A->IsServer());
  EXPECT_TRUE(Server.IsServer() && !Server.IsClient());
  EXPECT_EQ(Server.getNumClients(), 2);
  EXPECT_EQ(A->GetClientID(), Server.GetClientSocket(0));
  EXPECT_EQ(B->GetClientID(), Server.GetClientSocket(1));
  EXPECT_NE(A->GetClientID(), B->GetClientID());
  EXPECT_STREQ(A->GetName(), "alice");
  const auto Calls = Record().Calls;
  ASSERT_EQ(Calls.size(), 4u);
  EXPECT_EQ(Calls[0].first, NetMgr::BeforeAccept);
  EXPECT_EQ(Calls[1].first, NetMgr::AfterAccept);
  EXPECT_EQ(Calls[0].second, (uint32_t)Server.Watches()[0].Socket) << "accept events name the listening socket";

  // Callbacks: indices 0..9 only; a cleared one counts as true.
  EXPECT_FALSE(Server.RegisterCallback(10, Callback<0>));
  EXPECT_FALSE(Server.RegisterCallback(-1, Callback<0>));
  EXPECT_FALSE(Server.ClearCallback(10));
  EXPECT_TRUE(Server.ClearCallback(NetMgr::BeforeRead));
  Server.ProcessMsg(nullptr, NetMgr::SocketMessage, 77, NetMgr::EventWrite | (5 << 16));
  EXPECT_EQ(Record().Calls.back(), (std::pair<int, uint32_t>{NetMgr::AfterWrite, 77}));
  Record().Refuse[NetMgr::BeforeConnect] = true;
  Server.ProcessMsg(nullptr, NetMgr::SocketMessage, 77, NetMgr::EventConnect);
  EXPECT_EQ(Record().Calls.back().first, NetMgr::BeforeConnect);
  const size_t Before = Record().Calls.size();
  Server.ProcessMsg(nullptr, NetMgr::SocketMessage, 77, 64);  // not an event
  EXPECT_EQ(Record().Calls.size(), Before);
}

TEST_F(Loopback, ABeforeAcceptCallbackSayingNoLeavesTheConnectionWaiting) {
  RecordAll(&Server);
  Record().Refuse[NetMgr::BeforeAccept] = true;
  const int Raw = Connect(Server.GetPort());
  ASSERT_GE(Raw, 0);
  ASSERT_TRUE(PumpUntil({&Server}, [] { return Record().Count(NetMgr::BeforeAccept) > 0; }));
  EXPECT_EQ(Server.getNumClients(), 0);
  EXPECT_EQ(Record().Count(NetMgr::AfterAccept), 0u);
  Record().Refuse[NetMgr::BeforeAccept] = false;
  ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == 1; }));
  EXPECT_EQ(Record().Count(NetMgr::AfterAccept), 1u);
  close(Raw);
}

TEST_F(Loopback, MessagesOfEveryKindTravelBothWays) {
  RecordAll(&Server);
  auto C = Join();
  RecordAll(C.get());
  NetBuffer Out;
  Out.Add(-123456);
  Out.Add(3.25f);
  XForm3d F;
  F.AngleZ = 1.5f, F.XForm.T = {1, 2, 3}, F.Gtest = true;
  Out.Add(F);
  Out.AddString("hello", 5);
  ASSERT_TRUE(C->SendData(&Out));
  NetBuffer Empty;
  ASSERT_TRUE(C->SendData(&Empty));
  ASSERT_TRUE(PumpUntil({&Server}, [] { return Record().Messages.size() == 2; }));
  NetBuffer& In = *Record().Messages[0];
  EXPECT_EQ(Contents(In), Contents(Out));
  EXPECT_EQ(In.GetInt(), -123456);
  EXPECT_EQ(In.GetFloat(), 3.25f);
  const XForm3d G = In.GetXForm3d();
  EXPECT_FALSE(G.Gtest);
  EXPECT_EQ(G.AngleZ, 1.5f);
  EXPECT_EQ(G.XForm.T.Y, 2.0f);
  std::unique_ptr<char[]> S(In.GetString());
  EXPECT_STREQ(S.get(), "hello");
  EXPECT_EQ(Record().Messages[1]->GetLength(), 0) << "a zero length is an empty message";

  // And back, to the client's identifier, through the Client record.
  Client Record1;
  Record1.Socket = (uint32_t)C->GetClientID();
  NetBuffer Reply;
  Reply.Add(42);
  ASSERT_TRUE(Record1.SendMessageA(&Reply));
  ASSERT_TRUE(PumpUntil({C.get()}, [] { return Record().Messages.size() == 3; }));
  EXPECT_EQ(Record().Messages[2]->GetInt(), 42);
  EXPECT_EQ(Record().From[2], (uint32_t)C->GetServerSocket());
}

TEST_F(Loopback, TwoProcessesExchangeMessages) {
  RecordAll(&Server);
  const uint16_t Port = Server.GetPort();
  const pid_t Child = fork();
  if (Child == 0) {
    // The second process: join, send a greeting, wait for the answer.
    NetMgr C(nullptr);
    int Status = 1;
    if (C.JoinGame("127.0.0.1", "child", Port)) {
      NetBuffer Hello;
      Hello.AddString("from the child", 14);
      Hello.Add((int32_t)C.GetClientID());
      NetBuffer Answer;
      if (C.SendData(&Hello)) {
        for (int I = 0; I < 3000 && Status; ++I)
          if (C.PumpEvents(1) >= 0 && C.RecvData((uint32_t)C.GetServerSocket(), &Answer))
            Status = Answer.GetInt() == 2 * C.GetClientID() ? 0 : 2;
      }
    }
    _exit(Status);
  }
  ASSERT_GT(Child, 0);
  ASSERT_TRUE(PumpUntil({&Server}, [] { return !Record().Messages.empty(); }, 5000));
  NetBuffer& In = *Record().Messages[0];
  std::unique_ptr<char[]> Text(In.GetString());
  EXPECT_STREQ(Text.get(), "from the child");
  const int32_t Id = In.GetInt();
  EXPECT_EQ(Id, (int32_t)Record().From[0]) << "the child knows its identifier";
  NetBuffer Answer;
  Answer.Add(2 * Id);
  ASSERT_TRUE(Server.SendData(Record().From[0], &Answer));
  int Status = -1;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
  // The child's exit closes its connection: the close event frees the entry.
  ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == 0; }));
  EXPECT_EQ(Record().Count(NetMgr::AfterClose), 1u);
}

// --- Peers that break the protocol --------------------------------------------------

TEST_F(Loopback, BadLengthsAndStalledMessagesDropThePeer) {
  RecordAll(&Server);
  struct Case {
    const char* What;
    Bytes Sent;
  };
  const Case Cases[] = {
      {"negative length", Le32(-5)},
      {"length above 16 MiB", Le32(NetMgr::MaxMessageBytes + 1)},
      {"half a message, then nothing", [] { Bytes B = Le32(100); B.resize(4 + 40, 7); return B; }()},
      {"half a length, then nothing", {9, 0}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    Record().Messages.clear();
    const int Raw = Connect(Server.GetPort());
    ASSERT_GE(Raw, 0);
    ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == 1; }));
    uint8_t Id[4];
    ASSERT_EQ(recv(Raw, Id, 4, MSG_WAITALL), 4);
    SendRaw(Raw, C.Sent);
    const auto Start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == 0; }));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(2)) << "the wait was not bounded";
    EXPECT_TRUE(Record().Messages.empty());
    EXPECT_TRUE(SeesClose(Raw)) << "the peer was not disconnected";
    close(Raw);
  }
  EXPECT_EQ(Record().Count(NetMgr::AfterClose), 4u);
}

TEST_F(Loopback, TheHundredAndFirstConnectionIsRefusedAndLongNamesCut) {
  std::vector<int> Raw;
  for (int I = 0; I < NetMgr::MaxSockets; ++I) {
    Raw.push_back(Connect(Server.GetPort()));
    ASSERT_GE(Raw.back(), 0);
    ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == I + 1; }));
  }
  const int Extra = Connect(Server.GetPort());
  ASSERT_GE(Extra, 0);
  Server.PumpEvents(200);
  EXPECT_EQ(Server.getNumClients(), NetMgr::MaxSockets);
  EXPECT_TRUE(SeesClose(Extra)) << "the 101st connection is closed without an identifier";
  close(Extra);
  // A freed entry takes the next one.
  close(Raw[5]);
  ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == NetMgr::MaxSockets - 1; }));
  const int Again = Connect(Server.GetPort());
  ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == NetMgr::MaxSockets; }));
  for (int S : Raw) close(S);
  close(Again);

  const std::string Long(60, 'n');
  NetMgr Named(nullptr);
  ASSERT_TRUE(Named.StartServer(Long.c_str(), 0));
  EXPECT_EQ(std::string(Named.GetName()), Long.substr(0, 39));
  Client C;
  C.SetPlayerName(Long.c_str());
  EXPECT_EQ(std::string(C.GetPlayerName()), Long.substr(0, 39));
}

TEST_F(Loopback, AClosedOrResetPeerMakesSendAndReceiveFailWithoutASignal) {
  auto C = Join();
  const uint32_t ToClient = (uint32_t)Server.GetClientSocket(0);
  // Reset: the client side closes with a zero linger time.
  const linger Hard{1, 0};
  setsockopt(C->GetServerSocket(), SOL_SOCKET, SO_LINGER, &Hard, sizeof Hard);
  C.reset();
  NetBuffer Big;
  const std::string Chunk(64 * 1024, 'q');
  for (int I = 0; I < 16; ++I) Big.AddString(Chunk.c_str(), (int32_t)Chunk.size());
  bool Failed = false;
  for (int I = 0; I < 20 && !Failed; ++I) Failed = !Server.SendData(ToClient, &Big);
  EXPECT_TRUE(Failed);
  NetBuffer In;
  EXPECT_FALSE(Server.RecvData(ToClient, &In));
  ASSERT_TRUE(PumpUntil({&Server}, [&] { return Server.getNumClients() == 0; }));
  // A client whose server went away.
  auto D = Join();
  Server.StopServer();
  Server.ShutdownClient((uint32_t)Server.GetClientSocket(0));
  EXPECT_EQ(Server.getNumClients(), 0);
  ASSERT_TRUE(PumpUntil({D.get()}, [&] { return !D->IsConnected(); }));
  EXPECT_FALSE(D->SendData(&Big));
  EXPECT_FALSE(NetMgr(nullptr).JoinGame("not an address", "x", 1));
}

// --- The Engine's client list --------------------------------------------------------

struct EngineClients : fwtest::FrameworkTest {};

TEST_F(EngineClients, ClientsAreFoundByIdentifierAndRemoved) {
  cvplatform::HeadlessWindow Window(64, 48);
  Engine E(Window.Record());
  Client* Made[Engine::MaxClients];
  for (int I = 0; I < Engine::MaxClients; ++I) {
    Made[I] = E.GetNewClient();
    ASSERT_NE(Made[I], nullptr);
    Made[I]->Socket = 1000 + I;
  }
  EXPECT_EQ(E.GetNewClient(), nullptr);
  EXPECT_EQ(E.FindClientWithId(1007), 7);
  EXPECT_EQ(E.FindClientWithId(5), -1);
  ASSERT_TRUE(E.RemoveClient(7));
  EXPECT_EQ(E.FindClientWithId(1007), -1);
  EXPECT_EQ(E.FindClientWithId(1019), 7) << "the last moved into the freed place";
  EXPECT_FALSE(E.RemoveClient(-1));
}

// --- Load --------------------------------------------------------------------------

// Every message must arrive intact and in order per client; the rate is
// printed, not asserted (speed belongs to the benchmarks).
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
