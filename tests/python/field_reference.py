"""A guided mode's transverse field at 40 digits, written from physics.

psi is E_y (TE) or H_y (TM) and solves (p psi')' + (k0^2 n^2 - beta^2) p psi = 0 with
p = 1 (TE) or 1/n^2 (TM); psi and p psi' are continuous. The root beta of the
transfer mismatch is refined at high precision, then (psi, p psi') is carried
from the solution decaying into layer 0, so nothing here shares the module's
representation (partial waves, band matrices) or its closed-form integrals.
"""

import mpmath

from test_modes import p_of, transfer_mismatch

mp = mpmath.mp


def mode_root(layers, omega, polarization, neff):
    f = lambda beta: transfer_mismatch(layers, omega, polarization, beta)  # noqa: E731
    return mpmath.findroot(f, mpmath.mpf(neff) * omega, solver="secant", tol=mpmath.mpf(10) ** -70)


def layer_functions(layers, omega, polarization, beta):
    """psi in each layer as a function of the distance from the layer's start
    (layer 0: of x <= 0), with psi(0) = 1 at the interface 0|1."""
    k0 = mpmath.mpf(omega)
    kappa0 = mpmath.sqrt(beta**2 - (mpmath.mpf(layers[0][0]) * k0) ** 2)
    funcs = [lambda x, k=kappa0: mpmath.exp(k * x)]
    u, v = mpmath.mpf(1), p_of(layers[0][0], polarization) * kappa0
    for n, d in layers[1:-1]:
        p, d = p_of(n, polarization), mpmath.mpf(d)
        q = (mpmath.mpf(n) * k0) ** 2 - beta**2
        k = mpmath.sqrt(abs(q))
        if q > 0:
            funcs.append(lambda x, u=u, v=v, k=k, p=p: u * mpmath.cos(k * x) + v / (p * k) * mpmath.sin(k * x))
            u, v = funcs[-1](d), -p * k * u * mpmath.sin(k * d) + v * mpmath.cos(k * d)
        else:
            funcs.append(lambda x, u=u, v=v, k=k, p=p: u * mpmath.cosh(k * x) + v / (p * k) * mpmath.sinh(k * x))
            u, v = funcs[-1](d), p * k * u * mpmath.sinh(k * d) + v * mpmath.cosh(k * d)
    kappa = mpmath.sqrt(beta**2 - (mpmath.mpf(layers[-1][0]) * k0) ** 2)
    funcs.append(lambda x, u=u, k=kappa: u * mpmath.exp(-k * x))
    return funcs


def layer_power(layers, polarization, funcs, j):
    """Power in layer j up to a common factor: the quadrature of psi^2 p (TE: E_y^2,
    TM: H_y^2 / n^2), the half-spaces out to infinity."""
    p = p_of(layers[j][0], polarization)
    if j == 0:
        span = [-mpmath.inf, 0]
    elif j == len(layers) - 1:
        span = [0, mpmath.inf]
    else:
        span = mpmath.linspace(0, mpmath.mpf(layers[j][1]), 5)
    return p * mpmath.quad(lambda x: funcs[j](x) ** 2, span)


def power_fractions(layers, omega, polarization, neff, dps=40):
    mp.dps = dps
    beta = mode_root(layers, omega, polarization, neff)
    funcs = layer_functions(layers, omega, polarization, beta)
    powers = [layer_power(layers, polarization, funcs, j) for j in range(len(layers))]
    total = sum(powers)
    return [float(q / total) for q in powers]


def sampled(layers, omega, polarization, neff, xs, dps=40):
    """psi at the positions xs (origin at the interface 0|1)."""
    mp.dps = dps
    funcs = layer_functions(layers, omega, polarization, mode_root(layers, omega, polarization, neff))
    starts = [0.0]
    for _, d in layers[1:-1]:
        starts.append(starts[-1] + d)
    out = []
    for x in xs:
        j = 0 if x < 0 else min(sum(1 for s in starts if x >= s), len(layers) - 1)
        out.append(complex(funcs[j](mpmath.mpf(x) - (starts[j - 1] if j > 0 else 0))))
    return out
