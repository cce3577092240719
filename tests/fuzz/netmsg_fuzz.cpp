// Fuzz target: the network message reader. The input is what a peer sends:
// it goes into one end of a connected socket pair, which is then closed, and
// NetMgr::RecvData takes messages from the other end until it refuses; each
// message is read back with NetBuffer's getters, chosen by the message's own
// bytes, until a read fails or nothing is left. Seeds are well-formed streams
// of every value kind, an empty message, and broken lengths and counts.
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz.h"
#include "framework/netmgr.h"

namespace {

// Reads values from B in an order taken from its bytes.
void ReadAll(NetBuffer& B) {
  const uint8_t* Data = B.GetData();
  for (int32_t Step = 0; !B.HasFailed() && B.Remaining() > 0; ++Step) {
    switch (Data[Step % B.GetLength()] % 4) {
      case 0: (void)B.GetInt(); break;
      case 1: (void)B.GetFloat(); break;
      case 2: (void)B.GetXForm3d(); break;
      default: {
        std::unique_ptr<char[]> Text(B.GetString());
        if (!Text) return;
        break;
      }
    }
  }
}

std::vector<uint8_t> Stream(const std::vector<NetBuffer*>& Messages) {
  std::vector<uint8_t> Out;
  for (const NetBuffer* M : Messages) {
    const int32_t N = M->GetLength();
    for (int I = 0; I < 4; ++I) Out.push_back((uint8_t)((uint32_t)N >> (8 * I)));
    Out.insert(Out.end(), M->GetData(), M->GetData() + N);
  }
  return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // What fits in the socket pair's buffers without a reader.
  if (Size > 64 * 1024) return 0;
  int Pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Pair) != 0) return 0;
  const int Buffer = 256 * 1024;
  setsockopt(Pair[0], SOL_SOCKET, SO_SNDBUF, &Buffer, sizeof Buffer);
  setsockopt(Pair[1], SOL_SOCKET, SO_RCVBUF, &Buffer, sizeof Buffer);
  if (Size > 0 && send(Pair[0], Data, Size, MSG_NOSIGNAL) != (ssize_t)Size) {
    close(Pair[0]), close(Pair[1]);
    return 0;
  }
  close(Pair[0]);
  NetMgr Manager(nullptr);
  Manager.SetTimeout(0);
  NetBuffer Message;
  while (Manager.RecvData((uint32_t)Pair[1], &Message)) ReadAll(Message);
  close(Pair[1]);
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  NetBuffer Values, Empty, Strings, Bad;
  Values.Add(7);
  Values.Add(-1.5f);
  XForm3d F;
  F.AngleX = 0.25f, F.XForm.T = {1, 2, 3};
  Values.Add(F);
  Values.AddString("name", 4);
  Strings.AddString("", 0);
  Strings.AddString("a longer string", 15);
  Bad.Add(1000);  // a string count far beyond the message
  Bad.Add(0x41414141);
  cvfuzz::WriteSeed(Dir, "values", Stream({&Values}));
  cvfuzz::WriteSeed(Dir, "three_messages", Stream({&Values, &Empty, &Strings}));
  cvfuzz::WriteSeed(Dir, "string_count_too_long", Stream({&Bad}));
  std::vector<uint8_t> Cut = Stream({&Values});
  Cut.resize(Cut.size() / 2);
  cvfuzz::WriteSeed(Dir, "cut_short", Cut);
  cvfuzz::WriteSeed(Dir, "negative_length", {0xFB, 0xFF, 0xFF, 0xFF, 1, 2, 3});
  cvfuzz::WriteSeed(Dir, "huge_length", {0x00, 0x00, 0x00, 0x7F});
  cvfuzz::WriteSeed(Dir, "half_length", {0x05, 0x00});
  return 7;
}
