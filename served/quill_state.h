// Quill's saved state: the parameter values behind a small versioned header.
//
// Layout, little-endian, 24 bytes in version 1:
//   0  uint32  magic "QUIL"
//   4  uint32  version (1)
//   8  float64 gain, normalized 0..1
//  16  float64 tone, normalized 0..1
// A reader accepts versions 1..kStateVersion; a newer version, a wrong magic,
// a short buffer or a value that is not a number is refused as a whole.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Quill {

constexpr std::uint32_t kStateMagic = 0x4C495551u; // "QUIL" read as little-endian uint32
constexpr std::uint32_t kStateVersion = 1;
constexpr std::size_t kStateHeaderSize = 8;
constexpr std::size_t kStateSize = 24;

struct QuillParams
{
	double gain;
	double tone;
};

inline void encodeState (const QuillParams& params, std::uint8_t (&out)[kStateSize])
{
	const std::uint32_t header[2] = {kStateMagic, kStateVersion};
	std::memcpy (out, header, sizeof header);
	std::memcpy (out + 8, &params.gain, 8);
	std::memcpy (out + 16, &params.tone, 8);
}

// Checks the header; returns the payload size the version calls for, or 0
// when the header is not one this reader understands.
inline std::size_t statePayloadSize (const std::uint8_t* header, std::size_t size)
{
	if (size < kStateHeaderSize)
		return 0;
	std::uint32_t magic = 0, version = 0;
	std::memcpy (&magic, header, 4);
	std::memcpy (&version, header + 4, 4);
	if (magic != kStateMagic || version < 1 || version > kStateVersion)
		return 0;
	return kStateSize - kStateHeaderSize;
}

// Decodes a complete state; values outside 0..1 are clamped.
inline bool decodeState (const std::uint8_t* data, std::size_t size, QuillParams& params)
{
	const std::size_t payload = statePayloadSize (data, size);
	if (payload == 0 || size < kStateHeaderSize + payload)
		return false;
	double gain = 0.0, tone = 0.0;
	std::memcpy (&gain, data + 8, 8);
	std::memcpy (&tone, data + 16, 8);
	if (!std::isfinite (gain) || !std::isfinite (tone))
		return false;
	params.gain = gain < 0.0 ? 0.0 : (gain > 1.0 ? 1.0 : gain);
	params.tone = tone < 0.0 ? 0.0 : (tone > 1.0 ? 1.0 : tone);
	return true;
}

} // namespace Quill
