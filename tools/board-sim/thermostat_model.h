#pragma once
// The simulated thermostat behind kelvaro-board-sim: a room, a heater on the relay, the
// thermistor stage and two set-point stages, all kept in the board's twenty registers.
//
// Nobody on the team knows the board's firmware, so these rules are our own. They are
// simple on purpose: the display should move, and tests should see real changes.
//
// Time. step(seconds) advances simulated time; nothing here reads a clock. The board
// works in ticks of two seconds. At every tick, in this order: Counter_2sec (word 0 low
// byte) goes up by one, wrapping at 256; a measurement is taken when one is due; both
// stages are updated; the relay and the running times follow.
//
// Room. The room temperature t relaxes toward an outdoor temperature of 5 °C with a time
// constant of 1500 s; while the relay is on, a heater adds 0.04 °C/s. Solved exactly
// between ticks (the relay only changes at a tick), so large steps are as exact as small.
//
// Measurement. Every "measure period" ticks (word 10 low byte; 0 counts as 1) and once
// at start:
//   word 5 = NE555 pulse in microseconds, P(t) = T0 * (R0 + R(t)) / R0 with
//            R(t) = R25 * exp(B * (1/T - 1/298)), T = t + 273, R0 4540 ohm, T0 4850 us,
//            B 4300, R25 10000 ohm (the inverse of the program's thermistor table),
//            rounded half to even and held to 0..65535;
//   word 1 = t in hundredths of a degree Celsius as a 16-bit two's-complement pattern
//            (-6.00 °C is 64936);
//   word 8 = the mean of the last 8 measurements (fewer just after start), same encoding.
//
// Stages. Set-points are read as signed 16-bit hundredths of a degree. A stage has
// demand from the tick its start condition holds until the tick its stop condition holds,
// both judged on the last measured temperature m (word 1):
//   Lower: starts when m < word 11, stops when m > word 11 + word 10 high byte
//          (the hysteresis, hundredths of a degree); times: on word 12, off word 13.
//   Low:   starts when m < word 14 (falling set-point), stops when m > the larger of
//          word 14 and word 17 (rising set-point); times: on word 15, off word 16.
//   A set-point above 46.00 °C disables its stage (for Low, either of its two): it drops
//   any demand and keeps the relay off.
// With demand, a stage first waits the time delay (word 18), then switches the relay on
// for its on time and off for its off time, over and over. An off time of 0 keeps the
// relay on (continuous operation); an on time of 0 counts as one tick. When the demand
// ends the stage goes idle at once. All durations are in ticks.
//
// Outputs. The relay is on when either stage holds it on; word 0 high byte is 1 when on,
// 0 when off. Word 2 low byte is the Lower stage's status, high byte the Low stage's:
// 0 idle (no demand or disabled), 1 on continuously, 2 cycling on and off, 3 waiting out
// the time delay. Word 6 counts the ticks since the relay last switched on while it is
// on, word 7 those since it last switched off while it is off; each keeps its value while
// the other counts, and both stop at 65535. Words 3, 4 and 9 (spares) are left alone.
//
// Parameters (words 10 to 19) are stored exactly as written, word 19 (operation modes)
// included; only the rules above read them.
//
// Restart (the reset frame): Counter_2sec, words 6 and 7, the relay, both stages and the
// status word go to zero, and the tick phase starts afresh. The room, the temperature
// words, the pulse, the averaging history and every parameter are kept, as the board's
// EEPROM and the room itself would survive a controller reset.

#include "core/register_image.h"
#include "core/register_words.h"

#include <QByteArray>
#include <QtGlobal>
#include <array>

namespace kelvaro::boardsim {

using RegisterWords = std::array<quint16, RegisterCount>;

inline constexpr int TickSeconds = 2;
inline constexpr int AverageLength = 8;
// Set-points above this (hundredths of a degree) switch their stage off.
inline constexpr int DisableAbove = 4600;

// The NE555 pulse in microseconds for a thermistor at `celsius`, unrounded.
double thermistorPulse(double celsius);
// The pulse as word 5 carries it: rounded half to even, held to 0..65535.
quint16 pulseWord(double celsius);
// Hundredths of a degree as a 16-bit two's-complement word, rounded half to even and
// held to -327.68..327.67 °C.
quint16 temperatureWord(double celsius);
// The signed value of a 16-bit two's-complement word.
constexpr int signedValue(quint16 w)
{
    return w >= 0x8000 ? int(w) - 0x10000 : int(w);
}

// The defaults at start: the Low stage (20.50 / 21.00 °C) has demand in a room at 19.5 °C,
// so the relay comes on after the 0:10 delay and cycles 1:00 on / 0:30 off.
RegisterWords defaultParameters();

enum class StageStatus : quint8
{
    Idle = 0,
    Continuous = 1,
    Cycling = 2,
    Delay = 3
};

class ThermostatModel
{
public:
    explicit ThermostatModel(double roomCelsius = 19.5);

    // Advances simulated time; negative or zero steps do nothing.
    void step(double seconds);

    quint16 wordAt(int index) const { return m_words.at(std::size_t(index)); }
    const RegisterWords& words() const { return m_words; }
    // The 40-byte register block as the board sends it: each word low byte first.
    QByteArray block() const;

    // A write from the program: only the parameter words 10..19 take it. Returns whether
    // the value was stored.
    bool applyParameter(int index, quint16 value);
    // Any word, for tests and the "set" command. Board values are recomputed at the next
    // tick; setting word 1 moves the room to that temperature and measures it at once, so
    // the value sticks.
    void setWord(int index, quint16 value);
    // The reset frame's restart (see the rules above).
    void restart();

    double roomCelsius() const { return m_room; }
    bool relayOn() const { return m_relay; }

private:
    enum class Phase
    {
        Idle,
        Delay,
        On,
        Off
    };
    struct Stage
    {
        Phase phase = Phase::Idle;
        int remaining = 0; // ticks left in Delay, On or Off
    };
    struct StageRule
    {
        bool enabled = false;
        int start = 0; // demand below this
        int stop = 0;  // demand ends above this
        int onTicks = 0;
        int offTicks = 0;
        int delayTicks = 0;
    };

    void advanceRoom(double seconds);
    void tick();
    void measure();
    StageRule lowerRule() const;
    StageRule lowRule() const;
    static void updateStage(Stage& stage, const StageRule& rule, int measured);
    static bool holdsRelay(const Stage& stage, const StageRule& rule);
    static StageStatus statusOf(const Stage& stage, const StageRule& rule);
    void setByte(int index, bool high, int value);

    RegisterWords m_words{};
    double m_room = 19.5;
    qint64 m_sinceTickUs = 0;
    int m_ticksToMeasure = 0;
    std::array<int, AverageLength> m_history{};
    int m_historyCount = 0;
    int m_historyNext = 0;
    Stage m_lower;
    Stage m_low;
    bool m_relay = false;
};

} // namespace kelvaro::boardsim
