#!/usr/bin/python3
"""Checks of the peer comparison: its measures on hand-computed score lists, and its use of
OpenCV's recognisers (these skip when python3-opencv is absent)."""
import os
import random
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peer_metrics as pm  # noqa: E402

try:
    import numpy as np
    import cv2
    cv2.face
    HAVE_OPENCV = True
except (ImportError, AttributeError):
    HAVE_OPENCV = False


class EqualErrorRate(unittest.TestCase):
    def test_hand_computed_lists(self):
        # FRR stays 1/3 while FAR climbs from 0 to 1/2 between distances 2 and 3: they meet at 1/3.
        self.assertAlmostEqual(pm.equal_error_rate([1, 2, 5], [3, 4]), 1 / 3, places=12)
        # A tie at 2 moves (FAR, FRR) from (0, 2/3) to (1/2, 0) in one step: the line meets at 2/7.
        self.assertAlmostEqual(pm.equal_error_rate([1, 2, 2], [2, 3]), 2 / 7, places=12)
        self.assertEqual(pm.equal_error_rate([1, 2], [3, 4]), 0.0)   # apart
        self.assertEqual(pm.equal_error_rate([3, 4], [1, 2]), 1.0)   # the wrong way round
        self.assertAlmostEqual(pm.equal_error_rate([1, 4], [2, 3]), 0.5, places=12)

    def test_order_and_scale_do_not_matter(self):
        rng = random.Random(3)
        genuine = [rng.gauss(0, 1) for _ in range(50)]
        impostor = [rng.gauss(1.5, 1) for _ in range(70)]
        eer = pm.equal_error_rate(genuine, impostor)
        self.assertGreater(eer, 0.1)
        self.assertLess(eer, 0.4)
        self.assertAlmostEqual(pm.equal_error_rate(genuine[::-1], sorted(impostor)), eer, places=12)
        self.assertAlmostEqual(pm.equal_error_rate([3 * g + 7 for g in genuine], [3 * i + 7 for i in impostor]),
                               eer, places=12)

    def test_refuses_empty_lists(self):
        with self.assertRaises(ValueError):
            pm.equal_error_rate([], [1.0])


class Thresholds(unittest.TestCase):
    def test_best_threshold_is_the_midpoint_of_highest_accuracy(self):
        # Accuracies at 0, 1.5, 2.5, 3.5, 4.5, 6: 2/5, 3/5, 4/5, 3/5, 2/5, 3/5.
        self.assertEqual(pm.best_threshold([1, 2, 5], [3, 4]), 2.5)
        self.assertAlmostEqual(pm.accuracy([1, 2, 5], [3, 4], 2.5), 0.8)
        # 1.5 and 3.5 both reach 3/4: the smaller one, whatever the order of the pairs.
        self.assertEqual(pm.best_threshold([1, 3], [2, 4]), 1.5)
        self.assertEqual(pm.best_threshold([3, 1], [4, 2]), 1.5)
        # Everything accepted or everything rejected can be best.
        self.assertGreater(pm.best_threshold([1, 2, 3], []), 3)
        self.assertLess(pm.best_threshold([], [1, 2, 3]), 1)

    def test_each_fold_is_judged_at_the_threshold_of_the_others(self):
        folds = [([1, 2], [5, 6]), ([2, 3], [6, 7]), ([4, 8], [3, 9])]
        # Fold 1 alone would be perfect at 3.5; folds 2 + 3 choose 5, where impostor 5 is accepted.
        # Folds 1 + 3 tie at 2.5 and 4.5 (6/8 each) and take 2.5; folds 1 + 2 are apart at 4.
        result = pm.fold_accuracies(folds)
        self.assertEqual([t for t, _ in result], [5.0, 2.5, 4.0])
        self.assertEqual([a for _, a in result], [0.75, 0.75, 0.5])
        mean, se = pm.mean_and_standard_error([a for _, a in result])
        self.assertAlmostEqual(mean, 2 / 3, places=12)
        self.assertAlmostEqual(se, 1 / 12, places=12)   # sample sd sqrt(3)/12, over sqrt(3)

    def test_rank1(self):
        self.assertEqual(pm.rank1([1, 2, 3, 3], [1, 2, 3, 4]), 0.75)
        with self.assertRaises(ValueError):
            pm.rank1([1], [1, 2])


@unittest.skipUnless(HAVE_OPENCV, "python3-opencv with the face module is not installed")
class OpenCvUse(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import peer_comparison
        cls.pc = peer_comparison
        rng = np.random.default_rng(5)
        # Ten "people" of 24 x 20 faces: a fixed pattern each plus noise.
        base = rng.integers(40, 200, size=(10, 24, 20))
        cls.faces = np.clip(np.repeat(base, 4, axis=0) + rng.normal(0, 25, size=(40, 24, 20)), 0, 255).astype(np.uint8)
        cls.labels = np.repeat(np.arange(10), 4)

    def test_eyes_land_where_the_tutorial_puts_them(self):
        for eyes in ([30, 40, 60, 40], [103, 112, 150, 120], [50, 80, 70, 60]):
            m = self.pc.aligned_transform(eyes)
            left = m @ np.array([eyes[0], eyes[1], 1.0])
            right = m @ np.array([eyes[2], eyes[3], 1.0])
            np.testing.assert_allclose(left, [14, 14], atol=1e-9)
            np.testing.assert_allclose(right, [56, 14], atol=1e-9)
            # A similarity: the two columns are orthogonal and of equal length.
            self.assertAlmostEqual(float(m[:, 0] @ m[:, 1]), 0.0, places=12)
            self.assertAlmostEqual(float(m[:, 0] @ m[:, 0]), float(m[:, 1] @ m[:, 1]), places=12)

    def test_warped_eye_marks_land_on_the_crop_eyes(self):
        image = np.zeros((200, 200), np.uint8)
        eyes = [70, 90, 120, 80]
        cv2.circle(image, (70, 90), 3, 255, -1)
        cv2.circle(image, (120, 80), 3, 255, -1)
        crop = self.pc.aligned_crop(image, eyes)
        self.assertEqual(crop.shape, (70, 70))
        ys, xs = np.nonzero(crop > 128)
        left = xs < 35
        self.assertAlmostEqual(xs[left].mean(), 14, delta=0.6)
        self.assertAlmostEqual(ys[left].mean(), 14, delta=0.6)
        self.assertAlmostEqual(xs[~left].mean(), 56, delta=0.6)
        self.assertAlmostEqual(ys[~left].mean(), 14, delta=0.6)

    def test_subspace_distances_are_the_ones_predict_uses(self):
        # predict answers the nearest training face and its distance; our projection of the same
        # faces must find the same distance, else the mean or the eigenvectors are misread.
        for kind in ("Eigen", "Fisher"):
            model = self.pc.train(kind, self.faces[::2], self.labels[::2])
            space = self.pc.Subspace(model)
            gallery = space.features(self.faces[::2])
            for probe in self.faces[1::2][:6]:
                label, distance = model.predict(probe)
                mine = [space.distance(space.features(probe[np.newaxis]), g) for g in gallery]
                self.assertAlmostEqual(min(mine), distance, delta=1e-6 * max(1.0, distance), msg=kind)
                self.assertEqual(self.labels[::2][int(np.argmin(mine))], label, msg=kind)

    def test_histogram_distances_are_the_ones_predict_uses(self):
        model = self.pc.train("LBPH", self.faces[::2], self.labels[::2])
        gallery = self.pc.Histograms.features(self.faces[::2])
        probes = self.pc.Histograms.features(self.faces[1::2][:6])
        for probe_face, probe in zip(self.faces[1::2][:6], probes):
            label, distance = model.predict(probe_face)
            mine = [self.pc.Histograms.distance(probe, g) for g in gallery]
            self.assertAlmostEqual(min(mine), distance, delta=1e-6 * max(1.0, distance))
        self.assertEqual(self.pc.Histograms.distance(probes[0], probes[0]), 0.0)

    def test_training_leaves_out_the_fold_and_fisher_singletons(self):
        people = {"a": ["a1"], "b": ["b1", "b2"], "c": ["c1", "c2", "c3"], "d": ["d1", "d2"]}
        images, labels = self.pc.training_set("Eigen", people, {"d"}, 0, 0)
        self.assertEqual(images, ["a1", "b1", "b2", "c1", "c2", "c3"])
        self.assertEqual(labels, [0, 1, 1, 2, 2, 2])
        images, _ = self.pc.training_set("Fisher", people, {"d"}, 0, 0)
        self.assertEqual(images, ["b1", "b2", "c1", "c2", "c3"])
        for seed in range(6):  # a cap keeps whole people and never exceeds the cap
            images, labels = self.pc.training_set("Fisher", people, set(), 4, seed)
            self.assertLessEqual(len(images), 4)
            self.assertGreater(len(images), 0)
            for name in {i[0] for i in images}:
                self.assertEqual([i for i in images if i[0] == name], people[name])

    def test_parallel_runs_answer_in_the_order_given(self):
        # The later commands finish first; results and callbacks must still follow the given order,
        # or eyes and crops would be paired with the wrong photos.
        commands = [["sh", "-c", "sleep %s; echo '{\"n\": %d}'" % (0.3 - 0.1 * n, n)] for n in range(3)]
        seen = []
        docs = self.pc.run_velmora_jsons(commands, 3, done=lambda i, doc: seen.append((i, doc["n"])))
        self.assertEqual([d["n"] for d in docs], [0, 1, 2])
        self.assertEqual(seen, [(0, 0), (1, 1), (2, 2)])
        with self.assertRaises(RuntimeError) as failure:
            self.pc.run_velmora_jsons([["sh", "-c", "echo broken >&2; exit 3"]], 2)
        self.assertIn("broken", str(failure.exception))

    def test_velmora_scores_become_distances(self):
        import tempfile
        with tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False) as f:
            f.write("fold,pair,same,score,name_a,image_a,name_b,image_b\n"
                    "1,1,1,0.900000000,A,1,A,2\n1,2,0,0.200000000,A,1,B,1\n"
                    "2,1,1,0.700000000,C,1,C,3\n2,2,0,0.400000000,C,1,D,1\n")
        try:
            folds = self.pc.read_velmora_pair_scores(f.name, folds_n=2)
        finally:
            os.remove(f.name)
        self.assertEqual(folds, [([-0.9], [-0.2]), ([-0.7], [-0.4])])
        # A higher score means more alike, so the genuine pairs must come out as the nearer ones.
        self.assertEqual(pm.equal_error_rate(folds[0][0] + folds[1][0], folds[0][1] + folds[1][1]), 0.0)


if __name__ == "__main__":
    unittest.main()
