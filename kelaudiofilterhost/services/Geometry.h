// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kelcore::geom {

/// An axis-aligned rectangle given by its edges; right and bottom are exclusive.
template <typename T> struct RectT {
    T left{};
    T top{};
    T right{};
    T bottom{};

    RectT() = default;
    RectT(T l, T t, T r, T b) : left(l), top(t), right(r), bottom(b) {}

    T Width() const { return right - left; }
    T Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool operator==(const RectT&) const = default;
};

} // namespace kelcore::geom
