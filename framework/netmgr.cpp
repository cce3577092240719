// NetMgr and Client on POSIX sockets. Every socket is non-blocking; the
// waits the protocol needs (the rest of a started message, room in a full
// send buffer, a connection, a joining client's identifier) are poll calls
// bounded by the manager's timeout, so that a stalled peer costs at most
// that long. Sends use MSG_NOSIGNAL: a peer that went away gives false, not
// SIGPIPE.
#include "framework/netmgr.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>

#include "engine/Support/cvsupport.h"

namespace {

using Clock = std::chrono::steady_clock;

bool WouldBlock(int Error) { return Error == EAGAIN || Error == EWOULDBLOCK || Error == EINTR; }

bool MakeNonBlocking(int Socket) {
  const int Flags = fcntl(Socket, F_GETFL, 0);
  return Flags >= 0 && fcntl(Socket, F_SETFL, Flags | O_NONBLOCK) == 0;
}

// Milliseconds left until Deadline (0 when passed).
int LeftMs(Clock::time_point Deadline) {
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
  return Left > 0 ? (int)std::min<long long>(Left, INT32_MAX) : 0;
}

// Waits until Socket is ready for Events or Deadline passes.
bool WaitFor(int Socket, short Events, Clock::time_point Deadline) {
  for (;;) {
    pollfd P{Socket, Events, 0};
    const int N = poll(&P, 1, LeftMs(Deadline));
    if (N > 0) return true;
    if (N == 0 || errno != EINTR) return false;
  }
}

// Sends the length field and the body, waiting for room up to Deadline. One
// call usually carries both (one segment on the wire, half the calls).
bool SendMessage(int Socket, const NetBuffer* Buffer, int32_t TimeoutMs) {
  if (Socket < 0 || !Buffer || Buffer->GetLength() < 0) return false;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  uint8_t Head[4];
  cvLE_Put32(Head, (uint32_t)Buffer->GetLength());
  iovec Parts[2] = {{Head, 4}, {const_cast<uint8_t*>(Buffer->GetData()), (size_t)Buffer->GetLength()}};
  int First = 0;
  while (First < 2) {
    msghdr M{};
    M.msg_iov = Parts + First;
    M.msg_iovlen = (size_t)(2 - First);
    ssize_t N = sendmsg(Socket, &M, MSG_NOSIGNAL);
    if (N < 0) {
      if (!WouldBlock(errno) || !WaitFor(Socket, POLLOUT, Deadline)) return false;
      continue;
    }
    for (; First < 2 && (size_t)N >= Parts[First].iov_len; ++First) N -= (ssize_t)Parts[First].iov_len;
    if (First < 2) {
      Parts[First].iov_base = static_cast<uint8_t*>(Parts[First].iov_base) + N;
      Parts[First].iov_len -= (size_t)N;
    }
  }
  return true;
}

enum class Received { Complete, Nothing, Failed };

// Receives Length bytes into Data. Without Wait, Nothing when no byte is
// there yet; once one has arrived (or with Wait) the rest is waited for
// until TimeoutMs. Failed when the connection closed, broke or stalled.
Received ReceiveExact(int Socket, long Length, uint8_t* Data, bool Wait, int32_t TimeoutMs) {
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  long Done = 0;
  while (Done < Length) {
    const ssize_t N = recv(Socket, Data + Done, (size_t)(Length - Done), MSG_DONTWAIT);
    if (N > 0) {
      Done += N;
    } else if (N == 0 || !WouldBlock(errno)) {
      return Received::Failed;
    } else if (Done == 0 && !Wait) {
      return Received::Nothing;
    } else if (!WaitFor(Socket, POLLIN, Deadline)) {
      return Received::Failed;
    }
  }
  return Received::Complete;
}

void CopyName(char (&Out)[NetMgr::NameBytes], const char* Name) {
  std::memset(Out, 0, sizeof Out);
  if (Name) std::strncpy(Out, Name, sizeof Out - 1);
}

}  // namespace

// --- Client -----------------------------------------------------------------------

Client::Client() = default;
Client::~Client() = default;

bool Client::SendMessageA(NetBuffer* Buffer) {
  return SendMessage((int)Socket, Buffer, NetMgr::DefaultTimeoutMs);
}

void Client::SetPlayerName(const char* Name) { CopyName(PlayerName, Name); }

// --- NetMgr: set-up ---------------------------------------------------------------

NetMgr::NetMgr(cvWindow* Window) : Window(Window) { std::fill(std::begin(Sockets), std::end(Sockets), -1); }

NetMgr::~NetMgr() {
  for (int32_t& S : Sockets)
    if (S >= 0) close(S), S = -1;
  if (ServerSocket >= 0) close(ServerSocket);
  if (ListenSocket >= 0) close(ListenSocket);
}

bool NetMgr::StartServer(const char* ServerName, uint16_t ListenPort) {
  if (ListenSocket >= 0) return false;
  const int S = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (S < 0) return false;
  const int One = 1;
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_ANY);
  A.sin_port = htons(ListenPort);
  socklen_t Len = sizeof A;
  if (setsockopt(S, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One) != 0 || !MakeNonBlocking(S) ||
      bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || listen(S, 4) != 0 ||
      getsockname(S, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
    close(S);
    return false;
  }
  ListenSocket = S;
  Port = ntohs(A.sin_port);
  Server = true;
  CopyName(Name, ServerName);
  NotifyWatches();
  return true;
}

bool NetMgr::StopServer() {
  Server = false;
  if (ListenSocket >= 0) close(ListenSocket);
  ListenSocket = -1;
  NotifyWatches();
  return true;
}

bool NetMgr::JoinGame(const char* Address, const char* PlayerName, uint16_t ServerPort) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(ServerPort);
  if (ServerSocket >= 0 || !Address || inet_pton(AF_INET, Address, &A.sin_addr) != 1) return false;
  const int S = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (S < 0) return false;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  int Error = 0;
  socklen_t Len = sizeof Error;
  bool Ok = MakeNonBlocking(S);
  if (Ok && connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
    Ok = errno == EINPROGRESS && WaitFor(S, POLLOUT, Deadline) &&
         getsockopt(S, SOL_SOCKET, SO_ERROR, &Error, &Len) == 0 && Error == 0;
  }
  // The server's first 4 bytes are this client's identifier.
  uint8_t Id[4];
  if (!Ok || !RecvDataX((uint32_t)S, 4, Id, true)) {
    close(S);
    return false;
  }
  ServerSocket = S;
  const int NoDelay = 1;
  setsockopt(S, IPPROTO_TCP, TCP_NODELAY, &NoDelay, sizeof NoDelay);
  ClientId = (int32_t)cvLE_Get32(Id);
  IsClientFlag = Connected = true;
  CopyName(Name, PlayerName);
  NotifyWatches();
  return true;
}

bool NetMgr::RegisterCallback(int Index, NetCallback Callback) {
  if (Index < 0 || Index >= CallbackCount) return false;
  Callbacks[Index] = Callback;
  return true;
}

bool NetMgr::ClearCallback(int Index) { return RegisterCallback(Index, nullptr); }

// --- Events -----------------------------------------------------------------------

bool NetMgr::RunCallback(int Index, uint32_t Socket) {
  return !Callbacks[Index] || Callbacks[Index](Socket, this);
}

bool NetMgr::ProcessMsg(cvWindow*, uint32_t, uintptr_t WParam, intptr_t LParam) {
  const uint32_t Socket = (uint32_t)WParam;
  switch ((uint32_t)LParam & 0xFFFF) {
    case EventAccept:
      // The after callback runs only for a connection that was accepted.
      if (RunCallback(BeforeAccept, Socket) && AcceptClient()) RunCallback(AfterAccept, Socket);
      break;
    case EventConnect:
      if (RunCallback(BeforeConnect, Socket)) RunCallback(AfterConnect, Socket);
      break;
    case EventRead:
      if (RunCallback(BeforeRead, Socket)) RunCallback(AfterRead, Socket);
      break;
    case EventWrite:
      if (RunCallback(BeforeWrite, Socket)) RunCallback(AfterWrite, Socket);
      break;
    case EventClose:
      if (RunCallback(BeforeClose, Socket)) RunCallback(AfterClose, Socket);
      // A closed connection is of no further use: close it unless the
      // callbacks did, so that neither its descriptor nor its entry leaks.
      if (Owns((int32_t)Socket)) CloseOwned((int32_t)Socket);
      break;
    default:
      break;
  }
  return true;
}

bool NetMgr::AcceptClient() {
  if (ListenSocket < 0) return false;
  const int S = accept4(ListenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (S < 0) return false;
  int32_t* Slot = std::find(std::begin(Sockets), std::end(Sockets), -1);
  if (Slot == std::end(Sockets)) {  // the table is full: refuse
    close(S);
    return false;
  }
  const int NoDelay = 1;
  setsockopt(S, IPPROTO_TCP, TCP_NODELAY, &NoDelay, sizeof NoDelay);
  uint8_t Id[4];
  cvLE_Put32(Id, (uint32_t)S);
  // A new connection's send buffer is empty: the 4 bytes go at once.
  if (send(S, Id, 4, MSG_NOSIGNAL) != 4) {
    shutdown(S, SHUT_RDWR);
    close(S);
    return false;
  }
  *Slot = S;
  ++NumSockets;
  NotifyWatches();
  return true;
}

bool NetMgr::Owns(int32_t Socket) const {
  return Socket >= 0 && (Socket == ServerSocket || std::find(std::begin(Sockets), std::end(Sockets), Socket) != std::end(Sockets));
}

void NetMgr::CloseOwned(int32_t Socket) {
  shutdown(Socket, SHUT_RDWR);
  close(Socket);
  if (Socket == ServerSocket) {
    ServerSocket = -1;
    Connected = false;
  } else {
    *std::find(std::begin(Sockets), std::end(Sockets), Socket) = -1;
    --NumSockets;
  }
  CloseDelivered.erase(std::remove(CloseDelivered.begin(), CloseDelivered.end(), Socket), CloseDelivered.end());
  NotifyWatches();
}

bool NetMgr::ShutdownClient(uint32_t Socket) {
  if (Socket <= INT32_MAX && Owns((int32_t)Socket)) CloseOwned((int32_t)Socket);
  return true;
}

int32_t NetMgr::GetClientSocket(int32_t Index) const {
  return Index >= 0 && Index < MaxSockets ? Sockets[Index] : -1;
}

// Dropping shuts the connection down at once: the peer sees it closed, and
// the socket turns readable at end of stream, so its close event follows
// through the usual path (where the manager closes it).
void NetMgr::DropPeer(int32_t Socket) { shutdown(Socket, SHUT_RDWR); }

void NetMgr::NotifyWatches() {
  if (WatchesChanged) WatchesChanged(this);
}

std::vector<NetMgr::Watch> NetMgr::Watches() const {
  std::vector<Watch> W;
  if (ListenSocket >= 0) W.push_back({ListenSocket, EventAccept});
  const auto Add = [&](int32_t S) {
    if (S >= 0 && std::find(CloseDelivered.begin(), CloseDelivered.end(), S) == CloseDelivered.end())
      W.push_back({S, EventRead | EventClose});
  };
  Add(ServerSocket);
  for (int32_t S : Sockets) Add(S);
  return W;
}

uint32_t NetMgr::ClassifyReadable(int32_t Socket) {
  if (Socket >= 0 && Socket == ListenSocket) return EventAccept;
  // A notifier may still fire for a socket closed a moment ago.
  if (!Owns(Socket)) return 0;
  uint8_t Byte;
  const ssize_t N = recv(Socket, &Byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (N > 0) return EventRead;
  if (N < 0 && WouldBlock(errno)) return 0;
  // End of stream, reset or another error: the connection is over. Its
  // close is reported once.
  if (std::find(CloseDelivered.begin(), CloseDelivered.end(), Socket) != CloseDelivered.end()) return 0;
  CloseDelivered.push_back(Socket);
  return EventClose;
}

uint32_t NetMgr::DeliverReadable(int32_t Socket) {
  const uint32_t Event = ClassifyReadable(Socket);
  if (Event) ProcessMsg(Window, SocketMessage, (uintptr_t)(uint32_t)Socket, (intptr_t)Event);
  return Event;
}

int32_t NetMgr::PumpEvents(int32_t Timeout) {
  const std::vector<Watch> W = Watches();
  std::vector<pollfd> P;
  for (const Watch& X : W) P.push_back({X.Socket, POLLIN, 0});
  if (P.empty()) {
    if (Timeout > 0) poll(nullptr, 0, Timeout);
    return 0;
  }
  if (poll(P.data(), P.size(), Timeout < 0 ? 0 : Timeout) <= 0) return 0;
  int32_t Delivered = 0;
  for (const pollfd& X : P) {
    // A callback may have closed this socket (or others) meanwhile.
    if (!(X.revents & (POLLIN | POLLHUP | POLLERR))) continue;
    if (DeliverReadable(X.fd)) ++Delivered;
  }
  return Delivered;
}

// --- Messages ---------------------------------------------------------------------

bool NetMgr::SendData(uint32_t Socket, NetBuffer* Buffer) {
  if (Socket > INT32_MAX || !SendMessage((int)Socket, Buffer, TimeoutMs)) return false;
  return true;
}

bool NetMgr::SendData(NetBuffer* Buffer) {
  return ServerSocket >= 0 && SendData((uint32_t)ServerSocket, Buffer);
}

bool NetMgr::RecvDataX(uint32_t Socket, long Length, unsigned char* Data, bool Wait) {
  if (Socket > INT32_MAX || Length < 0 || (Length > 0 && !Data)) return false;
  return ReceiveExact((int)Socket, Length, Data, Wait, TimeoutMs) == Received::Complete;
}

bool NetMgr::RecvData(uint32_t Socket, NetBuffer* Buffer) {
  if (!Buffer || Socket > INT32_MAX) return false;
  // A length field that starts but does not finish, a bad length and a body
  // that stops short all leave the stream unusable: the peer is dropped.
  uint8_t Head[4];
  const Received Start = ReceiveExact((int)Socket, 4, Head, false, TimeoutMs);
  if (Start != Received::Complete) {
    if (Start == Received::Failed) DropPeer((int32_t)Socket);
    return false;
  }
  const int32_t Bytes = (int32_t)cvLE_Get32(Head);
  if (Bytes < 0 || Bytes > MaxMessageBytes) {
    DropPeer((int32_t)Socket);
    return false;
  }
  uint8_t* Data = Buffer->PrepareReceive(Bytes);
  if (!Data) {
    DropPeer((int32_t)Socket);
    return false;
  }
  if (Bytes > 0 && ReceiveExact((int)Socket, Bytes, Data, true, TimeoutMs) != Received::Complete) {
    Buffer->PrepareReceive(0);
    DropPeer((int32_t)Socket);
    return false;
  }
  return true;
}
