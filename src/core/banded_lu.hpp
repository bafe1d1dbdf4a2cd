// LU factorisation with partial pivoting of a complex band matrix, and the
// solves with it.
//
// Storage follows LAPACK's general band format: an n x n matrix with kl
// sub-diagonals and ku super-diagonals keeps column j's entries i in
// [j - ku, j + kl] at row kl + ku + i - j of a (2 kl + ku + 1) x n column-major
// array; the extra kl rows above hold the fill-in that row interchanges bring
// into U, whose bandwidth grows to kl + ku. Elimination is Gaussian with the
// pivot of largest |re| + |im| in each column, which is backward stable for
// band matrices in practice as for dense ones.
//
// A zero pivot (an exactly singular matrix) is replaced by eps times the
// largest entry seen, so that inverse iteration, whose matrices are singular
// up to rounding by design, always gets a finite, huge solution rather than
// inf or NaN.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "complex.hpp"

namespace tavrik {

class BandedLU {
public:
    BandedLU(std::size_t n, std::size_t kl, std::size_t ku);

    // Entry (i, j) of the matrix before factorisation; |i - j| must lie
    // within the band.
    Complex& entry(std::size_t i, std::size_t j) { return store_[index(i, j)]; }

    void factorise();
    // Solves A x = b in place (after factorise()).
    void solve(std::span<Complex> b) const;

    std::size_t size() const { return n_; }

private:
    std::size_t index(std::size_t i, std::size_t j) const { return kl_ + ku_ + i - j + j * ld_; }
    Complex at(std::size_t i, std::size_t j) const { return store_[index(i, j)]; }

    std::size_t n_, kl_, ku_, ld_;
    std::vector<Complex> store_;
    std::vector<std::size_t> pivot_;
};

}  // namespace tavrik
