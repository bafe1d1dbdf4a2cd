"""High-precision references for the guided modes, written from the physics
with mpmath: the three-layer slab's closed-form dispersion relation, and for
any stack the field that decays into layer 0 carried through the layers as
(psi, p psi') and tested against the decay into the last layer. Group index
and GVD come from central differences of the roots at 50 digits."""

import mpmath as mp

DIGITS = 50


def _p(n, te):
    return mp.mpf(1) if te else 1 / mp.mpf(n) ** 2


def slab_relation(layers, k0, beta, te, m):
    """k d - atan(p0 kappa0 / (p1 k)) - atan(p2 kappa2 / (p1 k)) - m pi: zero at mode m."""
    (n0, _), (n1, d), (n2, _) = [(mp.mpf(n), mp.mpf(d)) for n, d in layers]
    k = mp.sqrt((n1 * k0) ** 2 - beta**2)
    kappa0 = mp.sqrt(beta**2 - (n0 * k0) ** 2)
    kappa2 = mp.sqrt(beta**2 - (n2 * k0) ** 2)
    p0, p1, p2 = _p(n0, te), _p(n1, te), _p(n2, te)
    return k * d - mp.atan(p0 * kappa0 / (p1 * k)) - mp.atan(p2 * kappa2 / (p1 * k)) - m * mp.pi


def stack_relation(layers, k0, beta, te, m=None):
    """v + p kappa u at the last interface, for the solution psi = exp(kappa0 x) of layer 0."""
    n0 = mp.mpf(layers[0][0])
    u, v = mp.mpf(1), _p(n0, te) * mp.sqrt(beta**2 - (n0 * k0) ** 2)
    for n, d in layers[1:-1]:
        n, d = mp.mpf(n), mp.mpf(d)
        p, q = _p(n, te), (n * k0) ** 2 - beta**2
        if q > 0:
            k = mp.sqrt(q)
            c, s = mp.cos(k * d), mp.sin(k * d)
            u, v = c * u + s / (p * k) * v, -p * k * s * u + c * v
        elif q < 0:
            kappa = mp.sqrt(-q)
            c, s = mp.cosh(kappa * d), mp.sinh(kappa * d)
            u, v = c * u + s / (p * kappa) * v, p * kappa * s * u + c * v
        else:
            u = u + d / p * v
    n_last = mp.mpf(layers[-1][0])
    return v + _p(n_last, te) * mp.sqrt(beta**2 - (n_last * k0) ** 2) * u


def _root(relation, layers, k0, guess, te, m):
    guess = mp.mpf(guess)
    beta = mp.findroot(lambda b: relation(layers, k0, b, te, m), (guess, guess * (1 + mp.mpf("1e-14"))),
                       solver="secant", verify=False)
    assert abs(beta / guess - 1) < mp.mpf("1e-9"), "the reference root wandered off to another mode"
    return beta


def mode_derivatives(layers, omega, beta, te, m):
    """(beta, d beta/d k0, d^2 beta/d k0^2) of the mode through (omega, beta), at
    DIGITS digits; `beta` only seeds the root. Three-layer stacks use the
    closed-form relation of mode m, others the transfer of (psi, p psi')."""
    with mp.workdps(DIGITS):
        relation = slab_relation if len(layers) == 3 else stack_relation
        k0 = mp.mpf(omega)
        h = k0 * mp.mpf("1e-15")
        b0 = _root(relation, layers, k0, beta, te, m)
        slope = b0 / k0
        plus = _root(relation, layers, k0 + h, b0 + slope * h, te, m)
        minus = _root(relation, layers, k0 - h, b0 - slope * h, te, m)
        return b0, (plus - minus) / (2 * h), (plus - 2 * b0 + minus) / h**2
