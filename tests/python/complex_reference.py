"""An independent high-precision solver for complex stacks, written from the
physics with mpmath: the transfer of (psi, p dpsi/dX) through the films with
complex cos/sin, the decay into the first half-space as the start and the
decay (or outgoing radiation) into the last as the condition; roots by
Muller's method and zero counts by the argument principle on densely sampled
rectangle edges."""

import mpmath as mp

mp.mp.dps = 40


def relation(layers, k0, neff, te, radiating=(False, False)):
    neff = mp.mpc(neff)
    eps = [mp.mpc(n) ** 2 for n, _ in layers]
    p = [mp.mpf(1) if te else 1 / e for e in eps]

    def gamma(e, rad):
        return -1j * mp.sqrt(e - neff**2) if rad else mp.sqrt(neff**2 - e)

    u, v = mp.mpc(1), p[0] * gamma(eps[0], radiating[0])
    for j in range(1, len(layers) - 1):
        q = mp.sqrt(eps[j] - neff**2)
        t = q * k0 * mp.mpf(layers[j][1])
        c, s = mp.cos(t), mp.sin(t)
        u, v = c * u + s / (p[j] * q) * v, -p[j] * q * s * u + c * v
    return v + p[-1] * gamma(eps[-1], radiating[1]) * u


def root(layers, k0, guess, te, radiating=(False, False)):
    f = lambda z: relation(layers, k0, z, te, radiating)
    return complex(mp.findroot(f, (mp.mpc(guess), mp.mpc(guess) * (1 + 1e-7), mp.mpc(guess) * (1 - 1e-7j)), solver="muller"))


def count(layers, k0, window, te, radiating=(False, False), per_edge=1500):
    re0, re1, im0, im1 = window
    corners = [mp.mpc(re0, im0), mp.mpc(re1, im0), mp.mpc(re1, im1), mp.mpc(re0, im1)]
    total, previous = mp.mpf(0), None
    for a, b in zip(corners, corners[1:] + corners[:1]):
        for k in range(per_edge):
            z = a + (b - a) * mp.mpf(k) / per_edge
            arg = mp.arg(relation(layers, k0, z, te, radiating))
            if previous is not None:
                step = arg - previous
                step -= 2 * mp.pi * mp.nint(step / (2 * mp.pi))
                assert abs(step) < 1.0, "edge sampled too coarsely"
                total += step
            previous = arg
    step = mp.arg(relation(layers, k0, corners[0], te, radiating)) - previous
    total += step - 2 * mp.pi * mp.nint(step / (2 * mp.pi))
    return int(mp.nint(total / (2 * mp.pi)))
