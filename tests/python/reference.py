"""High-precision references for the guided modes, written from the physics with
mpmath; nothing here shares the module's representation (Pruefer angles,
partial waves, band matrices) or its closed-form integrals.

psi is E_y (TE) or H_y (TM) and solves (p psi')' + (k0^2 n^2 - beta^2) p psi = 0
with p = 1 (TE) or 1/n^2 (TM); psi and p psi' are continuous. Three-layer slabs
have their closed-form dispersion relation; any stack is handled by carrying
(psi, p psi') of the solution that decays into layer 0 through the layers and
testing it against the decay into the last one. `te` is a bool throughout.
"""

import mpmath

DIGITS = 50


def p_of(n, te):
    return mpmath.mpf(1) if te else 1 / mpmath.mpf(n) ** 2


def slab_relation(layers, k0, beta, te, m):
    """k d - atan(p0 kappa0 / (p1 k)) - atan(p2 kappa2 / (p1 k)) - m pi: zero at
    mode m, decreasing in beta."""
    (n0, _), (n1, d), (n2, _) = [(mpmath.mpf(n), mpmath.mpf(d)) for n, d in layers]
    k = mpmath.sqrt((n1 * k0) ** 2 - beta**2)
    kappa0 = mpmath.sqrt(beta**2 - (n0 * k0) ** 2)
    kappa2 = mpmath.sqrt(beta**2 - (n2 * k0) ** 2)
    p0, p1, p2 = p_of(n0, te), p_of(n1, te), p_of(n2, te)
    return k * d - mpmath.atan(p0 * kappa0 / (p1 * k)) - mpmath.atan(p2 * kappa2 / (p1 * k)) - m * mpmath.pi


def slab_roots(layers, omega, te):
    """Every root of the three-layer relation, mode 0 first."""
    k0 = mpmath.mpf(omega)
    lo = max(mpmath.mpf(layers[0][0]), mpmath.mpf(layers[2][0])) * k0
    hi = mpmath.mpf(layers[1][0]) * k0
    top = hi * (1 - mpmath.mpf(10) ** (10 - mpmath.mp.dps))  # just below hi, where k = 0
    roots = []
    m = 0
    while slab_relation(layers, k0, lo, te, m) > 0:  # -(m+1) pi at hi
        roots.append(mpmath.findroot(lambda b, m=m: slab_relation(layers, k0, b, te, m),
                                     (lo, top), solver="anderson"))
        m += 1
    return roots


def _inner_layers(layers, k0, beta, te):
    """(p, q = (n k0)^2 - beta^2, d) of each inner layer."""
    for n, d in layers[1:-1]:
        yield p_of(n, te), (mpmath.mpf(n) * k0) ** 2 - beta**2, mpmath.mpf(d)


def _carry(p, q, u, v, x):
    """(psi, p psi') at distance x into a layer that starts with (u, v)."""
    if q > 0:
        k = mpmath.sqrt(q)
        c, s = mpmath.cos(k * x), mpmath.sin(k * x)
        return c * u + s / (p * k) * v, -p * k * s * u + c * v
    if q < 0:
        kappa = mpmath.sqrt(-q)
        c, s = mpmath.cosh(kappa * x), mpmath.sinh(kappa * x)
        return c * u + s / (p * kappa) * v, p * kappa * s * u + c * v
    return u + x / p * v, v


def _decay(layers, k0, beta, j):
    return mpmath.sqrt(beta**2 - (mpmath.mpf(layers[j][0]) * k0) ** 2)


def _starts(layers, k0, beta, te):
    """(psi, p psi') at the start of every layer after the first, for
    psi = exp(kappa0 x) in layer 0 (psi = 1 at the interface 0|1)."""
    u, v = mpmath.mpf(1), p_of(layers[0][0], te) * _decay(layers, k0, beta, 0)
    out = [(u, v)]
    for p, q, d in _inner_layers(layers, k0, beta, te):
        u, v = _carry(p, q, u, v, d)
        out.append((u, v))
    return out


def stack_relation(layers, k0, beta, te, m=None):
    """v + p kappa u at the last interface: zero exactly when the solution that
    decays into layer 0 also decays into the last layer."""
    u, v = _starts(layers, k0, beta, te)[-1]
    return v + p_of(layers[-1][0], te) * _decay(layers, k0, beta, len(layers) - 1) * u


def stack_roots(layers, omega, te, found, width=1e-13):
    """The roots of the stack relation: a sign change within `width` (relative)
    of each effective index found, refined, and no sign change anywhere else on
    a fine grid over the guided range (a missing mode would show up there)."""
    k0 = mpmath.mpf(omega)
    lo = max(layers[0][0], layers[-1][0]) * k0
    hi = max(n for n, _ in layers) * k0
    f = lambda beta: stack_relation(layers, k0, mpmath.mpf(beta), te)  # noqa: E731
    edges = [(beta * (1 - width), beta * (1 + width)) for beta in (n * omega for n in found)]
    grid = [lo + (hi - lo) * mpmath.mpf(j) / 400 for j in range(1, 400)]
    points = sorted(set(grid + [mpmath.mpf(e) for pair in edges for e in pair]))
    signs = [mpmath.sign(f(b)) for b in points]
    changes = [(points[j], points[j + 1]) for j in range(len(points) - 1) if signs[j] != signs[j + 1]]
    assert len(changes) == len(found), "a mode is missing or spurious"
    return [mpmath.findroot(f, bracket, solver="anderson") for bracket in reversed(changes)]


def _root(relation, layers, k0, guess, te, m):
    guess = mpmath.mpf(guess)
    beta = mpmath.findroot(lambda b: relation(layers, k0, b, te, m), (guess, guess * (1 + mpmath.mpf("1e-14"))),
                           solver="secant", verify=False)
    assert abs(beta / guess - 1) < mpmath.mpf("1e-9"), "the reference root wandered off to another mode"
    return beta


def mode_derivatives(layers, omega, beta, te, m):
    """(beta, d beta/d k0, d^2 beta/d k0^2) of the mode through (omega, beta), at
    DIGITS digits; `beta` only seeds the root. Three-layer stacks use the
    closed-form relation of mode m, others the stack relation."""
    with mpmath.workdps(DIGITS):
        relation = slab_relation if len(layers) == 3 else stack_relation
        k0 = mpmath.mpf(omega)
        h = k0 * mpmath.mpf("1e-15")
        b0 = _root(relation, layers, k0, beta, te, m)
        slope = b0 / k0
        plus = _root(relation, layers, k0 + h, b0 + slope * h, te, m)
        minus = _root(relation, layers, k0 - h, b0 - slope * h, te, m)
        return b0, (plus - minus) / (2 * h), (plus - 2 * b0 + minus) / h**2


# ---- the field of a mode ------------------------------------------------------

def mode_root(layers, omega, te, neff):
    f = lambda beta: stack_relation(layers, mpmath.mpf(omega), beta, te)  # noqa: E731
    return mpmath.findroot(f, mpmath.mpf(neff) * omega, solver="secant", tol=mpmath.mpf(10) ** -70)


def layer_functions(layers, omega, te, beta):
    """psi in each layer as a function of the distance from the layer's start
    (layer 0: of x <= 0), with psi(0) = 1 at the interface 0|1."""
    k0 = mpmath.mpf(omega)
    starts = _starts(layers, k0, beta, te)
    kappa0, kappa = _decay(layers, k0, beta, 0), _decay(layers, k0, beta, len(layers) - 1)
    funcs = [lambda x: mpmath.exp(kappa0 * x)]
    for (p, q, _), (u, v) in zip(_inner_layers(layers, k0, beta, te), starts):
        funcs.append(lambda x, p=p, q=q, u=u, v=v: _carry(p, q, u, v, x)[0])
    funcs.append(lambda x, u=starts[-1][0]: u * mpmath.exp(-kappa * x))
    return funcs


def layer_power(layers, te, funcs, j):
    """Power in layer j up to a common factor: the quadrature of psi^2 p (TE: E_y^2,
    TM: H_y^2 / n^2), the half-spaces out to infinity."""
    if j == 0:
        span = [-mpmath.inf, 0]
    elif j == len(layers) - 1:
        span = [0, mpmath.inf]
    else:
        span = mpmath.linspace(0, mpmath.mpf(layers[j][1]), 5)
    return p_of(layers[j][0], te) * mpmath.quad(lambda x: funcs[j](x) ** 2, span)


def power_fractions(layers, omega, te, neff, dps=40):
    with mpmath.workdps(dps):
        funcs = layer_functions(layers, omega, te, mode_root(layers, omega, te, neff))
        powers = [layer_power(layers, te, funcs, j) for j in range(len(layers))]
        total = sum(powers)
        return [float(q / total) for q in powers]


def sampled(layers, omega, te, neff, xs, dps=40):
    """psi at the positions xs (origin at the interface 0|1)."""
    with mpmath.workdps(dps):
        funcs = layer_functions(layers, omega, te, mode_root(layers, omega, te, neff))
        starts = [0.0]
        for _, d in layers[1:-1]:
            starts.append(starts[-1] + d)
        out = []
        for x in xs:
            j = 0 if x < 0 else min(sum(1 for s in starts if x >= s), len(layers) - 1)
            out.append(complex(funcs[j](mpmath.mpf(x) - (starts[j - 1] if j > 0 else 0))))
        return out
