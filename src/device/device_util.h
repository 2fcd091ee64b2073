#pragma once

// Helpers shared by the Device command files; not part of the public interface.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace wk {

// (Re)allocates `array` with `count` zero-initialised elements unless it
// already holds exactly that many (`current`). False when allocation failed;
// the array is then empty.
template <typename T> bool allocZeroed(std::unique_ptr<T[]> &array, size_t current, size_t count)
{
    if (array && current == count)
        return true;
    array.reset(new (std::nothrow) T[count ? count : 1]());
    return static_cast<bool>(array);
}

// "xx-xx-..." of `n` bytes.
inline QString hexBytes(const uint8_t *data, int n, char sep = '-')
{
    QString out;
    out.reserve(n * 3);
    for (int i = 0; i < n; ++i) {
        if (i)
            out += QLatin1Char(sep);
        out += QString::asprintf("%02x", data[i]);
    }
    return out;
}

} // namespace wk
