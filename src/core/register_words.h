#pragma once
// What each of the board's twenty register words holds: the one table of word indices
// that the display, parameter entry, logging, the recorder and the simulated board use.

namespace kelvaro::reg {

// Measurements (words 0..9).
inline constexpr int Status = 0;      // low byte: Counter_2sec, high byte: relay (1 = on)
inline constexpr int Actual = 1;      // actual temperature, hundredths of a degree C, signed
inline constexpr int StageStatus = 2; // low byte: Lower stage (automatic), high: Low (manual)
inline constexpr int Pulse = 5;       // NE555 pulse duration in microseconds
inline constexpr int TimeOn = 6;      // board ticks since the relay switched on
inline constexpr int TimeOff = 7;     // board ticks since the relay switched off
inline constexpr int Average = 8;     // average temperature, hundredths of a degree C, signed

// Parameters (words 10..19).
inline constexpr int PeriodHysteresis = 10; // low byte: measure period, high: hysteresis
inline constexpr int LowerSetpoint = 11;
inline constexpr int LowerOn = 12;
inline constexpr int LowerOff = 13;
inline constexpr int LowFalling = 14;
inline constexpr int LowOn = 15;
inline constexpr int LowOff = 16;
inline constexpr int LowRising = 17;
inline constexpr int Delay = 18;
inline constexpr int Modes = 19; // low byte: operation modes

} // namespace kelvaro::reg
