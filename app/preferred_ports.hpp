#pragma once
// The MIDI port names an instance prefers: the device's usual names, carrying the instance
// number from instance 2 on, so that several instances can serve several devices.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tq5::app {

// "USB オーディオ デバイス" in the Shift-JIS code page (the name Japanese Windows gives a
// class-compliant USB MIDI device), as the bytes a port list shows.
inline constexpr const char* kUsbAudioDeviceJapanese =
    "USB \x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49 \x83\x66\x83\x6F\x83\x43\x83\x58";
inline constexpr const char* kUsbAudioDevice = "USB Audio Device";
inline constexpr const char* kVarnTqSeries = "VARN TQ Series";

// The three names in their order: "%s" for instance 1, "%s (%d)" for every other instance.
std::array<std::string, 3> PreferredPortNames(int instanceNumber);

// The entry a port list selects: the last one whose text equals a preferred name exactly
// (case included); -1 when none does.
std::int32_t FindPreferredPort(const std::vector<std::string>& entries, int instanceNumber);

}  // namespace tq5::app
