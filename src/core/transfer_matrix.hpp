// Transfer-matrix method.
//
// Inside layer j, at distance xi from the layer's reference plane (xi grows
// toward layer N-1), the field is A_j exp(+i kx_j xi) + B_j exp(-i kx_j xi).
// The reference plane of layer 0 is its interface with layer 1; that of every
// other layer is its start (its interface with layer j-1). In an evanescent
// layer (kx = +i kappa) the A wave decays toward layer N-1 and the B wave decays
// toward layer 0. A guided mode has A_0 = 0 and B_(N-1) = 0, that is T22 = 0.
#pragma once

#include <span>
#include <vector>

#include "complex.hpp"
#include "layer.hpp"

namespace tavrik {

// 2x2 complex matrix (row, column), held by value.
struct Matrix2 {
    Complex m11, m12, m21, m22;
};

// The amplitudes (A, B) of the two partial waves of one layer.
struct CoefficientPair {
    Complex a, b;
};

// Principal square root of (n*omega + 0i)^2 - (beta + 0i)^2: real and positive
// in an oscillating layer, +i*sqrt(beta^2 - n^2 omega^2) in an evanescent one.
Complex kx(double n, double omega, double beta);

struct TransferMatrix {
    // Propagation across a layer of index n and thickness d: diag(exp(i k d), exp(-i k d)).
    static Matrix2 matrix_propagation(double n, double d, double omega, double beta);
    // Passage from a layer of index n_a into the next layer of index n_b.
    static Matrix2 matrix_interface(double n_a, double n_b, double omega, double beta,
                                    Polarization polarization);
};

// The stack's transfer matrix: maps (A_0, B_0) at the interface 0|1 to
// (A_(N-1), B_(N-1)) at the interface N-2|N-1. Faults for fewer than two layers.
Matrix2 calculate_t_matrix(std::span<const Layer> layers, double omega, double beta,
                           Polarization polarization);

// The transfer characteristic value log10|1/T22|, computed without scaling.
double transfer_characteristic(const Matrix2& t);

// The amplitudes of every layer for the amplitudes (a0, b0) of layer 0; entry j
// at layer j's reference plane. Faults for fewer than two layers.
std::vector<CoefficientPair> get_propagation_coefficients_transfer(std::span<const Layer> layers,
                                                                   double omega, double beta,
                                                                   Polarization polarization,
                                                                   Complex a0, Complex b0);

}  // namespace tavrik
