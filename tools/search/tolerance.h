#pragma once
// The mass tolerance of a search, applied in the m/z domain: a hit is kept when its ion's
// theoretical m/z lies within the tolerance of the measured m/z. In ppm that is
// |Δppm| ≤ P with Δppm = (measured − theoretical) / theoretical × 10⁶, in Da it is
// |measured − theoretical| ≤ D. The neutral-mass window of each ion is derived from this
// m/z interval (mass_search.h).
#include <cmath>

namespace tvsearch {

struct Tolerance {
    bool ppm = true;
    double value = 5; // ppm, or Da (in m/z units) when !ppm

    // The interval of theoretical m/z values that a measured m/z accepts.
    double lowestTheoretical(double measured) const {
        return ppm ? measured / (1 + value * 1e-6) : measured - value;
    }
    double highestTheoretical(double measured) const {
        return ppm ? measured / (1 - value * 1e-6) : measured + value;
    }
    bool accepts(double measured, double theoretical) const {
        if (ppm) return std::fabs((measured - theoretical) / theoretical * 1e6) <= value;
        return std::fabs(measured - theoretical) <= value;
    }
    // Half-width around a m/z value (for isotope peaks of a cluster).
    double halfWidth(double mz) const { return ppm ? mz * value * 1e-6 : value; }
};

inline double deltaPpm(double measured, double theoretical) {
    return (measured - theoretical) / theoretical * 1e6;
}

} // namespace tvsearch
