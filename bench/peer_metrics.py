"""Verification and identification measures for the peer comparison.

Scores here are distances: a pair is judged "same person" when its distance is
at most the threshold. Plain Python, so the measures can be checked without
OpenCV or numpy.
"""
import math


def _rates(genuine, impostor, threshold):
    """(false accept rate, false reject rate) when distances <= threshold are accepted."""
    far = sum(1 for d in impostor if d <= threshold) / len(impostor)
    frr = sum(1 for d in genuine if d > threshold) / len(genuine)
    return far, frr


def accuracy(genuine, impostor, threshold):
    """Share of pairs judged correctly at this threshold."""
    right = sum(1 for d in genuine if d <= threshold) + sum(1 for d in impostor if d > threshold)
    return right / (len(genuine) + len(impostor))


def best_threshold(genuine, impostor):
    """The threshold with the highest accuracy on these pairs.

    Candidates lie halfway between neighbouring distinct distances, plus one
    below all and one above all; among equally accurate ones the smallest wins,
    so the choice does not depend on the order of the pairs.
    """
    values = sorted(set(genuine) | set(impostor))
    if not values:
        raise ValueError("no scores")
    candidates = [values[0] - 1.0]
    candidates += [(a + b) / 2.0 for a, b in zip(values, values[1:])]
    candidates.append(values[-1] + 1.0)
    best, best_acc = None, -1.0
    for t in candidates:
        acc = accuracy(genuine, impostor, t)
        if acc > best_acc:
            best, best_acc = t, acc
    return best


def equal_error_rate(genuine, impostor):
    """Where the false accept and false reject rates meet.

    The rates are taken at every distinct distance (accepting distances <= it)
    and below all of them; between the last point with FAR < FRR and the first
    with FAR >= FRR the ROC is taken as a straight line.
    """
    if not genuine or not impostor:
        raise ValueError("both genuine and impostor scores are needed")
    points = [(0.0, 1.0)]
    for t in sorted(set(genuine) | set(impostor)):
        points.append(_rates(genuine, impostor, t))
    for (far0, frr0), (far1, frr1) in zip(points, points[1:]):
        if far1 >= frr1:
            gap0 = frr0 - far0  # > 0
            gap1 = frr1 - far1  # <= 0
            a = gap0 / (gap0 - gap1)
            return far0 + a * (far1 - far0)
    return 0.0  # unreachable: the last point accepts everything (FAR 1, FRR 0)


def fold_accuracies(folds):
    """LFW protocol: fold k is judged at the threshold that is best on the other folds.

    folds: list of (genuine distances, impostor distances), one per fold.
    Returns a list of (threshold, accuracy) per fold.
    """
    results = []
    for k, (genuine, impostor) in enumerate(folds):
        other_g = [d for j, f in enumerate(folds) if j != k for d in f[0]]
        other_i = [d for j, f in enumerate(folds) if j != k for d in f[1]]
        t = best_threshold(other_g, other_i)
        results.append((t, accuracy(genuine, impostor, t)))
    return results


def mean_and_standard_error(values):
    """Mean and its standard error, sample standard deviation / sqrt(n), as LFW reports it."""
    n = len(values)
    if n == 0:
        raise ValueError("no values")
    mean = sum(values) / n
    if n == 1:
        return mean, 0.0
    var = sum((v - mean) ** 2 for v in values) / (n - 1)
    return mean, math.sqrt(var) / math.sqrt(n)


def rank1(predicted, truth):
    """Share of probes whose best match is their own identity."""
    if len(predicted) != len(truth) or not truth:
        raise ValueError("one prediction per probe is needed")
    return sum(1 for p, t in zip(predicted, truth) if p == t) / len(truth)
