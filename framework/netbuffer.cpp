// NetBuffer: a message body as a growable byte block. Values are stored
// little-endian without tags: integers and floats as 4 bytes, transforms as
// 15 floats, strings as a count and the bytes. Growth follows fixed steps
// (1000 bytes; a string's own length), always at least enough for the value.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "engine/Support/cvsupport.h"
#include "framework/netmgr.h"

NetBuffer::NetBuffer() {
  Data = new (std::nothrow) uint8_t[InitialBytes];
  Capacity = Data ? InitialBytes : 0;
}

NetBuffer::~NetBuffer() { delete[] Data; }

uint8_t* NetBuffer::Expand(int32_t Bytes) {
  if (Bytes < 0 || (int64_t)Capacity + Bytes > INT32_MAX) return nullptr;
  uint8_t* Grown = new (std::nothrow) uint8_t[(size_t)Capacity + (size_t)Bytes];
  if (!Grown) return nullptr;
  if (Length > 0) std::memcpy(Grown, Data, (size_t)Length);
  delete[] Data;
  Data = Grown;
  Capacity += Bytes;
  return Data;
}

// Grows by Step, or by what is missing for Needed more bytes when that is more.
bool NetBuffer::Grow(int64_t Needed, int32_t Step) {
  const int64_t Missing = (int64_t)Length + Needed - Capacity;
  if (Missing > INT32_MAX || !Expand((int32_t)std::max<int64_t>(Step, Missing))) {
    Failed = true;
    return false;
  }
  return true;
}

void NetBuffer::Put(const void* In, int32_t Bytes) {
  if (Bytes > 0) std::memcpy(Data + Length, In, (size_t)Bytes);
  Length += Bytes;
}

void NetBuffer::Add(int32_t Value) {
  if (Length + 4 >= Capacity && !Grow(4, GrowBytes)) return;
  uint8_t B[4];
  cvLE_Put32(B, (uint32_t)Value);
  Put(B, 4);
}

void NetBuffer::Add(float Value) {
  uint32_t Bits;
  std::memcpy(&Bits, &Value, 4);
  Add((int32_t)Bits);
}

void NetBuffer::Add(const XForm3d& Form) {
  if (Length + XFormBytes > Capacity && !Grow(XFormBytes, GrowBytes)) return;
  const float Values[15] = {Form.AngleX,      Form.AngleY,      Form.AngleZ,      Form.XForm.M[0][0],
                            Form.XForm.M[0][1], Form.XForm.M[0][2], Form.XForm.M[1][0], Form.XForm.M[1][1],
                            Form.XForm.M[1][2], Form.XForm.M[2][0], Form.XForm.M[2][1], Form.XForm.M[2][2],
                            Form.XForm.T.X,   Form.XForm.T.Y,   Form.XForm.T.Z};
  for (float V : Values) {
    uint32_t Bits;
    std::memcpy(&Bits, &V, 4);
    uint8_t B[4];
    cvLE_Put32(B, Bits);
    Put(B, 4);
  }
}

void NetBuffer::AddString(const char* Text, int32_t TextLength) {
  if (TextLength < 0 || (TextLength > 0 && !Text)) {
    Failed = true;
    return;
  }
  const int64_t Needed = 4 + (int64_t)TextLength;
  if (Length + Needed >= Capacity && !Grow(Needed, TextLength)) return;
  uint8_t B[4];
  cvLE_Put32(B, (uint32_t)TextLength);
  Put(B, 4);
  Put(Text, TextLength);
}

bool NetBuffer::Take(void* Out, int32_t Bytes) {
  if (Bytes > Length - ReadPos) {
    Failed = true;
    return false;
  }
  std::memcpy(Out, Data + ReadPos, (size_t)Bytes);
  ReadPos += Bytes;
  return true;
}

int32_t NetBuffer::GetInt() {
  uint8_t B[4];
  return Take(B, 4) ? (int32_t)cvLE_Get32(B) : 0;
}

float NetBuffer::GetFloat() {
  const uint32_t Bits = (uint32_t)GetInt();
  float V;
  std::memcpy(&V, &Bits, 4);
  return V;
}

XForm3d NetBuffer::GetXForm3d() {
  XForm3d Form;
  if (Remaining() < XFormBytes) {
    Failed = true;
    return Form;
  }
  float V[15];
  for (float& F : V) F = GetFloat();
  Form.AngleX = V[0], Form.AngleY = V[1], Form.AngleZ = V[2];
  for (int R = 0; R < 3; ++R)
    for (int C = 0; C < 3; ++C) Form.XForm.M[R][C] = V[3 + 3 * R + C];
  Form.XForm.T = {V[12], V[13], V[14]};
  return Form;
}

char* NetBuffer::GetString() {
  const int32_t Start = ReadPos;
  const int32_t Count = GetInt();
  if (Failed || Count < 0 || Count > Remaining()) {
    ReadPos = Start;
    Failed = true;
    return nullptr;
  }
  char* Text = new (std::nothrow) char[(size_t)Count + 1];
  if (!Text) {
    ReadPos = Start;
    Failed = true;
    return nullptr;
  }
  Take(Text, Count);
  Text[Count] = '\0';
  return Text;
}

void NetBuffer::Clear() {
  Length = 0;
  ReadPos = 0;
  Failed = false;
}

uint8_t* NetBuffer::PrepareReceive(int32_t Bytes) {
  if (Bytes < 0) return nullptr;
  if (Bytes > Capacity && !Expand(Bytes - Capacity)) return nullptr;
  if (!Data && !Expand(1)) return nullptr;
  Length = Bytes;
  ReadPos = 0;
  Failed = false;
  return Data;
}
