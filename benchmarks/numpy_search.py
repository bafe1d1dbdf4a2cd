"""The effective-index search of tavrik written with NumPy: what a Python user
would write to get the same answer.

The search scans the propagation constant beta over
(n_min omega + 1e-9, n_max omega - 1e-9) with step 0.01, keeps every local
maximum of the transfer characteristic value v(beta) = -log10|T22(beta)| that
reaches the pass's height, and refines each maximum in a window of +-step
sampled ten times finer, down to a step of 1e-9. Each window's samples are
evaluated as arrays: one array per transfer-matrix entry, walked through the
stack layer by layer.

The arithmetic follows tavrik's operation by operation where it decides the
result, so that the effective indices agree to the last digits:
  * kx = sqrt((n omega)^2 - beta^2 + 0i), the principal root (an evanescent
    layer has kx = +i kappa);
  * complex products and sums are NumPy's (the plain formulas);
  * quotients use the plain formula ((a.re b.re + a.im b.im)/m, ...) with
    m = b.re^2 + b.im^2 and no scaling (NumPy's own complex division scales,
    which changes the last bits);
  * v = log10(hypot(re/q, 0 - im/q)) with q = |T22|^2.
The diagonal propagation matrix is applied as a row scaling, as a NumPy user
writes it; this only differs from a full 2x2 product where an entry overflows.

Only the search is reproduced. tavrik also certifies the number of guided
modes by an oscillation count and completes a list that the search alone
misses; on a stack where the search misses a mode this module returns fewer
modes than tavrik.
"""

from __future__ import annotations

import math

import numpy as np

__all__ = ["mode_list", "neff", "characteristic", "find_peaks"]

TE, TM = 0, 1


def _pass_step(i: int) -> float:
    # 10^i is exact in a double up to i = 22, so this is the double nearest 10^-i.
    return 1.0 / float(10**i)


def _pass_threshold(i: int) -> float:
    if i < 3:
        return -2.0
    if i < 6:
        return 0.0
    if i < 9:
        return 3.0
    if i < 12:
        return 6.0
    return 9.0


def _plain_quotients(numerators, divisor):
    """Each numerator / divisor by the plain complex formula, the squared
    modulus of the divisor formed once."""
    br, bi = divisor.real, divisor.imag
    m = br * br + bi * bi
    out = []
    for a in numerators:
        ar, ai = a.real, a.imag
        q = np.empty(np.shape(a), dtype=np.complex128)
        q.real = (ar * br + ai * bi) / m
        q.imag = (ai * br - ar * bi) / m
        out.append(q)
    return out


def _interface(n_a, n_b, k_a, k_b, polarization):
    """(same, cross): the diagonal and off-diagonal entries of the interface
    matrix from index n_a into n_b."""
    if polarization == TE:
        return _plain_quotients(((k_a + k_b) * 0.5, (k_b - k_a) * 0.5), k_b)
    w = complex(n_b * n_b) * k_a
    u = complex(n_a * n_a) * k_b
    return _plain_quotients(((w + u) * 0.5, (w - u) * 0.5), w)


def _kx(n, omega, beta):
    k0n = n * omega
    return np.sqrt((k0n * k0n - beta * beta).astype(np.complex128))


def characteristic(layers, omega, beta, polarization=TE):
    """v(beta) = log10|1/T22| for an array of beta; layers is a list of (n, d)."""
    n0 = layers[0][0]
    n1 = layers[1][0]
    k_here = _kx(n1, omega, beta)
    same, cross = _interface(n0, n1, _kx(n0, omega, beta), k_here, polarization)
    t11, t12, t21, t22 = same, cross, cross, same
    for j in range(1, len(layers) - 1):
        n, d = layers[j]
        n_next = layers[j + 1][0]
        k_next = _kx(n_next, omega, beta)
        ikd = 1j * k_here * d
        forward = np.exp(ikd)
        backward = np.exp(-ikd)
        p11, p12 = forward * t11, forward * t12
        p21, p22 = backward * t21, backward * t22
        same, cross = _interface(n, n_next, k_here, k_next, polarization)
        t11, t12 = same * p11 + cross * p21, same * p12 + cross * p22
        t21, t22 = cross * p11 + same * p21, cross * p12 + same * p22
        k_here = k_next
    re, im = t22.real, t22.imag
    q = re * re + im * im
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.log10(np.hypot(re / q, 0.0 - im / q))


def find_peaks(y, min_height):
    """Local maxima of y as half-open index ranges [start, end), ordered by
    descending height (ties left to right).

    A peak is a sample, or a run of equal samples, whose right neighbour is
    strictly lower, whose left neighbour is strictly lower, and whose value is
    at least min_height. A run entered from a higher sample (or from a NaN)
    loses its first sample, which is then the lower left neighbour of the
    rest; the first and the last sample are never part of a peak; NaN fails
    every comparison.
    """
    n = y.size
    if n < 3:
        return []
    with np.errstate(invalid="ignore"):
        return _find_peaks(y, n, min_height)


def _find_peaks(y, n, min_height):
    step = np.diff(y)
    # Runs of equal samples: a new run starts wherever a step is not exactly zero
    # (NaN steps included).
    breaks = np.flatnonzero(step != 0.0) + 1
    starts = np.concatenate(([0], breaks))
    ends = np.concatenate((breaks, [n]))  # exclusive
    last = ends - 1
    # The right neighbour must be strictly lower (and exist).
    inner = last <= n - 2
    starts, last, ends = starts[inner], last[inner], ends[inner]
    right_drop = y[last] - y[last + 1]
    keep = right_drop > 0.0
    starts, last, ends = starts[keep], last[keep], ends[keep]
    # Left side: a run from index 0 starts at 1; a run entered from a lower
    # sample keeps its start; a run entered from a higher sample or a NaN keeps
    # all but its first sample (and vanishes if that was its only one).
    rise = np.where(starts > 0, y[starts] - y[np.maximum(starts - 1, 0)], np.inf)
    first = np.where(starts == 0, 1, np.where(rise > 0.0, starts, starts + 1))
    keep = first <= last
    first, ends = first[keep], ends[keep]
    height = y[first]
    keep = height >= min_height
    first, ends, height = first[keep], ends[keep], height[keep]
    order = np.argsort(-height, kind="stable")
    return [(int(first[k]), int(ends[k])) for k in order]


def _arange_count(lo, hi, step):
    m = math.ceil((hi - lo) / step) if math.isfinite((hi - lo) / step) else None
    if m is None or not (-1 < m < 2**32):
        raise ValueError("sample count out of range")
    return max(m, 0)


def search_betas(layers, omega, polarization=TE, scan_limit=10):
    """The propagation constants that the last pass finds, in found order."""
    ns = [n for n, _ in layers]
    n_min = n_max = ns[0]
    for n in ns[1:]:
        if n < n_min:
            n_min = n
        if n > n_max:
            n_max = n
    windows = [(n_min * omega + 1e-9, n_max * omega - 1e-9)]
    found = []
    for i in range(2, scan_limit):
        step = _pass_step(i)
        height = _pass_threshold(i)
        found = []
        for lo, hi in windows:
            count = _arange_count(lo, hi, step)
            if count == 0:
                continue
            beta = np.arange(count, dtype=np.float64) * step + lo
            y = characteristic(layers, omega, beta, polarization)
            for start, end in find_peaks(y, height):
                found.append(float(beta[(start + end) // 2]))
        windows = [(b - step, b + step) for b in found]
    return found


def mode_list(layers, omega, polarization=TE):
    """Effective indices of the modes the search finds, in descending order."""
    return sorted((b / omega for b in search_betas(layers, omega, polarization)), reverse=True)


def neff(layers, omega, polarization=TE, mode=0):
    modes = mode_list(layers, omega, polarization)
    if mode < len(modes):
        return modes[mode]
    raise Exception(f"Mode {mode} not found. Only {len(modes)} modes available.")
