// The debug output channel of a machine root: one datagram per message, from any process to
// the one monitor that is attached, over an abstract socket named after the root.
#pragma once

#include <cstdint>

namespace debug_channel {

struct PacketHeader {
    std::uint32_t magic;  // kPacketMagic
    std::uint32_t processId;
};

constexpr std::uint32_t kPacketMagic = 0x42445651;  // "QVDB"

// Longer texts travel in pieces of this many UTF-16 units, in order.
constexpr std::size_t kMaxPacketChars = 4096;

// A writer waits at most this long for a monitor that does not keep up, then drops the
// message: a stuck monitor must never stall the program that traces.
constexpr int kSendTimeoutMs = 100;

const char* SocketSuffix();

}  // namespace debug_channel
