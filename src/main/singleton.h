#pragma once

// Process-wide singleton accessor: Singleton<T>::instance() returns the one
// instance of T, created on first use (thread-safe static initialisation).
template <typename T> class Singleton
{
public:
    static T &instance()
    {
        static T object;
        return object;
    }

    Singleton(const Singleton &) = delete;
    Singleton &operator=(const Singleton &) = delete;

private:
    Singleton() = default;
};
