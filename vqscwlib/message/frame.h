// The frame that carries one message in one UDP datagram, and the acknowledgement frame.
//
// Message frame: type (1), mode (1), protocol version (1), frame mark (1), sequence (4, BE),
// header words H1 (2), H2 (2), H3 (4), then the body. Acknowledgement: 8 bytes, the verdict at
// offset 1, the frame mark at 3 and the acknowledged sequence at 4.
#ifndef VQSCWLIB_MESSAGE_FRAME_H_
#define VQSCWLIB_MESSAGE_FRAME_H_

#include <cstdint>

constexpr uint8_t FRAME_MESSAGE = 3;
constexpr uint8_t PROTOCOL_VERSION = 2;
constexpr uint8_t FRAME_MARK = 7;

// Frame modes (byte 1 of a message frame).
constexpr uint8_t KIND_DATAGRAM = 0x00;
constexpr uint8_t KIND_MESSAGE = 0x4D;   // "M": acknowledge me
constexpr uint8_t KIND_REQUEST = 0x52;   // "R"
constexpr uint8_t KIND_RESPONSE = 0x54;  // "T"

// Acknowledgement verdicts (byte 1 of an acknowledgement frame).
constexpr uint8_t KIND_ACK = 0x41;  // "A"
constexpr uint8_t KIND_NAK = 0x4E;  // "N"

constexpr int kFrameHeaderSize = 16;
constexpr int kAckFrameSize = 8;

// Byte offsets in the frame header.
constexpr int kFrameTypeOffset = 0;
constexpr int kFrameModeOffset = 1;
constexpr int kFrameVersionOffset = 2;
constexpr int kFrameMarkOffset = 3;
constexpr int kFrameSequenceOffset = 4;
constexpr int kFrameH1Offset = 8;
constexpr int kFrameH2Offset = 10;
constexpr int kFrameH3Offset = 12;

#endif  // VQSCWLIB_MESSAGE_FRAME_H_
