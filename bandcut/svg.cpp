#include "svg.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace bandcut {

namespace {

// The page: a square plot with its axes' labels, the legend to its right.
constexpr double plot_left = 80, plot_top = 50, plot_size = 520, legend_left = 630, page_width = 900,
                 page_height = 640;

// Colours told apart in print and by most colour-blind readers; they repeat after ten.
constexpr std::array<const char*, 10> palette{"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                              "#8c564b", "#e377c2", "#17becf", "#7f7f7f", "#bcbd22"};

// Maps the plane's frame (1/A) onto the page: equal scales, y upwards.
struct page_map {
    double cx = 0, cy = 0, scale = 1;
    point2 operator()(point2 p) const {
        return {plot_left + plot_size / 2 + (p[0] - cx) * scale, plot_top + plot_size / 2 - (p[1] - cy) * scale};
    }
};

// The zone and every contour on the page: a pocket drawn whole about a zone corner reaches
// beyond the zone.
page_map map_for(const contour_set& c) {
    std::array<double, 2> lo{0, 0}, hi{0, 0};
    const auto extend = [&](point2 p) {
        for (std::size_t a = 0; a < 2; ++a) lo[a] = std::min(lo[a], p[a]), hi[a] = std::max(hi[a], p[a]);
    };
    for (const point2 p : c.zone) extend(p);
    for (const auto& b : c.bands)
        for (const auto& line : b.lines)
            for (const point2 p : line.points) extend(p);
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], 1e-300});
    return {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, plot_size / (1.1 * extent)};
}

// A step of 1, 2 or 5 times a power of ten giving four to eight ticks over `range`.
double tick_step(double range) {
    const double raw = range / 8, power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

void axes(std::FILE* out, const page_map& m) {
    std::fprintf(out, "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"#444\"/>\n", plot_left,
                 plot_top, plot_size, plot_size);
    const double half = plot_size / 2 / m.scale, step = tick_step(2 * half);
    for (std::size_t a = 0; a < 2; ++a) {
        const double centre = a == 0 ? m.cx : m.cy;
        for (double t = std::ceil((centre - half) / step) * step; t <= centre + half; t += step) {
            const double v = std::fabs(t) < step * 1e-9 ? 0 : t;
            const point2 p = m(a == 0 ? point2{v, m.cy} : point2{m.cx, v});
            if (a == 0)
                std::fprintf(out, "<path d=\"M%.2f %.2fv-6\" stroke=\"#444\"/><text x=\"%.2f\" y=\"%.2f\" "
                                  "text-anchor=\"middle\">%g</text>\n",
                             p[0], plot_top + plot_size, p[0], plot_top + plot_size + 18, v);
            else
                std::fprintf(out, "<path d=\"M%.2f %.2fh6\" stroke=\"#444\"/><text x=\"%.2f\" y=\"%.2f\" "
                                  "text-anchor=\"end\">%g</text>\n",
                             plot_left, p[1], plot_left - 6, p[1] + 4, v);
        }
    }
    std::fprintf(out, "<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">k along b1 (1/\u00c5)</text>\n",
                 plot_left + plot_size / 2, plot_top + plot_size + 40);
    std::fprintf(out, "<text transform=\"translate(%g %g) rotate(-90)\" text-anchor=\"middle\">k across b1, towards b2 "
                      "(1/\u00c5)</text>\n",
                 plot_left - 50, plot_top + plot_size / 2);
}

void zone(std::FILE* out, const page_map& m, const std::vector<point2>& z) {
    std::fprintf(out, "<polygon fill=\"#f6f6f6\" stroke=\"#000\" stroke-width=\"1.2\" points=\"");
    for (std::size_t k = 0; k < z.size(); ++k) {
        const point2 p = m(z[k]);
        std::fprintf(out, "%s%.2f,%.2f", k ? " " : "", p[0], p[1]);
    }
    const point2 o = m({0, 0});
    std::fprintf(out, "\"/>\n<circle cx=\"%.2f\" cy=\"%.2f\" r=\"3\" fill=\"#000\"/><text x=\"%.2f\" y=\"%.2f\">\u0393</text>\n",
                 o[0], o[1], o[0] + 5, o[1] - 5);
}

std::string legend_text(const band_contours& b) {
    std::string text = "band " + std::to_string(b.band + 1);
    if (b.spin == 1) text += " of spin component 2";
    if (b.lines.empty()) text += " (no contour in this plane)";
    return text;
}

void band(std::FILE* out, const page_map& m, const band_contours& b, std::size_t order) {
    const char* colour = palette[order % palette.size()];
    std::fprintf(out, "<path class=\"contour\" fill=\"none\" stroke=\"%s\" stroke-width=\"1.6\"%s d=\"", colour,
                 b.spin == 1 ? " stroke-dasharray=\"7 4\"" : "");
    for (const polyline& line : b.lines)
        for (std::size_t k = 0; k < line.points.size(); ++k) {
            if (line.closed && k + 1 == line.points.size()) {
                std::fputc('Z', out);
                break;
            }
            const point2 p = m(line.points[k]);
            std::fprintf(out, "%c%.2f %.2f", k ? 'L' : 'M', p[0], p[1]);
        }
    const double y = plot_top + 10 + 22 * static_cast<double>(order);
    std::fprintf(out, "\"/>\n<g class=\"legend\"><path d=\"M%g %.2fh28\" stroke=\"%s\" stroke-width=\"1.6\"%s/><text x=\"%g\" "
                      "y=\"%.2f\">%s</text></g>\n",
                 legend_left, y, colour, b.spin == 1 ? " stroke-dasharray=\"7 4\"" : "", legend_left + 36, y + 4,
                 legend_text(b).c_str());
}

}  // namespace

std::string svg_title(const contour_set& c, const grid& g) {
    char head[160];
    std::snprintf(head, sizeof head, "Fermi contours at Ef = %f eV of the %d x %d x %d mesh: ", static_cast<double>(c.ef), g.nkx,
                  g.nky, g.nkz);
    if (c.planes == 1) return head + std::string("the whole Fermi surface (one k-point along b3)");
    char plane[160];
    if (c.k3 == 0)
        std::snprintf(plane, sizeof plane, "its cut through the zone centre spanned by b1 and b2 (plane %d of %d along b3)",
                      c.plane + 1, c.planes);
    else
        std::snprintf(plane, sizeof plane, "its plane at %g b3, parallel to b1 and b2 (plane %d of %d along b3)", c.k3,
                      c.plane + 1, c.planes);
    return head + std::string(plane);
}

bool write_svg(std::FILE* out, const contour_set& c, const grid& g) {
    const page_map m = map_for(c);
    std::fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" "
                      "height=\"%g\" viewBox=\"0 0 %g %g\" font-family=\"sans-serif\" font-size=\"13\">\n",
                 page_width, page_height, page_width, page_height);
    std::fprintf(out, "<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n<text x=\"%g\" y=\"28\" font-size=\"15\">%s</text>\n",
                 plot_left, svg_title(c, g).c_str());
    axes(out, m);
    zone(out, m, c.zone);
    for (std::size_t k = 0; k < c.bands.size(); ++k) band(out, m, c.bands[k], k);
    std::fputs("</svg>\n", out);
    return !std::ferror(out);
}

}  // namespace bandcut
