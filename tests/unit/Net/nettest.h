// Shared pieces of the network tests: a loopback server with its own port,
// pumping helpers, raw peers that speak the wire format by hand (or break
// it), and a recorder for the callbacks (plain functions, so they reach the
// test through one global).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "framework/netmgr.h"

namespace nettest {

// Pumps the managers until Done() holds or Ms milliseconds pass.
inline bool PumpUntil(std::initializer_list<NetMgr*> Managers, const std::function<bool()>& Done, int Ms = 3000) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > End) return false;
    for (NetMgr* M : Managers) M->PumpEvents(1);
  }
  return true;
}

// A raw TCP connection to the loopback server on Port.
inline int Connect(uint16_t Port) {
  const int S = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (S >= 0 && connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0) return S;
  if (S >= 0) close(S);
  return -1;
}

inline void SendRaw(int Socket, const std::vector<uint8_t>& Bytes) {
  ASSERT_EQ(send(Socket, Bytes.data(), Bytes.size(), MSG_NOSIGNAL), (ssize_t)Bytes.size());
}

// Waits up to Ms for Socket to reach end of stream (the other side closed it).
inline bool SeesClose(int Socket, int Ms = 3000) {
  timeval T{Ms / 1000, (Ms % 1000) * 1000};
  setsockopt(Socket, SOL_SOCKET, SO_RCVTIMEO, &T, sizeof T);
  uint8_t B[256];
  for (;;) {
    const ssize_t N = recv(Socket, B, sizeof B, 0);
    if (N == 0) return true;
    if (N < 0) return errno == ECONNRESET;
  }
}

inline std::vector<uint8_t> Le32(int32_t V) {
  return {(uint8_t)V, (uint8_t)(V >> 8), (uint8_t)(V >> 16), (uint8_t)((uint32_t)V >> 24)};
}

// What the callbacks saw: (index, socket) in order, and which "before"
// callbacks answer false. Read callbacks receive the message into Last.
struct Recorder {
  std::vector<std::pair<int, uint32_t>> Calls;
  bool Refuse[NetMgr::CallbackCount] = {};
  bool ReadOnRead = true;
  std::vector<std::unique_ptr<NetBuffer>> Messages;
  std::vector<uint32_t> From;
  int Failures = 0;
  size_t Count(int Index) const {
    size_t N = 0;
    for (const auto& C : Calls) N += C.first == Index;
    return N;
  }
};
Recorder& Record();

// Registers the recording callback for every index on M.
void RecordAll(NetMgr* M);

}  // namespace nettest
