#pragma once
// Series in a record keep at most a given number of points: buckets of consecutive points,
// each kept as its lowest and its highest point in time order, so that no spike or dip
// disappears.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace kestrix::results {

// `low(p)` and `high(p)` give the values a bucket's lowest and highest point are chosen by (the
// same value for a plain series; a sample's minimum and maximum for a spread).
template <class Point, class Low, class High>
std::vector<Point> downsample_min_max(const std::vector<Point>& points, std::size_t max_points,
                                      Low low, High high) {
    if (points.size() <= max_points || max_points < 2) {
        return points;
    }
    const std::size_t buckets = max_points / 2;
    const std::size_t n = points.size();
    std::vector<Point> out;
    out.reserve(2 * buckets);
    for (std::size_t b = 0; b < buckets; ++b) {
        const std::size_t lo = b * n / buckets, hi = (b + 1) * n / buckets;
        std::size_t mn = lo, mx = lo;
        for (std::size_t i = lo + 1; i < hi; ++i) {
            if (low(points[i]) < low(points[mn])) {
                mn = i;
            }
            if (high(points[i]) > high(points[mx])) {
                mx = i;
            }
        }
        out.push_back(points[std::min(mn, mx)]);
        if (mn != mx) {
            out.push_back(points[std::max(mn, mx)]);
        }
    }
    return out;
}

} // namespace kestrix::results
