// Scattering-matrix method: the stack's scattering matrix maps the incoming
// amplitudes to the outgoing ones, (B_0, A_L) = S (B_L, A_0), and holds only
// decaying exponentials, so thick evanescent layers stay finite.
#pragma once

#include <span>

#include "complex.hpp"
#include "layer.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

struct ScatteringMatrix {
    // Scattering matrix of the interface from index n_a into index n_b.
    static Matrix2 matrix_interface(double n_a, double n_b, double omega, double beta,
                                    Polarization polarization);
};

// Redheffer star product of the front part a and the part behind it b.
Matrix2 star_product(const Matrix2& a, const Matrix2& b);

// The stack's scattering matrix. Faults for fewer than two layers.
Matrix2 calculate_s_matrix(std::span<const Layer> layers, double omega, double beta,
                           Polarization polarization);

// The scattering characteristic value log10|det S|.
double scattering_characteristic(const Matrix2& s);

}  // namespace tavrik
