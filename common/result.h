#pragma once

#include <QString>
#include <optional>
#include <utility>

// What a fallible operation gives back: its value, or a message that says
// why it failed (the system's reason, ready to show). Result<void> carries
// only the outcome.
template <typename T = void> class Result;

template <typename T> class Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString message)
    {
        Result result;
        result.m_error = std::move(message);
        return result;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *m_value; }
    const T &operator*() const { return *m_value; }
    const T *operator->() const { return &*m_value; }
    T valueOr(T fallback) const { return m_value.value_or(std::move(fallback)); }
    const QString &error() const { return m_error; }

private:
    Result() = default;
    std::optional<T> m_value;
    QString m_error;
};

template <> class Result<void>
{
public:
    static Result success() { return Result(); }
    static Result failure(QString message)
    {
        Result result;
        result.m_failed = true;
        result.m_error = std::move(message);
        return result;
    }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const QString &error() const { return m_error; }

private:
    Result() = default;
    bool m_failed = false;
    QString m_error;
};
