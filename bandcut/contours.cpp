#include "contours.hpp"

#include "selection.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

namespace bandcut {

namespace {

constexpr double two_pi = 2 * 3.14159265358979323846;

point2 operator+(point2 a, point2 b) { return {a[0] + b[0], a[1] + b[1]}; }
point2 operator-(point2 a, point2 b) { return {a[0] - b[0], a[1] - b[1]}; }
point2 operator*(double t, point2 a) { return {t * a[0], t * a[1]}; }
double dot(point2 a, point2 b) { return a[0] * b[0] + a[1] * b[1]; }
double cross(point2 a, point2 b) { return a[0] * b[1] - a[1] * b[0]; }
double length(point2 a) { return std::hypot(a[0], a[1]); }

// The half of `polygon` where x . g <= |g|^2 / 2 (within `tolerance`): the side of the
// bisector between the centre and lattice point g that holds the centre.
std::vector<point2> keep_nearer(const std::vector<point2>& polygon, point2 g, double tolerance) {
    const double limit = dot(g, g) / 2;
    std::vector<point2> out;
    for (std::size_t k = 0; k < polygon.size(); ++k) {
        const point2 p = polygon[k], q = polygon[(k + 1) % polygon.size()];
        const double dp = dot(p, g) - limit, dq = dot(q, g) - limit;
        if (dp <= tolerance) out.push_back(p);
        if ((dp < -tolerance && dq > tolerance) || (dp > tolerance && dq < -tolerance))
            out.push_back(p + (dp / (dp - dq)) * (q - p));
    }
    return out;
}

// Lagrange's reduction: the basis of the same lattice with the two shortest independent
// vectors, whose Wigner-Seitz neighbours are +-r1, +-r2 and +-(r1 +- r2).
std::pair<point2, point2> reduced(point2 r1, point2 r2) {
    if (dot(r1, r1) > dot(r2, r2)) std::swap(r1, r2);
    for (int step = 0; step < 64; ++step) {
        r2 = r2 - std::round(dot(r1, r2) / dot(r1, r1)) * r1;
        if (dot(r2, r2) >= dot(r1, r1)) break;
        std::swap(r1, r2);
    }
    return {r1, r2};
}

}  // namespace

plane_lattice plane_of(const std::array<dvec3, 3>& b) {
    const double n1 = std::sqrt(b[0][0] * b[0][0] + b[0][1] * b[0][1] + b[0][2] * b[0][2]);
    const double along = (b[1][0] * b[0][0] + b[1][1] * b[0][1] + b[1][2] * b[0][2]) / n1;
    double across = 0;
    for (std::size_t c = 0; c < 3; ++c) {
        const double d = b[1][c] - along * b[0][c] / n1;
        across += d * d;
    }
    return {{two_pi * n1, 0}, {two_pi * along, two_pi * std::sqrt(across)}};
}

std::vector<point2> wigner_seitz(const plane_lattice& lattice) {
    const auto [r1, r2] = reduced(lattice.b1, lattice.b2);
    const double size = length(r1) + length(r2), tolerance = 1e-12 * size * size;
    std::vector<point2> cell{{-size, -size}, {size, -size}, {size, size}, {-size, size}};  // counter-clockwise
    for (int m = -1; m <= 1; ++m)
        for (int n = -1; n <= 1; ++n)
            if (m != 0 || n != 0) cell = keep_nearer(cell, m * r1 + n * r2, tolerance);
    // A bisector through a corner leaves it twice, or on a straight side: one corner each.
    std::vector<point2> out;
    for (std::size_t k = 0; k < cell.size(); ++k) {
        const point2 prev = out.empty() ? cell.back() : out.back(), p = cell[k], next = cell[(k + 1) % cell.size()];
        if (std::fabs(cross(p - prev, next - p)) > 1e-9 * size * size) out.push_back(p);
    }
    const auto angle = [](point2 p) { const double a = std::atan2(p[1], p[0]); return a < 0 ? a + two_pi : a; };
    std::rotate(out.begin(), std::min_element(out.begin(), out.end(), [&](point2 a, point2 b) { return angle(a) < angle(b); }),
                out.end());
    return out;
}

bool main_diagonal(const plane_lattice& lattice, std::int32_t n1, std::int32_t n2) {
    const point2 step1 = (1.0 / n1) * lattice.b1, step2 = (1.0 / n2) * lattice.b2;
    const double up = length(step1 + step2), down = length(step2 - step1);
    return up <= down + 1e-9 * std::max(up, down);
}

namespace {

using lattice_step = std::array<std::int64_t, 2>;  // m B1 + n B2

// One triangle's piece of contour: its two ends, each the crossing on an edge of the
// periodic grid (named by its base point, wrapped onto the grid, and its direction), and
// the lattice step from where that edge's crossing is computed to the triangle's own cell.
struct segment {
    std::array<std::uint64_t, 2> edge;
    std::array<lattice_step, 2> step;
};

// The contour on the torus: segments per triangle, then joined into loops, each either
// contractible (a pocket) or winding once around the torus along a lattice vector (a line
// that crosses the zone).
class torus {
public:
    torus(const plane_grid& g, const plane_lattice& l) : g_(g), l_(l), main_(main_diagonal(l, g.n1, g.n2)) {
        f_.resize(static_cast<std::size_t>(g.n1) * static_cast<std::size_t>(g.n2));
        for (std::int32_t i = 0; i < g.n1; ++i)
            for (std::int32_t j = 0; j < g.n2; ++j) f_[index(i, j)] = g.value(i, j);
        for (std::int64_t i = 0; i < g.n1; ++i)
            for (std::int64_t j = 0; j < g.n2; ++j) {
                const corner a{i, j}, b{i + 1, j}, c{i, j + 1}, d{i + 1, j + 1};
                if (main_) {
                    triangle(a, b, d);
                    triangle(a, d, c);
                } else {
                    triangle(a, b, c);
                    triangle(b, d, c);
                }
            }
    }

    struct loop {
        std::vector<point2> points;  // the last is the first moved by `period`
        lattice_step period{};       // 0: a pocket
    };
    std::vector<loop> loops() const;

private:
    struct corner {
        std::int64_t i, j;
    };

    std::size_t index(std::int64_t i, std::int64_t j) const {
        return static_cast<std::size_t>((((i % g_.n1) + g_.n1) % g_.n1) * g_.n2 + (((j % g_.n2) + g_.n2) % g_.n2));
    }
    double f(corner c) const { return f_[index(c.i, c.j)]; }
    point2 at(corner c) const {
        return ((static_cast<double>(c.i) + g_.shift[0]) / g_.n1) * l_.b1 + ((static_cast<double>(c.j) + g_.shift[1]) / g_.n2) * l_.b2;
    }
    point2 lattice(lattice_step s) const { return static_cast<double>(s[0]) * l_.b1 + static_cast<double>(s[1]) * l_.b2; }

    // The edge p-q: 0 along b1, 1 along b2, 2 the cells' diagonal, based at the cell it
    // starts from; its key names the base wrapped onto the grid.
    std::pair<std::uint64_t, lattice_step> edge(corner p, corner q) const {
        const int type = p.j == q.j ? 0 : p.i == q.i ? 1 : 2;
        const corner base{std::min(p.i, q.i), std::min(p.j, q.j)};
        const std::int64_t wi = ((base.i % g_.n1) + g_.n1) % g_.n1, wj = ((base.j % g_.n2) + g_.n2) % g_.n2;
        return {static_cast<std::uint64_t>((wi * g_.n2 + wj) * 3 + type), {(base.i - wi) / g_.n1, (base.j - wj) / g_.n2}};
    }
    // Where the contour crosses an edge, computed from the edge's key alone, so that every
    // triangle sharing the edge has it at the same bits.
    point2 crossing(std::uint64_t key) const {
        const auto type = static_cast<int>(key % 3);
        const auto base = static_cast<std::int64_t>(key / 3);
        const std::int64_t i = base / g_.n2, j = base % g_.n2;
        const corner p = type == 2 && !main_ ? corner{i + 1, j} : corner{i, j};
        const corner q = type == 0 ? corner{i + 1, j} : type == 1 ? corner{i, j + 1} : main_ ? corner{i + 1, j + 1} : corner{i, j + 1};
        const double fp = f(p), fq = f(q);
        return at(p) + (fp / (fp - fq)) * (at(q) - at(p));
    }

    void triangle(corner a, corner b, corner c) {
        const double fa = f(a), fb = f(b), fc = f(c);
        if (!std::isfinite(fa) || !std::isfinite(fb) || !std::isfinite(fc)) return;
        const bool la = fa < 0, lb = fb < 0, lc = fc < 0;
        if (la == lb && lb == lc) return;
        // The corner alone on its side of Ef, and the other two.
        const corner lone = la == lb ? c : la == lc ? b : a;
        const corner p = la == lb ? a : la == lc ? a : b, q = la == lb ? b : c;
        const auto [e0, s0] = edge(lone, p);
        const auto [e1, s1] = edge(lone, q);
        segments_.push_back({{e0, e1}, {s0, s1}});
    }

    const plane_grid& g_;
    const plane_lattice& l_;
    bool main_;
    std::vector<double> f_;
    std::vector<segment> segments_;
};

lattice_step operator+(lattice_step a, lattice_step b) { return {a[0] + b[0], a[1] + b[1]}; }
lattice_step operator-(lattice_step a, lattice_step b) { return {a[0] - b[0], a[1] - b[1]}; }

// Walks each loop once: every crossed edge is shared by exactly two triangles of the
// torus, so every segment has one neighbour at each end.  The frame moves by the lattice
// steps of the edges it crosses, which the loop's period adds up.
std::vector<torus::loop> torus::loops() const {
    std::unordered_map<std::uint64_t, std::array<int, 2>> at_edge;
    for (int k = 0; k < static_cast<int>(segments_.size()); ++k)
        for (const auto e : segments_[static_cast<std::size_t>(k)].edge) {
            auto [it, fresh] = at_edge.try_emplace(e, std::array<int, 2>{k, -1});
            if (!fresh) it->second[1] = k;
        }
    std::vector<char> used(segments_.size(), 0);
    std::vector<loop> out;
    for (int first = 0; first < static_cast<int>(segments_.size()); ++first) {
        if (used[static_cast<std::size_t>(first)]) continue;
        loop l;
        int k = first;
        std::size_t from = 0;
        lattice_step frame{};  // the current triangle's cell, in the loop's frame
        l.points.push_back(crossing(segments_[static_cast<std::size_t>(k)].edge[0]) + lattice(segments_[static_cast<std::size_t>(k)].step[0]));
        for (;;) {
            used[static_cast<std::size_t>(k)] = 1;
            const segment& s = segments_[static_cast<std::size_t>(k)];
            const std::size_t to = 1 - from;
            const lattice_step here = frame + s.step[to];
            l.points.push_back(crossing(s.edge[to]) + lattice(here));
            const auto& pair = at_edge.at(s.edge[to]);
            const int n = pair[0] == k ? pair[1] : pair[0];
            if (n < 0) break;  // not reached on a torus; a fault, not a loop
            const segment& ns = segments_[static_cast<std::size_t>(n)];
            from = ns.edge[0] == s.edge[to] ? 0 : 1;
            frame = here - ns.step[from];
            if (n == first && from == 0) {
                l.period = frame;
                out.push_back(std::move(l));
                break;
            }
            if (used[static_cast<std::size_t>(n)]) break;
            k = n;
        }
    }
    return out;
}

// The part of p0..p1 inside the convex counter-clockwise `zone` as parameters [enter, exit]
// of p0 + t (p1 - p0); enter > exit when none is.
std::pair<double, double> clip(const std::vector<point2>& zone, point2 p0, point2 p1, double scale) {
    double enter = 0, exit = 1;
    const point2 d = p1 - p0;
    for (std::size_t k = 0; k < zone.size(); ++k) {
        const point2 e = zone[(k + 1) % zone.size()] - zone[k];
        const double at = cross(e, p0 - zone[k]) + 1e-10 * length(e) * scale, rate = cross(e, d);  // inside: at + t rate >= 0
        if (rate == 0) {
            if (at < 0) return {1, 0};
        } else if (rate > 0) {
            enter = std::max(enter, -at / rate);
        } else {
            exit = std::min(exit, -at / rate);
        }
    }
    return {enter, exit};
}

// The pieces of a polyline inside the zone.
void clip_into(const std::vector<point2>& line, const std::vector<point2>& zone, double scale, std::vector<polyline>& out) {
    polyline piece;
    const auto flush = [&] {
        if (piece.points.size() >= 2) out.push_back(std::move(piece));
        piece = {};
    };
    for (std::size_t k = 0; k + 1 < line.size(); ++k) {
        const point2 p0 = line[k], p1 = line[k + 1];
        const auto [enter, exit] = clip(zone, p0, p1, scale);
        if (enter > exit || (enter == exit && p0 != p1)) {
            flush();
            continue;
        }
        const point2 a = enter > 0 ? p0 + enter * (p1 - p0) : p0, b = exit < 1 ? p0 + exit * (p1 - p0) : p1;
        if (enter > 0) flush();
        if (piece.points.empty() || piece.points.back() != a) piece.points.push_back(a);
        if (piece.points.back() != b) piece.points.push_back(b);
        if (exit < 1) flush();
    }
    flush();
}

// Consecutive repeats dropped (a contour through a grid point at Ef crosses several edges
// there); a pocket that shrinks to a point draws nothing.
std::vector<point2> distinct(const std::vector<point2>& points) {
    std::vector<point2> out;
    for (const point2 p : points)
        if (out.empty() || out.back() != p) out.push_back(p);
    return out;
}

// A pocket drawn whole once, at the image whose centre (the mean of its points) lies
// nearest the zone centre: inside the zone, so that a pocket at a zone corner shows whole
// at one corner, not in pieces at three.
polyline place_pocket(std::vector<point2> points, const plane_lattice& l) {
    point2 centre{0, 0};
    for (std::size_t k = 0; k + 1 < points.size(); ++k) centre = centre + points[k];
    centre = (1.0 / static_cast<double>(points.size() - 1)) * centre;
    // The nearest image is within two steps of the rounded one in a reduced basis.
    const auto [r1, r2] = reduced(l.b1, l.b2);
    const double det = cross(r1, r2);
    const double m0 = -std::round(cross(centre, r2) / det), n0 = -std::round(cross(r1, centre) / det);
    point2 move{0, 0};
    double nearest = dot(centre, centre);
    for (double m = m0 - 2; m <= m0 + 2; ++m)
        for (double n = n0 - 2; n <= n0 + 2; ++n) {
            const point2 shifted = m * r1 + n * r2, there = centre + shifted;
            if (dot(there, there) < nearest) nearest = dot(there, there), move = shifted;
        }
    for (point2& p : points) p = p + move;
    return {std::move(points), true};
}

// g = gcd(a, b) >= 0 and x, y with a x + b y = g.
std::array<std::int64_t, 3> euclid(std::int64_t a, std::int64_t b) {
    std::int64_t x0 = 1, y0 = 0, x1 = 0, y1 = 1;
    while (b != 0) {
        const std::int64_t q = a / b;
        a = std::exchange(b, a - q * b);
        x0 = std::exchange(x1, x0 - q * x1);
        y0 = std::exchange(y1, y0 - q * y1);
    }
    return a < 0 ? std::array<std::int64_t, 3>{-a, -x0, -y0} : std::array<std::int64_t, 3>{a, x0, y0};
}

// A line crossing the zone: the loop repeated along its period W into a line long enough to
// cross the zone, and each of its images clipped to the zone.  The images are the line
// moved by j V, V a lattice vector completing W's primitive part W0 to a basis of the
// lattice (and by i W0 where W holds W0 more than once); those within the zone's reach.
void clip_line(const torus::loop& loop, const plane_lattice& l, const std::vector<point2>& zone, std::vector<polyline>& out) {
    const auto lat = [&](double m, double n) { return m * l.b1 + n * l.b2; };
    const auto [g, x, y] = euclid(loop.period[0], loop.period[1]);
    const point2 w = lat(static_cast<double>(loop.period[0]), static_cast<double>(loop.period[1]));
    const point2 w0 = (1.0 / static_cast<double>(g)) * w, v = lat(static_cast<double>(-y), static_cast<double>(x));
    const double wlen = length(w), scale = length(l.b1) + length(l.b2);
    const point2 along = (1.0 / wlen) * w;
    double reach = 0, span = 0;  // the zone's radius, the loop's distance from its first point
    for (const point2 p : zone) reach = std::max(reach, length(p));
    for (const point2 p : loop.points) span = std::max(span, length(p - loop.points.front()));
    const double room = reach + span + 1e-9 * scale, step = cross(along, v);  // |step|: the images' spacing
    for (std::int64_t i = 0; i < g; ++i) {
        const point2 first = loop.points.front() + static_cast<double>(i) * w0;
        const double c0 = cross(along, first);
        const auto j_lo = static_cast<std::int64_t>(std::ceil(std::min((-room - c0) / step, (room - c0) / step)));
        const auto j_hi = static_cast<std::int64_t>(std::floor(std::max((-room - c0) / step, (room - c0) / step)));
        for (std::int64_t j = j_lo; j <= j_hi; ++j) {
            const point2 moved = static_cast<double>(i) * w0 + static_cast<double>(j) * v;
            const double a0 = dot(along, first + static_cast<double>(j) * v);
            const auto k_lo = static_cast<std::int64_t>(std::floor((-room - a0) / wlen)) - 1;
            const auto k_hi = static_cast<std::int64_t>(std::ceil((room - a0) / wlen)) + 1;
            std::vector<point2> line;
            for (std::int64_t k = k_lo; k <= k_hi; ++k)
                for (std::size_t p = line.empty() ? 0 : 1; p < loop.points.size(); ++p)
                    line.push_back(loop.points[p] + (moved + static_cast<double>(k) * w));
            clip_into(line, zone, scale, out);
        }
    }
}

}  // namespace

std::vector<polyline> trace_contours(const plane_grid& grid, const plane_lattice& lattice, const std::vector<point2>& zone) {
    if (grid.n1 <= 0 || grid.n2 <= 0 || zone.size() < 3) return {};
    std::vector<polyline> out;
    for (auto& loop : torus(grid, lattice).loops()) {
        loop.points = distinct(loop.points);
        if (loop.period == lattice_step{}) {
            if (loop.points.size() >= 4) out.push_back(place_pocket(std::move(loop.points), lattice));
        } else {
            clip_line(loop, lattice, zone, out);
        }
    }
    return out;
}

finding contours_fault(const cut_state& r, std::int32_t plane) {
    if (!r.ok) return found(cause::no_grid);
    if (r.how == grid_map::route::listing_order) return found(cause::no_plane);
    if (plane < 0 || plane >= r.g.nkz) return found(cause::plane_off_grid, plane, r.g.nkz);
    return {};
}

contour_set contours_of(const cut_state& r, float ef, std::int32_t plane) {
    contour_set c;
    c.ef = ef;
    c.plane = plane;
    c.planes = r.g.nkz;
    c.k3 = (plane + r.shift[2]) / r.g.nkz;
    const plane_lattice lattice = plane_of(r.bands.reciprocal_double);
    c.zone = wigner_seitz(lattice);
    for (const std::int64_t sb : select_bands(r.bands, ef, r.counted)) {
        const int s = static_cast<int>(sb / r.bands.nbands);
        const auto b = static_cast<std::int32_t>(sb % r.bands.nbands);
        const plane_grid g{r.g.nkx, r.g.nky, {r.shift[0], r.shift[1]}, [&](std::int32_t i, std::int32_t j) {
                               const std::int64_t n = (std::int64_t{i} * r.g.nky + j) * r.g.nkz + plane;
                               return static_cast<double>(r.energy(s, b, n)) - static_cast<double>(ef);
                           }};
        c.bands.push_back({s, b, trace_contours(g, lattice, c.zone)});
    }
    return c;
}

}  // namespace bandcut
