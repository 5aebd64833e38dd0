#include "thermostat_model.h"

#include "core/rounding.h"

#include <algorithm>
#include <cmath>

namespace kelvaro::boardsim {

namespace {

// Thermistor stage: the design values of the program's calibration window.
constexpr double R0 = 4540.0;
constexpr double T0 = 4850.0;
constexpr double BValue = 4300.0;
constexpr double R25 = 10000.0;

// Room: heat loss toward the outdoors, heat gain while the relay is on.
constexpr double OutdoorCelsius = 5.0;
constexpr double LossTimeSeconds = 1500.0;
constexpr double HeaterCelsiusPerSecond = 0.04;

constexpr qint64 TickUs = qint64(TickSeconds) * 1000000;
constexpr int WordMax = 0xFFFF;

quint16 encodeHundredths(int hundredths)
{
    const int held = std::clamp(hundredths, -0x8000, 0x7FFF);
    return quint16(held & WordMax);
}

quint16 bumped(quint16 ticks)
{
    return ticks == WordMax ? ticks : quint16(ticks + 1);
}

} // namespace

double thermistorPulse(double celsius)
{
    const double kelvin = celsius + 273.0;
    const double resistance = R25 * std::exp(BValue * (1.0 / kelvin - 1.0 / 298.0));
    return T0 * (R0 + resistance) / R0;
}

quint16 pulseWord(double celsius)
{
    const double pulse = roundHalfEven(thermistorPulse(celsius));
    if (!(pulse >= 0.0)) // NaN below absolute zero
        return WordMax;
    return quint16(std::min(pulse, double(WordMax)));
}

quint16 temperatureWord(double celsius)
{
    const double hundredths = std::clamp(roundHalfEven(celsius * 100.0), -32768.0, 32767.0);
    return encodeHundredths(int(hundredths));
}

RegisterWords defaultParameters()
{
    RegisterWords words{};
    words[reg::PeriodHysteresis] = 50 * 256 + 2; // hysteresis 0.50 °C, measure every 2 ticks
    words[reg::LowerSetpoint] = 1800;            // 18.00 °C
    words[reg::LowerOn] = 30;                    // 1:00
    words[reg::LowerOff] = 15;                   // 0:30
    words[reg::LowFalling] = 2050;               // 20.50 °C
    words[reg::LowOn] = 30;
    words[reg::LowOff] = 15;
    words[reg::LowRising] = 2100; // 21.00 °C
    words[reg::Delay] = 5;        // 0:10
    words[reg::Modes] = 2;
    return words;
}

ThermostatModel::ThermostatModel(double roomCelsius)
    : m_words(defaultParameters()), m_room(roomCelsius)
{
    measure();
    m_ticksToMeasure = std::max(1, lowByte(m_words[reg::PeriodHysteresis]));
}

void ThermostatModel::step(double seconds)
{
    if (!(seconds > 0.0))
        return;
    auto remainingUs = qint64(std::llround(seconds * 1e6));
    while (remainingUs > 0) {
        const qint64 chunk = std::min(remainingUs, TickUs - m_sinceTickUs);
        advanceRoom(double(chunk) / 1e6);
        m_sinceTickUs += chunk;
        remainingUs -= chunk;
        if (m_sinceTickUs >= TickUs) {
            m_sinceTickUs = 0;
            tick();
        }
    }
}

QByteArray ThermostatModel::block() const
{
    QByteArray bytes;
    bytes.reserve(BlockSize);
    for (const quint16 w : m_words) {
        bytes.append(char(lowByte(w)));
        bytes.append(char(highByte(w)));
    }
    return bytes;
}

bool ThermostatModel::applyParameter(int index, quint16 value)
{
    if (index < FirstParameterWord || index >= RegisterCount)
        return false;
    m_words[std::size_t(index)] = value;
    return true;
}

void ThermostatModel::setWord(int index, quint16 value)
{
    if (index < 0 || index >= RegisterCount)
        return;
    m_words[std::size_t(index)] = value;
    if (index == reg::Actual) {
        m_room = signedValue(value) / 100.0;
        measure();
    }
}

void ThermostatModel::restart()
{
    m_words[reg::Status] = 0;
    m_words[reg::StageStatus] = 0;
    m_words[reg::TimeOn] = 0;
    m_words[reg::TimeOff] = 0;
    m_lower = {};
    m_low = {};
    m_relay = false;
    m_sinceTickUs = 0;
}

// Exact solution of dt/ds = (outdoor - t) / loss + heater over a span with the relay fixed.
void ThermostatModel::advanceRoom(double seconds)
{
    const double target =
        OutdoorCelsius + (m_relay ? HeaterCelsiusPerSecond * LossTimeSeconds : 0.0);
    m_room = target + (m_room - target) * std::exp(-seconds / LossTimeSeconds);
}

void ThermostatModel::tick()
{
    setByte(reg::Status, false, (lowByte(m_words[reg::Status]) + 1) & 0xFF);

    if (--m_ticksToMeasure <= 0) {
        measure();
        m_ticksToMeasure = std::max(1, lowByte(m_words[reg::PeriodHysteresis]));
    }

    const int measured = signedValue(m_words[reg::Actual]);
    const StageRule lower = lowerRule();
    const StageRule low = lowRule();
    updateStage(m_lower, lower, measured);
    updateStage(m_low, low, measured);

    const bool wasOn = m_relay;
    m_relay = holdsRelay(m_lower, lower) || holdsRelay(m_low, low);
    if (m_relay)
        m_words[reg::TimeOn] = wasOn ? bumped(m_words[reg::TimeOn]) : 0;
    else
        m_words[reg::TimeOff] = wasOn ? 0 : bumped(m_words[reg::TimeOff]);

    setByte(reg::Status, true, m_relay ? 1 : 0);
    setByte(reg::StageStatus, false, int(statusOf(m_lower, lower)));
    setByte(reg::StageStatus, true, int(statusOf(m_low, low)));
}

void ThermostatModel::measure()
{
    const quint16 actual = temperatureWord(m_room);
    m_words[reg::Actual] = actual;
    m_words[reg::Pulse] = pulseWord(m_room);

    m_history[std::size_t(m_historyNext)] = signedValue(actual);
    m_historyNext = (m_historyNext + 1) % AverageLength;
    m_historyCount = std::min(m_historyCount + 1, AverageLength);
    int sum = 0;
    for (int i = 0; i < m_historyCount; ++i)
        sum += m_history[std::size_t(i)];
    m_words[reg::Average] = encodeHundredths(int(roundHalfEven(double(sum) / m_historyCount)));
}

ThermostatModel::StageRule ThermostatModel::lowerRule() const
{
    StageRule rule;
    rule.start = signedValue(m_words[reg::LowerSetpoint]);
    rule.stop = rule.start + highByte(m_words[reg::PeriodHysteresis]);
    rule.enabled = rule.start <= DisableAbove;
    rule.onTicks = m_words[reg::LowerOn];
    rule.offTicks = m_words[reg::LowerOff];
    rule.delayTicks = m_words[reg::Delay];
    return rule;
}

ThermostatModel::StageRule ThermostatModel::lowRule() const
{
    StageRule rule;
    const int rising = signedValue(m_words[reg::LowRising]);
    rule.start = signedValue(m_words[reg::LowFalling]);
    rule.stop = std::max(rule.start, rising);
    rule.enabled = rule.start <= DisableAbove && rising <= DisableAbove;
    rule.onTicks = m_words[reg::LowOn];
    rule.offTicks = m_words[reg::LowOff];
    rule.delayTicks = m_words[reg::Delay];
    return rule;
}

void ThermostatModel::updateStage(Stage& stage, const StageRule& rule, int measured)
{
    const int onTicks = std::max(1, rule.onTicks);
    if (!rule.enabled) {
        stage = {};
        return;
    }
    if (stage.phase == Phase::Idle) {
        if (measured < rule.start)
            stage = rule.delayTicks > 0 ? Stage{Phase::Delay, rule.delayTicks}
                                        : Stage{Phase::On, onTicks};
        return;
    }
    if (measured > rule.stop) {
        stage = {};
        return;
    }
    switch (stage.phase) {
    case Phase::Delay:
        if (--stage.remaining <= 0)
            stage = {Phase::On, onTicks};
        break;
    case Phase::On:
        if (rule.offTicks > 0 && --stage.remaining <= 0)
            stage = {Phase::Off, rule.offTicks};
        break;
    case Phase::Off:
        if (--stage.remaining <= 0)
            stage = {Phase::On, onTicks};
        break;
    case Phase::Idle:
        break;
    }
}

bool ThermostatModel::holdsRelay(const Stage& stage, const StageRule& rule)
{
    return rule.enabled && stage.phase == Phase::On;
}

StageStatus ThermostatModel::statusOf(const Stage& stage, const StageRule& rule)
{
    switch (stage.phase) {
    case Phase::Idle:
        return StageStatus::Idle;
    case Phase::Delay:
        return StageStatus::Delay;
    case Phase::On:
    case Phase::Off:
        break;
    }
    return rule.offTicks == 0 && stage.phase == Phase::On ? StageStatus::Continuous
                                                          : StageStatus::Cycling;
}

void ThermostatModel::setByte(int index, bool high, int value)
{
    quint16& w = m_words[std::size_t(index)];
    w = high ? quint16(lowByte(w) | (value & 0xFF) << 8) : quint16((w & 0xFF00) | (value & 0xFF));
}

} // namespace kelvaro::boardsim
