#include "banded_lu.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tavrik {

namespace {

double magnitude(Complex z) { return std::fabs(z.re) + std::fabs(z.im); }

}  // namespace

BandedLU::BandedLU(std::size_t n, std::size_t kl, std::size_t ku)
    : n_(n), kl_(kl), ku_(ku), ld_(2 * kl + ku + 1), store_(ld_ * n), pivot_(n) {}

void BandedLU::factorise() {
    double largest = 0.0;
    for (const Complex& z : store_) largest = std::max(largest, magnitude(z));
    const double floor = std::numeric_limits<double>::epsilon() * (largest > 0.0 ? largest : 1.0);
    for (std::size_t c = 0; c < n_; ++c) {
        const std::size_t last_row = std::min(n_ - 1, c + kl_);
        const std::size_t last_col = std::min(n_ - 1, c + kl_ + ku_);
        std::size_t p = c;
        for (std::size_t i = c + 1; i <= last_row; ++i) {
            if (magnitude(at(i, c)) > magnitude(at(p, c))) p = i;
        }
        pivot_[c] = p;
        if (p != c) {
            for (std::size_t j = c; j <= last_col; ++j) std::swap(entry(c, j), entry(p, j));
        }
        if (!(magnitude(at(c, c)) > 0.0)) entry(c, c) = real(floor);
        const Complex diagonal = at(c, c);
        for (std::size_t i = c + 1; i <= last_row; ++i) {
            const Complex factor = at(i, c) / diagonal;
            entry(i, c) = factor;
            for (std::size_t j = c + 1; j <= last_col; ++j) entry(i, j) = at(i, j) - factor * at(c, j);
        }
    }
}

void BandedLU::solve(std::span<Complex> b) const {
    for (std::size_t c = 0; c < n_; ++c) {
        std::swap(b[c], b[pivot_[c]]);
        const std::size_t last_row = std::min(n_ - 1, c + kl_);
        for (std::size_t i = c + 1; i <= last_row; ++i) b[i] = b[i] - at(i, c) * b[c];
    }
    for (std::size_t c = n_; c-- > 0;) {
        const std::size_t last_col = std::min(n_ - 1, c + kl_ + ku_);
        Complex sum = b[c];
        for (std::size_t j = c + 1; j <= last_col; ++j) sum = sum - at(c, j) * b[j];
        b[c] = sum / at(c, c);
    }
}

}  // namespace tavrik
