#pragma once

// base/: what every floor uses and that knows no domain: the program
// directory and its files, the settings store, number texts, Result<T> and
// SaveFile. Uses Qt only, nothing of the project above it.

#include <QString>

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

// What a fallible call of the core returns: its value, or a sentence that
// names the file or record and the reason it failed. A Result is never
// dropped: callers test it and pass the sentence on, and only the window or
// sedimetra-batch tells the user.
//
//     Result<Epoch> epoch = project.epochByNumber(3);
//     if (!epoch)
//         return epoch.failure();        // passes the sentence up
//     use(*epoch);

struct Failure
{
    QString message;
};

inline Failure fail(const QString &message)
{
    return Failure{message};
}

template <typename T> class [[nodiscard]] Result
{
public:
    Result(const T &value)
        : m_state(value)
    {}
    Result(T &&value)
        : m_state(std::move(value))
    {}
    Result(Failure failure)
        : m_state(std::move(failure))
    {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() & { return std::get<0>(m_state); }
    const T &value() const & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T &&operator*() && { return std::move(*this).value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    // The sentence of a failed call; empty when it succeeded.
    QString error() const { return ok() ? QString() : std::get<1>(m_state).message; }
    Failure failure() const { return Failure{error()}; }

private:
    std::variant<T, Failure> m_state;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure)
        : m_failure(std::move(failure))
    {}

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }
    QString error() const { return m_failure ? m_failure->message : QString(); }
    Failure failure() const { return Failure{error()}; }

private:
    std::optional<Failure> m_failure;
};

// The successful Result<void>.
inline Result<void> success()
{
    return {};
}
