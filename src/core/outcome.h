#pragma once
// The one shape of "a value, or why not": an Outcome<T> holds either a T or a reason
// for the operator; Outcome<void> is plain success or a failure with its reason.

#include <QString>
#include <optional>
#include <utility>

namespace kelvaro {

// Why there is no value. Converts to an Outcome of any type, so one function can say
// `return failure(why);` whatever it returns.
struct Failure
{
    QString reason;
};

inline Failure failure(QString reason)
{
    return Failure{std::move(reason)};
}

template <class T> class Outcome
{
public:
    Outcome(T value) : m_value(std::move(value)) {}
    Outcome(Failure why) : m_reason(std::move(why.reason)) {}

    static Outcome failure(QString reason) { return Outcome(Failure{std::move(reason)}); }

    explicit operator bool() const { return m_value.has_value(); }

    // The value; only when there is one (throws std::bad_optional_access otherwise).
    const T& value() const& { return m_value.value(); }
    T& value() & { return m_value.value(); }
    T&& value() && { return std::move(m_value).value(); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }

    // Why there is no value, for the operator; empty when there is one.
    const QString& reason() const { return m_reason; }

    // Equal to a value only when it holds that value, as std::optional compares.
    friend bool operator==(const Outcome& outcome, const T& value)
    {
        return outcome.m_value == value;
    }

private:
    std::optional<T> m_value;
    QString m_reason;
};

template <> class Outcome<void>
{
public:
    Outcome() = default; // success
    Outcome(Failure why) : m_ok(false), m_reason(std::move(why.reason)) {}

    static Outcome success() { return {}; }
    static Outcome failure(QString reason) { return Outcome(Failure{std::move(reason)}); }

    explicit operator bool() const { return m_ok; }

    // What failed and why, for the operator; empty on success.
    const QString& reason() const { return m_reason; }

private:
    bool m_ok = true;
    QString m_reason;
};

} // namespace kelvaro
