// The network manager: framework programs connected over TCP. One program
// runs a server (port 5000 unless the caller picks another) that accepts
// clients and gives each an identifier; others join it. Messages are
// NetBuffers: a 32-bit little-endian length, then that many bytes of
// integers, floats, transforms and counted strings.
//
// Socket events reach the program the way window messages would: the
// manager lists the sockets it wants watched (Watches), whoever watches them
// (a QSocketNotifier per socket in the program, PumpEvents in tests and
// tools) turns a readable socket into its event with ClassifyReadable and
// hands it to ProcessMsg with the message NetMgr::SocketMessage. ProcessMsg
// runs the user callbacks of the event; a "before" callback returning false
// suppresses the rest.
//
// Nothing arriving on a socket is trusted: a length field that is negative
// or above MaxMessageBytes closes the connection unread, a message that
// stops half way is waited for only ReceiveTimeout milliseconds before the
// peer is dropped, NetBuffer reads never pass the received length, and a
// peer that closes or resets the connection makes sends and receives fail
// (no SIGPIPE). A dropped peer's socket is shut down at once; its close
// event then arrives like any other.
//
// All calls come from one thread (the window's).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "framework/scene.h"
#include "platform/window.h"

class Actor;
class NetMgr;

// A message body: values appended at the write length and read back from
// the read position. Reads past the received length give 0 (or null for a
// string) and set a failure flag that stays until the next message.
class NetBuffer {
 public:
  static constexpr int32_t InitialBytes = 1000;
  static constexpr int32_t GrowBytes = 1000;
  // Bytes of a transform: three angles and the twelve floats of cvXForm3d.
  static constexpr int32_t XFormBytes = 60;

  NetBuffer();
  virtual ~NetBuffer();
  NetBuffer(const NetBuffer&) = delete;
  NetBuffer& operator=(const NetBuffer&) = delete;

  void Add(int32_t Value);
  void Add(float Value);
  // The angles and the transform; the Gtest flag is not sent.
  void Add(const XForm3d& Form);
  // The count Length, then Length bytes of Text (no terminator). A negative
  // Length adds nothing and marks the buffer failed.
  void AddString(const char* Text, int32_t Length);
  // Grows the capacity by Bytes; the contents and read position stay. Null
  // (and nothing changed) when the memory cannot be had.
  uint8_t* Expand(int32_t Bytes);

  int32_t GetInt();
  float GetFloat();
  // A transform with Gtest off; the identity when the message is too short.
  XForm3d GetXForm3d();
  // A new zero-terminated copy of the next string (free it with delete[]),
  // or null when its count is negative or longer than what is left.
  char* GetString();

  // The message as received or built so far.
  const uint8_t* GetData() const { return Data; }
  int32_t GetLength() const { return Length; }
  int32_t GetReadPosition() const { return ReadPos; }
  int32_t GetCapacity() const { return Capacity; }
  // Bytes left to read.
  int32_t Remaining() const { return Length - ReadPos; }
  // A read or an addition failed since the last message.
  bool HasFailed() const { return Failed; }
  // Starts a new message: empty, read position at the start, failure cleared.
  void Clear();
  // Makes room for a received message of Bytes and makes it the contents:
  // length Bytes, read position at the start. Null when Bytes cannot be had.
  uint8_t* PrepareReceive(int32_t Bytes);

 private:
  bool Grow(int64_t Needed, int32_t Step);
  bool Take(void* Out, int32_t Bytes);
  void Put(const void* In, int32_t Bytes);

  int32_t ReadPos = 0;
  int32_t Length = 0;
  uint8_t* Data = nullptr;
  int32_t Capacity = 0;
  bool Failed = false;
};

// The server's record of one connected player (made by Engine::GetNewClient).
class Client {
 public:
  static constexpr int32_t NameBytes = 40;

  Client();
  virtual ~Client();

  // Sends Buffer to this client's socket.
  bool SendMessageA(NetBuffer* Buffer);
  char* GetPlayerName() { return PlayerName; }
  // Copies at most 39 characters of Name.
  void SetPlayerName(const char* Name);

  char PlayerName[NameBytes] = {};
  uint32_t Socket = 0;  // also the client's identifier
  int32_t Reserved = 0;
  Actor* ClientActor = nullptr;
  int32_t Extra = 0;
};

typedef bool (*NetCallback)(uint32_t Socket, NetMgr* Manager);

class NetMgr {
 public:
  static constexpr uint16_t DefaultPort = 5000;
  static constexpr int32_t NameBytes = 40;
  static constexpr int32_t MaxSockets = 100;
  static constexpr int32_t CallbackCount = 10;
  // The window message socket events arrive with, and the events.
  static constexpr uint32_t SocketMessage = 1124;
  enum : uint32_t {
    EventRead = 1,
    EventWrite = 2,
    EventAccept = 8,
    EventConnect = 16,
    EventClose = 32,
  };
  // Callback indices.
  enum : int32_t {
    BeforeAccept = 0, AfterAccept, BeforeConnect, AfterConnect, BeforeRead, AfterRead,
    BeforeWrite, AfterWrite, BeforeClose, AfterClose,
  };
  // Largest message body accepted from a peer.
  static constexpr int32_t MaxMessageBytes = 16 * 1024 * 1024;
  // How long a started message, a send into a full socket, a connection or
  // the identifier of a join is waited for.
  static constexpr int32_t DefaultTimeoutMs = 2000;

  explicit NetMgr(cvWindow* Window);
  // Closes every socket it holds.
  virtual ~NetMgr();
  NetMgr(const NetMgr&) = delete;
  NetMgr& operator=(const NetMgr&) = delete;

  // Listens on Port (0: any free port, see GetPort) of every local address.
  bool StartServer(const char* Name, uint16_t Port = DefaultPort);
  // Stops listening; the accepted clients stay connected.
  bool StopServer();
  // Connects to Address (dotted decimal IPv4) on Port and reads the
  // identifier the server sends.
  bool JoinGame(const char* Address, const char* Name, uint16_t Port = DefaultPort);

  // Runs the callbacks of one socket event: Event in the low 16 bits of
  // LParam, the socket in WParam. An accept event accepts the connection
  // between its callbacks; after a close event's callbacks the manager
  // closes the socket if it is still one of its own.
  bool ProcessMsg(cvWindow* Window, uint32_t Msg, uintptr_t WParam, intptr_t LParam);
  // Accepts a waiting connection into a free table entry and sends it its
  // identifier. The 101st connection is accepted only to be closed.
  bool AcceptClient();
  // Shuts a socket of this manager down and closes it (its table entry
  // becomes free). Sockets the manager does not hold are left alone.
  bool ShutdownClient(uint32_t Socket);
  int getNumClients() const { return NumSockets; }
  // The socket in table entry Index (-1 when free or out of range).
  int32_t GetClientSocket(int32_t Index) const;

  bool SendData(uint32_t Socket, NetBuffer* Buffer);
  bool SendData(NetBuffer* Buffer);  // to the server
  // Receives one message into Buffer (its contents from the start; length
  // set, read position at the start). False when no message has begun, when
  // the connection closed, or when the peer sent a bad length or stalled
  // (the peer is then dropped). A length of 0 is an empty message.
  bool RecvData(uint32_t Socket, NetBuffer* Buffer);

  bool IsServer() const { return Server; }
  bool IsClient() const { return IsClientFlag; }
  bool IsConnected() const { return Connected; }
  long GetClientID() const { return ClientId; }
  const char* GetName() const { return Name; }
  // The port the server listens on (after StartServer).
  uint16_t GetPort() const { return Port; }
  int32_t GetServerSocket() const { return ServerSocket; }

  bool RegisterCallback(int Index, NetCallback Callback);
  bool ClearCallback(int Index);

  // How long the waits above last (milliseconds, at least 0).
  void SetTimeout(int32_t Milliseconds) { TimeoutMs = Milliseconds < 0 ? 0 : Milliseconds; }
  int32_t GetTimeout() const { return TimeoutMs; }

  // --- Event delivery --------------------------------------------------------
  struct Watch {
    int32_t Socket;
    uint32_t Events;  // EventAccept, or EventRead | EventClose
  };
  // The sockets whose readability the window must report, with the events
  // they stand for.
  std::vector<Watch> Watches() const;
  // Called whenever Watches changes, so that a program can rebuild its
  // socket notifiers.
  void SetWatchesChanged(std::function<void(NetMgr*)> Listener) { WatchesChanged = std::move(Listener); }
  // The event a readable socket stands for: EventAccept on the listening
  // socket, EventRead when data waits, EventClose (once) when the peer
  // closed or reset the connection; 0 when nothing is there after all or the
  // socket is not one of this manager's.
  uint32_t ClassifyReadable(int32_t Socket);
  // Classifies a readable socket and hands its event to ProcessMsg; the
  // event delivered (0 for none).
  uint32_t DeliverReadable(int32_t Socket);
  // Waits up to TimeoutMs for any watched socket to become readable and
  // delivers the events of all that are; how many were delivered.
  int32_t PumpEvents(int32_t TimeoutMs);

 protected:
  // Receives Length bytes into Data. Without Wait, gives false at once when
  // nothing has arrived; once a byte has arrived (or with Wait) it waits up
  // to the timeout for the rest. A closed connection or an error gives false.
  bool RecvDataX(uint32_t Socket, long Length, unsigned char* Data, bool Wait);

 private:
  bool Owns(int32_t Socket) const;
  void DropPeer(int32_t Socket);
  void CloseOwned(int32_t Socket);
  void NotifyWatches();
  bool RunCallback(int Index, uint32_t Socket);

  char Name[NameBytes] = {};
  NetCallback Callbacks[CallbackCount] = {};
  long ClientId = 0;
  bool IsClientFlag = false, Connected = false, Server = false;
  cvWindow* Window = nullptr;
  int32_t ListenSocket = -1;
  int32_t ServerSocket = -1;
  int32_t Sockets[MaxSockets];
  int32_t NumSockets = 0;

  uint16_t Port = 0;
  int32_t TimeoutMs = DefaultTimeoutMs;
  std::vector<int32_t> CloseDelivered;  // owned sockets whose close was delivered
  std::function<void(NetMgr*)> WatchesChanged;
};
